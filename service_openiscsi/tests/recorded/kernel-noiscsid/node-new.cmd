command: iscsiadm -m node -o new -T iqn.2024-01.test.rec:plain -p 127.0.0.1:3260
exit: 0
seconds: 1.43
