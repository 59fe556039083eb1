command: iscsiadm -m node -o new -T iqn.2024-01.test.rec:made -p 127.0.0.1:3260
exit: 0
seconds: 0.28
