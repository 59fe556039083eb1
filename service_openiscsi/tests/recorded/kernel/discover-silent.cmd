command: iscsiadm -m discoverydb -t st -p 127.0.0.1:3270 --discover -o new
exit: 19
seconds: 30.29
