command: iscsiadm -m discoverydb -t st -p 127.0.0.1:3260 -o update -n discovery.sendtargets.auth.password -v wrongsecret1
exit: 0
seconds: 0.18
