command: iscsiadm -m discoverydb -t st -p 127.0.0.1:3999
exit: 6
seconds: 0.28
