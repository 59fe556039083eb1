command: iscsiadm -m node -T iqn.2024-01.test.rec:chap -p 127.0.0.1:3260 -o update -n node.session.auth.password -v wrongsecret1
exit: 0
seconds: 0.39
