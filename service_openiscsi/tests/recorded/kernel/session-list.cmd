command: iscsiadm -m session
exit: 0
seconds: 0.18
