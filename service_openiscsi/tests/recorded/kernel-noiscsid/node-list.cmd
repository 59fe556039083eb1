command: iscsiadm -m node
exit: 0
seconds: 0.23
