command: iscsiadm -m session -P 1
exit: 21
seconds: 0.00
