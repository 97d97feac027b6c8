#!/bin/busybox sh
# /init of the diskless test station (tools/build-station-guest.sh packs it).
#
# Runs navo-board once per line of /station/cases, "NAME ADDRESS ARGS...":
# ADDRESS is the PCI function (0000:00:10.0) that must be /dev/mei0 for the
# case, or "-" for a case that runs before mei.ko and mei-me.ko are loaded.
# The machine may hold several emulated MEs; only the wanted one stays bound to
# mei_me, so its minor is the lowest free one and its node /dev/mei0.
#
# Everything the test reads is framed by lines that start with "@@":
#   @@up SECONDS              guest uptime when /init started
#   @@bound ADDRESS VENDOR DEVICE   what mei_me took when it was loaded
#   @@case NAME / @@mei0 ADDRESS STATE / @@stdout / @@stderr / @@status N
#   @@record (after @@stderr, for a case with --record FILE: FILE's bytes
#            in hex, as od prints them; the record's CR LF would not survive
#            the console)
#   @@dmesg (the kernel's mei lines follow) / @@end SECONDS
/bin/busybox --install -s /bin
export PATH=/bin
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
# Kernel messages would cut into the framed lines; they are printed at the end.
dmesg -n 1

DRIVER=/sys/bus/pci/drivers/mei_me
MEI0=/sys/class/mei/mei0

say() { echo "@@$*"; }
say "up $(cut -d' ' -f1 /proc/uptime)"

# Leaves only $1 bound to mei_me and waits (at most 10 s) until the driver has
# finished its start with the ME: the bus enumerated, the device ENABLED.
use_device() {
  for d in "$DRIVER"/0000:*; do
    [ -e "$d" ] && echo "${d##*/}" >"$DRIVER/unbind"
  done
  echo "$1" >"$DRIVER/bind" || return 1
  i=0
  while [ "$(cat "$MEI0/dev_state" 2>/dev/null)" != ENABLED ]; do
    i=$((i + 1))
    [ "$i" -gt 100 ] && return 1
    sleep 0.1
  done
}

run_case() { # NAME ADDRESS ARGS...
  name=$1 address=$2
  shift 2
  say "case $name"
  if [ "$address" != - ]; then
    use_device "$address"
    state=$(cat "$MEI0/dev_state" 2>/dev/null || echo none)
    node=$(readlink -f "$MEI0/device" 2>/dev/null || echo none)
    say "mei0 ${node##*/} $state"
  fi
  # A hung tool ends the case, not the boot.
  timeout 60 navo-board "$@" </dev/null >/tmp/out 2>/tmp/err
  status=$?
  say stdout
  awk 1 /tmp/out
  say stderr
  awk 1 /tmp/err
  record= prev=
  for a in "$@"; do
    [ "$prev" = --record ] && record=$a
    case $a in --record=*) record=${a#--record=} ;; esac
    prev=$a
  done
  if [ -n "$record" ] && [ -f "$record" ]; then
    say record
    od -An -v -tx1 "$record"
  fi
  say "status $status"
}

cases=/station/cases
[ -f "$cases" ] || { say "error no $cases"; cases=/dev/null; }

while read -r name address args; do
  # shellcheck disable=SC2086 # the arguments are words of the case line
  [ "$address" = - ] && run_case "$name" - $args
done <"$cases"

# The driver logs nothing when it binds. These debug lines show its start
# with each ME (reset, host start, enumeration, "initialization successful.")
# and every connect, without the lines of each interrupt.
insmod /lib/modules/mei.ko 'dyndbg="file init.c +p; file hbm.c +p; file main.c +p"' &&
  insmod /lib/modules/mei-me.ko 'dyndbg="file pci-me.c +p"'
say "insmod $?"
for d in "$DRIVER"/0000:*; do
  [ -e "$d" ] && say "bound ${d##*/} $(cat "$d/vendor") $(cat "$d/device")"
done

while read -r name address args; do
  # shellcheck disable=SC2086
  [ "$address" != - ] && run_case "$name" "$address" $args
done <"$cases"

say dmesg
dmesg | grep -i mei
say "end $(cut -d' ' -f1 /proc/uptime)"
sync
poweroff -f
