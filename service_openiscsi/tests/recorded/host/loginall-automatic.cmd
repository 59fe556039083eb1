command: iscsiadm -m node --loginall=automatic
exit: 21
seconds: 0.01
