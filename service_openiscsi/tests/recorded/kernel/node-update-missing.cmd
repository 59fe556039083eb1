command: iscsiadm -m node -T iqn.2024-01.test.rec:none -p 127.0.0.1:3260 -o update -n node.startup -v automatic
exit: 21
seconds: 0.27
