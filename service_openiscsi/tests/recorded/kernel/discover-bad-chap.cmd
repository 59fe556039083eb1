command: iscsiadm -m discoverydb -t st -p 127.0.0.1:3260 --discover -o new
exit: 24
seconds: 0.26
