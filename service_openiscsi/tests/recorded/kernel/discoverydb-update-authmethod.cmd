command: iscsiadm -m discoverydb -t st -p 127.0.0.1:3260 -o update -n discovery.sendtargets.auth.authmethod -v CHAP
exit: 0
seconds: 0.34
