command: iscsiadm -m discoverydb -t st -p [::1]:3260 -o new
exit: 0
seconds: 0.24
