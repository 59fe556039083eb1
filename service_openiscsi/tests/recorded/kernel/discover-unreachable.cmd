command: iscsiadm -m discoverydb -t st -p 192.0.2.1:3260 --discover -o new
exit: 11
seconds: 5.19
