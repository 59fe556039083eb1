command: iscsiadm -m session -P 3
exit: 0
seconds: 0.11
