command: iscsiadm -m iface
exit: 0
seconds: 0.01
