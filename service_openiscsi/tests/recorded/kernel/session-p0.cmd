command: iscsiadm -m session -P 0
exit: 0
seconds: 0.40
