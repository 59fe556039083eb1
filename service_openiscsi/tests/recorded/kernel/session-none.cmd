command: iscsiadm -m session
exit: 21
seconds: 0.28
