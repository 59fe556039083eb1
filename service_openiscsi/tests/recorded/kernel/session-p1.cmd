command: iscsiadm -m session -P 1
exit: 0
seconds: 0.17
