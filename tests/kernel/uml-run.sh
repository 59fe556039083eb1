#!/bin/bash
# Boots a real Linux kernel (user-mode-linux, an ordinary host process) with
# the host's tree as its root, starts tgtd and iscsid inside, runs a payload
# script there and halts.  Nothing of the host changes: inside, /run is a
# tmpfs and /etc/iscsi is a private folder of the caller.  See README.md.
#
#   uml-run.sh --scratch DIR --payload FILE [options]
#     --scratch DIR     the run's folder on the host (created when missing);
#                       prepared modules, disks and run settings go there
#     --payload FILE    bash script run inside after set-up
#     --etc DIR         private /etc/iscsi (default DIR/etc-iscsi); made with
#                       iscsid.conf and initiatorname.iscsi when missing, kept
#                       as it is otherwise (a second boot over the same folder)
#     --results DIR     this boot's results (default DIR/results); emptied
#     --targets FILE    targets tgtd serves (format in README.md)
#     --word WORD       extra word on the kernel command line (repeatable),
#                       readable inside from /proc/cmdline
#     --initiator NAME  initiator name written into a new --etc folder
#     --deadline SEC    host-side bound of the whole boot (default 120)
#     --no-iscsid       do not start iscsid inside
#     --ipv6            load IPv6 and have tgtd listen on [::1]:3260 too
#
# UML_KERNEL names another kernel than /usr/bin/linux.
#
# Exit status: the payload's; 77 when something the run needs is missing
# (the caller reports itself skipped); 124 when the deadline ended the
# kernel; 125 when the set-up inside or the host check after it failed.
set -uo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

KERNEL="${UML_KERNEL:-/usr/bin/linux}"
UML_MODULES=/usr/lib/uml/modules
SKIP=77 TIMED_OUT=124 FAILED=125

scratch="" payload="" etc_dir="" results="" targets="" initiator="iqn.2024-01.test.kernel:initiator"
deadline=120 start_iscsid=1 ipv6=0
words=()
while [ $# -gt 0 ]; do
  case "$1" in
    --scratch) scratch="$2"; shift 2 ;;
    --payload) payload="$2"; shift 2 ;;
    --etc) etc_dir="$2"; shift 2 ;;
    --results) results="$2"; shift 2 ;;
    --targets) targets="$2"; shift 2 ;;
    --word) words+=("$2"); shift 2 ;;
    --initiator) initiator="$2"; shift 2 ;;
    --deadline) deadline="$2"; shift 2 ;;
    --no-iscsid) start_iscsid=0; shift ;;
    --ipv6) ipv6=1; shift ;;
    *) echo "uml-run: unknown argument $1" >&2; exit 2 ;;
  esac
done
[ -n "$scratch" ] && [ -n "$payload" ] || { echo "uml-run: --scratch and --payload are required" >&2; exit 2; }

skip() { echo "SKIP: $*"; exit "$SKIP"; }
fail() { echo "uml-run: $*" >&2; exit "$FAILED"; }

# --- What the run needs ------------------------------------------------------
[ -x "$KERNEL" ] || skip "no user-mode-linux kernel at $KERNEL (Debian package user-mode-linux)"
version=""
for dir in "$UML_MODULES"/*/; do
  [ -f "$dir/kernel/drivers/scsi/iscsi_tcp.ko" ] && version="$(basename "$dir")"
done
[ -n "$version" ] || skip "no iscsi_tcp module under $UML_MODULES"
for tool in depmod modprobe iscsiadm iscsid tgtd tgtadm ip setsid timeout; do
  command -v "$tool" >/dev/null 2>&1 || [ -x "/usr/sbin/$tool" ] || [ -x "/sbin/$tool" ] ||
    skip "no $tool on this host"
done
# The private folder is bound over the host's /etc/iscsi, which must exist:
# making it would change the host.
[ -d /etc/iscsi ] || skip "no /etc/iscsi on this host to bind the private folder over"
[ -f "$payload" ] || fail "no payload $payload"

# Every path goes on the kernel command line or into the settings read by a
# shell inside: keep them to plain characters.
plain_path() { [[ "$1" =~ ^/[A-Za-z0-9._/+-]*$ ]]; }
mkdir -p "$scratch" || fail "cannot make $scratch"
scratch="$(cd "$scratch" && pwd)"
etc_dir="${etc_dir:-$scratch/etc-iscsi}"
results="${results:-$scratch/results}"
mkdir -p "$etc_dir" "$results" "$scratch/uml" || fail "cannot make the private folders"
etc_dir="$(cd "$etc_dir" && pwd)" results="$(cd "$results" && pwd)"
payload="$(cd "$(dirname "$payload")" && pwd)/$(basename "$payload")"
for path in "$scratch" "$etc_dir" "$results" "$payload" "$here"; do
  plain_path "$path" || fail "path with characters the kernel command line cannot carry: $path"
done
for word in "${words[@]}"; do
  [[ "$word" =~ ^[A-Za-z0-9_]+=[A-Za-z0-9._:/+-]*$ ]] || fail "kernel word must be NAME=VALUE: $word"
done
find "$results" -mindepth 1 -delete

# --- Modules: a depmod folder of our own --------------------------------------
# The package's folder stays untouched: depmod writes its indexes beside a
# link to the package's module tree.
modules="$scratch/modules"
if [ ! -f "$modules/lib/modules/$version/modules.dep.bin" ]; then
  mkdir -p "$modules/lib/modules/$version"
  ln -sfn "$UML_MODULES/$version/kernel" "$modules/lib/modules/$version/kernel"
  for file in modules.order modules.builtin modules.builtin.bin modules.builtin.modinfo \
              modules.builtin.alias.bin; do
    [ -f "$UML_MODULES/$version/$file" ] && cp "$UML_MODULES/$version/$file" "$modules/lib/modules/$version/"
  done
  depmod -b "$modules" "$version" || fail "depmod -b $modules failed"
fi

# --- The private /etc/iscsi ----------------------------------------------------
if [ ! -f "$etc_dir/iscsid.conf" ]; then
  if [ -r /etc/iscsi/iscsid.conf ]; then
    cp /etc/iscsi/iscsid.conf "$etc_dir/iscsid.conf"
  else
    printf 'node.startup = manual\n' > "$etc_dir/iscsid.conf"
  fi
fi
if [ ! -f "$etc_dir/initiatorname.iscsi" ]; then
  printf 'InitiatorName=%s\n' "$initiator" > "$etc_dir/initiatorname.iscsi"
  chmod 600 "$etc_dir/initiatorname.iscsi"
fi

# --- Disks of the targets ------------------------------------------------------
target_conf="$scratch/targets.conf"
: > "$target_conf"
if [ -n "$targets" ]; then
  mkdir -p "$scratch/disks"
  tid=0
  while read -r kind name size user secret rest; do
    case "$kind" in
      ''|'#'*) continue ;;
      target)
        [[ "$name" =~ ^[a-z0-9.:-]+$ && "$size" =~ ^[0-9]+$ ]] || fail "bad target line: $kind $name $size"
        tid=$((tid + 1))
        disk="$scratch/disks/t$tid.img"
        [ -f "$disk" ] || truncate -s "${size}M" "$disk"
        echo "target $tid $name $disk ${user:-} ${secret:-}" >> "$target_conf" ;;
      discovery-chap)
        # name and size are the user and the secret here
        echo "discovery-chap $name $size" >> "$target_conf" ;;
      *) fail "unknown targets line: $kind" ;;
    esac
  done < "$targets"
fi

# --- Settings read by the init script inside -------------------------------------
{
  printf 'RESULTS=%q\n' "$results"
  printf 'ETC_DIR=%q\n' "$etc_dir"
  printf 'MODULES=%q\n' "$modules"
  printf 'TARGETS=%q\n' "$target_conf"
  printf 'PAYLOAD=%q\n' "$payload"
  printf 'UML_LIB=%q\n' "$here/uml-lib.sh"
  printf 'START_ISCSID=%q\n' "$start_iscsid"
  printf 'IPV6=%q\n' "$ipv6"
  # The payload's own bound, inside: what is left after boot and set-up.
  printf 'PAYLOAD_TIMEOUT=%q\n' "$((deadline > 30 ? deadline - 15 : deadline / 2))"
} > "$scratch/run.conf"

# --- What must be the same after the run --------------------------------------
host_state() {
  find /etc/iscsi /var/lib/iscsi /run/lock/iscsi /run/iscsid.pid /run/mount "${HOME:-/}/.uml" \
       -printf '%p %y %s %T@\n' 2>/dev/null | sort
}
before="$(host_state)"

# --- Boot ----------------------------------------------------------------------
# setsid makes the kernel the leader of a process group of its own; its
# helper processes (one host process per process inside, and its I/O
# threads) stay in that group, so one signal to the group ends them all.
pgid=""
stop_group() {
  [ -n "$pgid" ] || return 0
  if kill -0 -- "-$pgid" 2>/dev/null; then
    kill -KILL -- "-$pgid" 2>/dev/null
  fi
  wait "$pgid" 2>/dev/null
  for _ in $(seq 50); do kill -0 -- "-$pgid" 2>/dev/null || break; sleep 0.1; done
  pgid=""
}
trap stop_group EXIT
trap 'stop_group; exit 130' INT TERM

start_ns=$(date +%s%N)
# uml_dir: the kernel's pid file and control socket go to the scratch
# folder, not to ~/.uml (left there when the kernel is killed).
setsid "$KERNEL" mem=384M rootfstype=hostfs rootflags=/ rw uml_dir="$scratch/uml" \
       init="$here/uml-init.sh" con=null con0=fd:0,fd:1 \
       uml_scratch="$scratch" "${words[@]}" \
       < /dev/null > "$results/console.log" 2>&1 &
pgid=$!
# A background child of this shell leads no group, so setsid makes the group
# without forking: the kernel's pid becomes the group's id.  Until the child
# has run setsid it is still in this shell's group: wait for that, briefly.
group=""
for _ in $(seq 100); do
  group="$(ps -o pgid= -p "$pgid" 2>/dev/null | tr -d ' ')"
  [ -z "$group" ] || [ "$group" = "$pgid" ] && break
  sleep 0.01
done
if [ -n "$group" ] && [ "$group" != "$pgid" ]; then
  kill -KILL "$pgid" 2>/dev/null
  pgid=""
  fail "the kernel did not get a process group of its own"
fi
limit_ns=$((start_ns + deadline * 1000000000))
outcome=halted
while kill -0 "$pgid" 2>/dev/null; do
  if [ "$(date +%s%N)" -ge "$limit_ns" ]; then
    outcome=timed-out
    break
  fi
  sleep 0.1
done
if [ "$outcome" = halted ]; then
  wait "$pgid" 2>/dev/null
  # Helpers that outlive the main process get a moment, then the signal.
  for _ in $(seq 20); do kill -0 -- "-$pgid" 2>/dev/null || break; sleep 0.1; done
fi
stop_group
end_ns=$(date +%s%N)
elapsed_ms=$(((end_ns - start_ns) / 1000000))
printf 'boot-to-halt-ms %d\noutcome %s\n' "$elapsed_ms" "$outcome" > "$results/host-times"

after="$(host_state)"
if [ "$before" != "$after" ]; then
  echo "uml-run: the host changed under /etc/iscsi, /var/lib/iscsi or /run:" >&2
  diff <(echo "$before") <(echo "$after") >&2
  exit "$FAILED"
fi

if [ "$outcome" = timed-out ]; then
  echo "uml-run: deadline of ${deadline}s reached; the kernel's process group was killed" >&2
  tail -n 30 "$results/console.log" >&2
  exit "$TIMED_OUT"
fi
if [ ! -f "$results/payload.rc" ]; then
  echo "uml-run: the payload did not run; set-up inside: $(cat "$results/setup.status" 2>/dev/null || echo none)" >&2
  tail -n 30 "$results/console.log" >&2
  exit "$FAILED"
fi
exit "$(cat "$results/payload.rc")"
