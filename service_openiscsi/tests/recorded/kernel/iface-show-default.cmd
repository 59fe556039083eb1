command: iscsiadm -m iface -I default
exit: 0
seconds: 0.28
