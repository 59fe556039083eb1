# Inside the kernel, for deadline-test.sh: stops the timeout that bounds this
# payload inside, so that only the host-side deadline can end the kernel.
kill -STOP "$PPID"
echo stopped > "$RESULTS/stopped"
sleep 1000
