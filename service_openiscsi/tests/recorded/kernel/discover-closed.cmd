command: iscsiadm -m discoverydb -t st -p 127.0.0.1:3999 --discover -o new
exit: 11
seconds: 5.23
