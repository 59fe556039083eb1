command: iscsiadm -m session -u
exit: 0
seconds: 0.20
