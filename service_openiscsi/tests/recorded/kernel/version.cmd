command: iscsiadm --version
exit: 0
seconds: 0.09
