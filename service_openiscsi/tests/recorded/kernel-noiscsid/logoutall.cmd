command: iscsiadm -m node --logoutall=all
exit: 0
seconds: 0.19
