command: iscsiadm -m node --loginall=automatic
exit: 0
seconds: 0.40
