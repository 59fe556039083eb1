command: iscsiadm -m discoverydb
exit: 0
seconds: 0.20
