command: iscsiadm -m node --logoutall=all
exit: 21
seconds: 0.24
