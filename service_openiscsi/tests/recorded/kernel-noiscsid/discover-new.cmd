command: iscsiadm -m discoverydb -t st -p 127.0.0.1:3260 --discover -o new
exit: 20
seconds: 1.31
