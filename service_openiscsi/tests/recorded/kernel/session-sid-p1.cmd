command: iscsiadm -m session -r 1 -P 1
exit: 0
seconds: 0.13
