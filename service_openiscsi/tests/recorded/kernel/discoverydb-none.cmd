command: iscsiadm -m discoverydb
exit: 21
seconds: 0.23
