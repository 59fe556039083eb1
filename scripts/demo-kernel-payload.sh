# Inside the kernel, for scripts/demo-kernel.sh: the main job over
# open-iscsi, then what the host has got from it.  Words: tl=, ov= (the
# tools), secret= (the secured target's).
source "$UML_LIB"
tl="$(kernel_word tl)"
ov="$(kernel_word ov)"
secret="$(kernel_word secret)"

echo "== ovelin -v: the host's own initiator answers (open-iscsi's version)"
"$ov" -v
echo
echo "== targetlogin 127.0.0.1 -t <secret>"
"$tl" 127.0.0.1 -t "$secret"
echo
echo "== targetlogin has ended; the kernel's sessions stay (iscsiadm -m session)"
iscsiadm -m session
echo
echo "== persistent logins, restored at each boot (node.startup of each node record)"
for target in iqn.2026-01.test.demo:plain iqn.2026-01.test.demo:secured; do
  echo "$target: $(iscsiadm -m node -T "$target" -p 127.0.0.1:3260 | sed -n 's/^node.startup = //p')"
done
echo
disks=()
for target in iqn.2026-01.test.demo:plain iqn.2026-01.test.demo:secured; do
  sid="$(session_of "$target")" && disk="$(session_disk "$sid" 10)" && disks+=("$disk")
done
echo "== the host's new disks (lsblk)"
lsblk -o NAME,SIZE,TYPE,TRAN "${disks[@]/#//dev/}"
echo
for disk in "${disks[@]}"; do
  wait_for_path "/dev/$disk" 5
  bytes="$(dd if="/dev/$disk" bs=1M count=4 iflag=direct 2> /dev/null | wc -c)"
  echo "/dev/$disk: $(cat "/sys/block/$disk/size") sectors of 512 bytes; read $bytes bytes"
done
