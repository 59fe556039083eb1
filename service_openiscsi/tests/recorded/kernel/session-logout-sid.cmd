command: iscsiadm -m session -r 3 -u
exit: 0
seconds: 0.14
