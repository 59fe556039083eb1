command: iscsiadm -m session -r 99
exit: 22
seconds: 0.15
