command: iscsiadm -m discoverydb -t st -p 127.0.0.1:3260 --discover
exit: 0
seconds: 0.34
