command: iscsiadm -m node
exit: 21
seconds: 0.00
