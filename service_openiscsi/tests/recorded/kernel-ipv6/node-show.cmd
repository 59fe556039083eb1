command: iscsiadm -m node -T iqn.2024-01.test.rec:plain -p [::1]:3260
exit: 0
seconds: 0.14
