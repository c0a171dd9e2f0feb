#!/bin/busybox sh
# /init of the end-to-end test's virtual machine (packed by scripts/e2e-vm.sh): loads the HID
# and USB modules, then runs each scenario in two stages: against devices made through uhid,
# then against USB gadgets on dummy_hcd, which the kernel's USB stack enumerates and usbhid
# binds (their names start with "usb:"). Everything the host reads starts with "E2E":
# "E2E PASS name", "E2E FAIL name: why", "E2E | detail", "E2E TIME figure", and at the end
# "E2E-DONE N passed, M failed".

/bin/busybox mkdir -p /proc /sys /dev /tmp /sbin /usr/bin /usr/sbin
/bin/busybox --install -s
mount -t proc proc /proc
mount -t sysfs sysfs /sys
mount -t devtmpfs devtmpfs /dev
mount -t tmpfs tmpfs /tmp
# Kernel messages would land between our lines on the console; the firmware's last words may
# still be on the first line.
echo 1 >/proc/sys/kernel/printk
echo

CLI=/bin/quarnel-fwupdate-cli
UHID=/bin/quarnel-uhid-device
HIDG=/bin/quarnel-hidg-device
DEVICE=$UHID  # the front end of the current stage
IMAGE=/firmware.bin
IMAGE_SIZE=$(wc -c <"$IMAGE")
DEFAULT_TIMEOUT=20
STACK=uhid  # the stack of the current stage, for the figures
CLI_TIMEOUT=$DEFAULT_TIMEOUT
FORMAL="Ver. 23.07.0110.0001  2014-01-20.[0]  (Formal Release)"
BETA="Ver. 23.07.0110.0001  2014-01-20.[0]  (BETA Release)"

passed=0
failed=0
devices=""  # "pid:name" of every device started by the current scenario

say() { echo "E2E $*"; }
detail() { sed 's/^/E2E | /' "$@"; }

finish() {
  echo "E2E-DONE $passed passed, $failed failed"
  sync
  poweroff -f
}

# In the order e2e-vm.sh wrote, each after the modules it needs. dummy_hcd makes one device
# controller wired to one host controller: one USB unit at a time.
while read -r m; do
  params=""
  [ "$m" = dummy_hcd ] && params="num=1"
  # shellcheck disable=SC2086
  if ! insmod "/lib/modules/$m.ko" $params 2>/tmp/insmod.err; then
    say "FAIL modules: cannot load $m.ko"
    detail /tmp/insmod.err
    failed=$((failed + 1))
    finish
  fi
done </lib/modules/order
mount -t configfs configfs /sys/kernel/config

# start_device NAME OPTION...: makes a device and waits until its hidraw node exists; the node
# goes to $node. NAME names its files: /tmp/NAME.err (its messages), /tmp/NAME.bin (its EEPROM
# when it ends, if --dump=/tmp/NAME.bin was given).
start_device() {
  name=$1
  shift
  rm -f "/tmp/$name.ready"
  mkfifo "/tmp/$name.ready"
  "$DEVICE" --ready="/tmp/$name.ready" "$@" 2>"/tmp/$name.err" &
  devices="$devices $!:$name"
  node=$(timeout 20 cat "/tmp/$name.ready")
  case "$node" in
    /dev/hidraw*) return 0 ;;
    *) why="device $name did not come up: ${node:-no answer}"; return 1 ;;
  esac
}

# stop_device NAME: ends the device (which writes its dump) and checks it ended cleanly.
stop_device() {
  for entry in $devices; do
    [ "${entry#*:}" = "$1" ] || continue
    pid=${entry%%:*}
    devices=$(echo "$devices" | sed "s/ $entry//")
    kill -TERM "$pid" 2>/dev/null
    # A device stuck in a write to its FIFO ignores SIGTERM: kill it after a while.
    (sleep 10; kill -KILL "$pid" 2>/dev/null) &
    watchdog=$!
    wait "$pid"
    rc=$?
    kill "$watchdog" 2>/dev/null
    [ "$rc" -eq 0 ] && return 0
    why="device $1 ended with $rc"
    return 1
  done
  why="no device $1"
  return 1
}

# cli ARG...: runs the program; $rc, /tmp/cli.out, /tmp/cli.err, $last (its last stdout line).
cli() {
  timeout $((CLI_TIMEOUT + 30)) "$CLI" --timeout="$CLI_TIMEOUT" "$@" >/tmp/cli.out 2>/tmp/cli.err
  rc=$?
  last=$(tail -n 1 /tmp/cli.out)
}

expect_cli() {  # expect_cli CODE LAST-LINE
  [ "$rc" -eq "$1" ] || { why="exit code $rc, wanted $1 (last line: $last)"; return 1; }
  [ "$last" = "$2" ] || { why="last line '$last', wanted '$2'"; return 1; }
}

# eeprom_holds_image NAME: the dump starts with the image and is erased (FF) beyond it.
eeprom_holds_image() {
  if ! head -c "$IMAGE_SIZE" "/tmp/$1.bin" | cmp -s - "$IMAGE"; then
    why="the EEPROM of $1 differs from the image: $(head -c "$IMAGE_SIZE" "/tmp/$1.bin" | cmp - "$IMAGE" 2>&1)"
    return 1
  fi
  rest=$(tail -c +$((IMAGE_SIZE + 1)) "/tmp/$1.bin" | tr -d '\377' | wc -c)
  [ "$rest" -eq 0 ] || { why="the EEPROM of $1 was written beyond the image ($rest bytes)"; return 1; }
}

eeprom_untouched() {
  rest=$(tr -d '\377' <"/tmp/$1.bin" | wc -c)
  [ "$rest" -eq 0 ] || { why="the EEPROM of $1 was written ($rest bytes)"; return 1; }
}

uptime() { cut -d ' ' -f 1 /proc/uptime; }
seconds_since() { echo "$(uptime) $1" | awk '{ printf "%.1f", $1 - $2 }'; }

scenario() {  # scenario NAME FUNCTION [ARGUMENT...]
  title=$1
  shift
  why=""
  began=$(uptime)
  if "$@"; then ok=1; else ok=0; fi
  # Every device the scenario left running must end cleanly too.
  reason=$why
  for entry in $devices; do
    if ! stop_device "${entry#*:}" && [ "$ok" -eq 1 ]; then
      ok=0
      reason=$why
    fi
  done
  if [ "$ok" -eq 1 ]; then
    passed=$((passed + 1))
    say "PASS $title ($(seconds_since "$began") s)"
  else
    failed=$((failed + 1))
    say "FAIL $title: $reason"
    [ -s /tmp/cli.out ] && detail /tmp/cli.out
    [ -s /tmp/cli.err ] && tail -n 5 /tmp/cli.err | detail
    for f in /tmp/*.err; do
      [ "$f" = /tmp/cli.err ] || [ ! -s "$f" ] || detail "$f"
    done
  fi
  rm -f /tmp/*.err /tmp/*.bin /tmp/*.ready /tmp/cli.out
}

# A full update of one product; the EEPROM holds the image afterwards. The update's time goes
# out beside the floor of the write phase's pauses (4 ms after each chunk): a figure, not a test.
update_ok() {  # update_ok PID
  start_device "d$1" --pid="$1" --dump="/tmp/d$1.bin" || return 1
  t0=$(uptime)
  cli update
  took=$(seconds_since "$t0")
  expect_cli 0 "FW UPDATE OK!" || return 1
  chunks=$((IMAGE_SIZE / 8))
  [ "$1" = 2004 ] && chunks=$((IMAGE_SIZE / 16))
  { [ "$1" = 7029 ] || [ "$1" = 2004 ]; } && say "TIME $STACK: clean update of 1852:$1 took $took s; pause floor $chunks x 4 ms = $(echo "$chunks" | awk '{ printf "%.1f", $1 * 0.004 }') s"
  stop_device "d$1" || return 1
  eeprom_holds_image "d$1" || return 1
  unit_saw_whole_reports "d$1"
}

# Each write of the program reached the unit as one whole report (over USB a write longer than
# the report arrives as a second, short transfer).
unit_saw_whole_reports() {
  ! grep -q "not one report" "/tmp/$1.err" || { why=$(grep "not one report" "/tmp/$1.err"); return 1; }
}
update_5028() { update_ok 5028; }
update_7030() { update_ok 7030; }
update_7029() { update_ok 7029; }
update_2004() { update_ok 2004; }

# One byte reads back corrupted: the comparison catches it.
verify_fails() {
  start_device flip --pid=7029 --fault=flip:0x100 --dump=/tmp/flip.bin || return 1
  cli update
  expect_cli 1 "FW UPDATE FAIL!" || return 1
  stop_device flip || return 1
  eeprom_holds_image flip
}

no_device() {
  cli update
  expect_cli 2 "Fail to connect device!"
}

# Another product of the same vendor sits on a lower hidraw node, so it is found first.
unrelated_first() {
  start_device other --pid=1234 --unserved || return 1
  other=$node
  start_device ours --pid=5028 --dump=/tmp/ours.bin || return 1
  [ "${other#/dev/hidraw}" -lt "${node#/dev/hidraw}" ] ||
    { why="the other device got $other, after ours on $node"; return 1; }
  cli list
  [ "$rc" -eq 0 ] || { why="list ended with $rc"; return 1; }
  grep -q "1852:1234" /tmp/cli.out && grep -q "1852:5028" /tmp/cli.out ||
    { why="list does not show both devices"; return 1; }
  cli update
  expect_cli 0 "FW UPDATE OK!" || return 1
  stop_device ours || return 1
  eeprom_holds_image ours
}

# Reports of 64 bytes without the report-ID byte do not fit the link's 64-byte buffers.
wide_reports_refused() {
  start_device wide --pid=5028 --report-bytes=64 --dump=/tmp/wide.bin || return 1
  cli update
  expect_cli 2 "Fail to connect device!" || return 1
  stop_device wide || return 1
  eeprom_untouched wide
}

# The device answers the last write and disappears: written, but nothing to verify against.
vanishes_after_write() {
  start_device gone --pid=7029 --fault=vanish-after:1536 --dump=/tmp/gone.bin || return 1
  cli update
  expect_cli 5 "Fail to connect device!" || return 1
  stop_device gone || return 1
  eeprom_holds_image gone
}

# The device is unplugged in the middle of the write: the run ends at once (well before its
# time-out) with 3, the EEPROM partly written.
unplugged_mid_write() {
  start_device unplug --pid=7029 --fault=vanish-after:700 --dump=/tmp/unplug.bin || return 1
  CLI_TIMEOUT=120
  t0=$(uptime)
  cli update
  took=$(echo "$(uptime) $t0" | awk '{ printf "%d", $1 - $2 }')
  CLI_TIMEOUT=$DEFAULT_TIMEOUT
  [ "$rc" -eq 3 ] || { why="exit code $rc, wanted 3 (last line: $last)"; return 1; }
  [ "$took" -lt 60 ] || { why="the run took $took s: it waited instead of ending at once"; return 1; }
  stop_device unplug || return 1
  if head -c "$IMAGE_SIZE" /tmp/unplug.bin | cmp -s - "$IMAGE"; then
    why="the EEPROM holds the whole image although the unit left half-way"
    return 1
  fi
}

# The written unit is gone before the read-back; another unit with the same IDs, on another
# port, already holds the image. Reading that one back would prove nothing: the run ends with
# 5 (written but not verified) and the other unit is never asked anything.
other_unit_not_read_back() {
  start_device written --pid=7029 --fault=vanish-after:1536 --dump=/tmp/written.bin || return 1
  written_node=$node
  # The other unit comes while the first is being written: with both attached from the start,
  # the command line would refuse to guess which one to write.
  timeout $((CLI_TIMEOUT + 30)) "$CLI" --timeout="$CLI_TIMEOUT" update >/tmp/cli.out 2>/tmp/cli.err &
  cli_pid=$!
  waited=0
  until grep -q '^writing 10%' /tmp/cli.err 2>/dev/null; do
    [ "$waited" -lt 600 ] || { why="the write did not get to 10%"; wait "$cli_pid"; return 1; }
    sleep 0.1
    waited=$((waited + 1))
  done
  start_device bystander --pid=7029 --eeprom="$IMAGE" --dump=/tmp/bystander.bin || return 1
  wait "$cli_pid"
  rc=$?
  last=$(tail -n 1 /tmp/cli.out)
  [ "${written_node#/dev/hidraw}" -lt "${node#/dev/hidraw}" ] ||
    { why="the bystander got $node, before the written unit on $written_node"; return 1; }
  expect_cli 5 "Fail to connect device!" || return 1
  stop_device written || return 1
  eeprom_holds_image written || return 1
  stop_device bystander || return 1
  grep -q "served 0 requests" /tmp/bystander.err ||
    { why="the bystander was asked: $(tail -n 1 /tmp/bystander.err)"; return 1; }
  eeprom_holds_image bystander
}

# The device stops answering part way: the program gives up after its time-out.
stops_answering() {
  start_device mute --pid=7030 --fault=silent-after:100 || return 1
  CLI_TIMEOUT=2
  cli update
  CLI_TIMEOUT=$DEFAULT_TIMEOUT
  [ "$rc" -eq 3 ] || { why="exit code $rc, wanted 3"; return 1; }
}

version_formal() {
  start_device formal --pid=7029 || return 1
  cli version
  expect_cli 0 "$FORMAL"
}

version_beta() {
  start_device beta --pid=2004 --register=72:0 || return 1
  cli version
  expect_cli 0 "$BETA"
}

scenario "update 5028" update_5028
scenario "update 7030" update_7030
scenario "update 7029" update_7029
scenario "update 2004" update_2004
scenario "corrupted read-back fails" verify_fails
scenario "no device" no_device
scenario "unrelated device enumerated first" unrelated_first
scenario "64-byte reports refused" wide_reports_refused
scenario "device gone before read-back" vanishes_after_write
scenario "device stops answering" stops_answering
scenario "unplugged in the middle of the write" unplugged_mid_write
scenario "written unit gone, another one not read back" other_unit_not_read_back
scenario "version, formal release" version_formal
scenario "version, beta release" version_beta

# The command line's verify, backup and --device (two units on one bus).

# verify reads and compares without writing; a unit that has not been written differs.
cli_verify() {
  start_device ver --pid=2004 --dump=/tmp/ver.bin || return 1
  cli verify
  [ "$rc" -eq 1 ] || { why="verify of an unwritten unit ended with $rc, wanted 1"; return 1; }
  case "$last" in
    "EEPROM differs from the image: "*) ;;
    *) why="verify of an unwritten unit ended with '$last'"; return 1 ;;
  esac
  cli update
  expect_cli 0 "FW UPDATE OK!" || return 1
  cli verify
  expect_cli 0 "EEPROM matches the image" || return 1
  stop_device ver || return 1
  eeprom_holds_image ver
}

# backup saves the whole EEPROM, refuses to overwrite, and the saved file restores the unit.
cli_backup() {
  start_device bak --pid=7029 --dump=/tmp/bak.bin || return 1
  cli update
  expect_cli 0 "FW UPDATE OK!" || return 1
  rm -f /tmp/backup.img
  cli backup /tmp/backup.img
  expect_cli 0 "Saved 16384 bytes to /tmp/backup.img" || return 1
  [ "$(wc -c </tmp/backup.img)" -eq 16384 ] || { why="the backup is not 16384 bytes"; return 1; }
  head -c "$IMAGE_SIZE" /tmp/backup.img | cmp -s - "$IMAGE" ||
    { why="the backup does not start with the image"; return 1; }
  cli backup /tmp/backup.img
  [ "$rc" -eq 64 ] || { why="overwriting the backup ended with $rc, wanted 64"; return 1; }
  cli update --image=/tmp/backup.img --force
  expect_cli 0 "FW UPDATE OK!" || return 1
  stop_device bak || return 1
  cmp -s /tmp/bak.bin /tmp/backup.img || { why="the restored EEPROM differs from the backup"; return 1; }
  rm -f /tmp/backup.img
}

# Two units: without --device nothing is sent; with it only the named unit is written.
cli_device() {
  start_device first --pid=7029 --dump=/tmp/first.bin || return 1
  start_device second --pid=7029 --dump=/tmp/second.bin || return 1
  second=$node
  cli update
  [ "$rc" -eq 64 ] || { why="two units without --device ended with $rc, wanted 64"; return 1; }
  grep -q "several units are attached" /tmp/cli.err || { why="no word of several units"; return 1; }
  cli --device="$second" update
  expect_cli 0 "FW UPDATE OK!" || return 1
  cli --device="$second" verify
  expect_cli 0 "EEPROM matches the image" || return 1
  stop_device first || return 1
  stop_device second || return 1
  eeprom_untouched first || return 1
  eeprom_holds_image second
}

scenario "cli verify" cli_verify
scenario "cli backup and restore" cli_backup
scenario "cli --device with two units" cli_device

# Units as they come from the field.

# One unit with two HID interfaces, as USB audio interfaces have: the volume keys'
# consumer-control interface (a 1-byte input report, no output report) comes first, then the
# update interface, both with the unit's IDs and serial. It is one unit: update and version
# find the update interface without --device.
composite_unit() {  # composite_unit PID
  start_device comp --pid="$1" --composite --dump=/tmp/comp.bin || return 1
  cli update
  expect_cli 0 "FW UPDATE OK!" || return 1
  cli version
  expect_cli 0 "$FORMAL" || return 1
  stop_device comp || return 1
  eeprom_holds_image comp || return 1
  unit_saw_whole_reports comp
}

# Reports too short for the framing's requests (the report-ID byte counted, a standard-framing
# unit needs 17-byte output reports, an alternate-framing one 23): the unit is not usable and
# is sent nothing.
short_reports() {  # short_reports PID BYTES
  start_device short --pid="$1" --report-bytes="$2" --dump=/tmp/short.bin || return 1
  CLI_TIMEOUT=2
  cli update
  CLI_TIMEOUT=$DEFAULT_TIMEOUT
  expect_cli 2 "Fail to connect device!" || return 1
  stop_device short || return 1
  grep -q "served 0 requests" /tmp/short.err ||
    { why="the unit was sent requests: $(tail -n 1 /tmp/short.err)"; return 1; }
  eeprom_untouched short
}
short_reports_2004() { short_reports 2004 20; }
composite_7029() { composite_unit 7029; }
# Over USB the alternate framing, whose update takes half as long.
composite_2004() { composite_unit 2004; }
short_reports_7029() { short_reports 7029 12; }

scenario "composite unit 7029, update and version without --device" composite_7029
scenario "20-byte reports too short for 2004" short_reports_2004

# Units that send an answer once more when the next request comes, ahead of that request's own
# answer (--fault=late-dup:N, N counted from the unit's first request). Over USB the copy
# reaches the host after the next request went out, in its answer's place. In the alternate
# framing an answer carries neither sequence number nor address: the program reads each chunk
# until two answers in a row agree and gives up as out of step on more than one answer it did
# not wait for. In the standard framing the copy's sequence number gives it away.

# An EEPROM in which no 16- or 8-byte chunk equals its neighbours (byte i is 1 + i mod 251), so
# a chunk taken from another chunk's answer shows; and the image with its last chunk, padding,
# one byte off.
pattern_block=$(awk 'BEGIN { for (i = 1; i <= 251; i++) printf "\\0%03o", i }')
i=0
while [ "$i" -lt 66 ]; do printf '%b' "$pattern_block"; i=$((i + 1)); done |
  head -c 16384 >/tmp/pattern.img
ODD=$((IMAGE_SIZE - 8))
{ head -c "$ODD" "$IMAGE"; printf '\377'; tail -c +$((ODD + 2)) "$IMAGE"; } >/tmp/odd.img

# copy_sent NAME N: the unit was sent request N + 1, so it did send the copy (of a unit that
# has ended).
copy_sent() {
  served=$(sed -n 's/.* served \([0-9]*\) requests$/\1/p' "/tmp/$1.err")
  [ "${served:-0}" -gt "$2" ] ||
    { why="the unit served ${served:-no} requests, so answer $2 was never repeated"; return 1; }
}

# expect_outcome WORD...: the JSON result (--json) is one of WORDs, with its exit code.
expect_outcome() {
  word=$(sed -n '$s/.*"outcome":"\([^"]*\)".*/\1/p' /tmp/cli.out)
  for w in "$@"; do
    [ "$word" = "$w" ] || continue
    case "$w" in matches | saved) want=0 ;; *) want=1 ;; esac
    [ "$rc" -eq "$want" ] && return 0
    why="outcome $word with exit code $rc, wanted $want"
    return 1
  done
  why="outcome '${word:-none}' (exit code $rc), wanted: $*"
  return 1
}

# backup of the patterned unit saves exactly its EEPROM; in the alternate framing it may
# instead end out of step, with no file. (The program's results are checked before the unit
# ends: stop_device sets $rc.)
late_backup() {  # late_backup PID N
  start_device lb --pid="$1" --eeprom=/tmp/pattern.img --fault=late-dup:"$2" --dump=/tmp/lb.bin ||
    return 1
  rm -f /tmp/lb-backup.bin
  cli --json backup /tmp/lb-backup.bin
  if [ "$1" = 2004 ]; then expect_outcome saved out-of-step; else expect_outcome saved; fi ||
    return 1
  if [ "$word" = out-of-step ]; then
    [ ! -e /tmp/lb-backup.bin ] || { why="out of step, yet a backup file was left"; return 1; }
    say "| the answers went out of step; no file"
  fi
  stop_device lb || return 1
  copy_sent lb "$2" || return 1
  cmp -s /tmp/lb.bin /tmp/pattern.img || { why="the unit's EEPROM lost its pattern"; return 1; }
  [ "$word" = out-of-step ] || cmp -s /tmp/lb.bin /tmp/lb-backup.bin ||
    { why="the backup differs from the EEPROM: $(cmp /tmp/lb.bin /tmp/lb-backup.bin 2>&1)"; return 1; }
}

late_verify() {  # late_verify PID N EEPROM OUTCOME...
  start_device lv --pid="$1" --eeprom="$3" --fault=late-dup:"$2" || return 1
  cli --json verify
  copy_at=$2
  shift 3
  expect_outcome "$@" || return 1
  stop_device lv || return 1
  copy_sent lv "$copy_at"
}

# An update; with FAULT (a byte that reads back wrong) it must fail, without it succeed. The
# write phase is sound either way.
late_update() {  # late_update PID N [FAULT]
  start_device lu --pid="$1" --fault=late-dup:"$2" ${3:+"--fault=$3"} --dump=/tmp/lu.bin ||
    return 1
  cli update
  if [ -n "${3:-}" ]; then
    expect_cli 1 "FW UPDATE FAIL!" || return 1
  else
    expect_cli 0 "FW UPDATE OK!" || return 1
  fi
  stop_device lu || return 1
  copy_sent lu "$2" || return 1
  eeprom_holds_image lu && unit_saw_whole_reports lu
}

# late_answers PREFIX: the alternate framing's cases. The image's last chunk differs (odd.img,
# flip) and the chunk before it is zero padding, like the copy that comes in place of its first
# answer. 2004 sends two reads a chunk after one write a chunk; backup reads 1024 chunks.
late_answers() {
  late_chunks=$((IMAGE_SIZE / 16))
  scenario "${1}2004 backup, answer 1001 repeated late" late_backup 2004 1001
  scenario "${1}2004 backup, answer 2046 repeated late" late_backup 2004 2046
  n=$((2 * late_chunks - 2))
  scenario "${1}2004 verify of a unit one byte off, answer $n repeated late" \
    late_verify 2004 "$n" /tmp/odd.img differs out-of-step
  n=$((3 * late_chunks - 2))
  scenario "${1}2004 update, a byte reads back wrong, answer $n repeated late" \
    late_update 2004 "$n" "flip:$ODD"
  scenario "${1}2004 update, write answer 100 repeated late" late_update 2004 100
  n=$((late_chunks - 1))
  scenario "${1}2004 update, write answer $n repeated late" late_update 2004 "$n"
}
late_answers ""

# --- The second stage: every unit a USB gadget on dummy_hcd, reached through usbhid.
DEVICE=$HIDG
STACK=usbhid

# The unit is unplugged (its gadget unbound) in the middle of the write: the run ends with 3
# within 3 s of the unplug, the EEPROM partly written.
usb_unplugged_mid_write() {
  start_device unplug --pid=7029 --fault=vanish-after:700 --dump=/tmp/unplug.bin || return 1
  CLI_TIMEOUT=120
  cli update
  ended=$(uptime)
  CLI_TIMEOUT=$DEFAULT_TIMEOUT
  [ "$rc" -eq 3 ] || { why="exit code $rc, wanted 3 (last line: $last)"; return 1; }
  unplugged=$(sed -n 's/.*unplugged at //p' /tmp/unplug.err)
  [ -n "$unplugged" ] || { why="the unit was never unplugged"; return 1; }
  took=$(echo "$ended $unplugged" | awk '{ printf "%.1f", $1 - $2 }')
  echo "$took" | awk '{ exit !($1 < 3) }' ||
    { why="the run ended $took s after the unplug, wanted under 3 s"; return 1; }
  say "| the run ended $took s after the unplug"
  stop_device unplug || return 1
  if head -c "$IMAGE_SIZE" /tmp/unplug.bin | cmp -s - "$IMAGE"; then
    why="the EEPROM holds the whole image although the unit left half-way"
    return 1
  fi
}

# verify and backup of a unit that holds the image, one connection after the other.
usb_verify_backup() {
  start_device vb --pid=2004 --eeprom="$IMAGE" --dump=/tmp/vb.bin || return 1
  cli verify
  expect_cli 0 "EEPROM matches the image" || return 1
  rm -f /tmp/usb-backup.img
  cli backup /tmp/usb-backup.img
  expect_cli 0 "Saved 16384 bytes to /tmp/usb-backup.img" || return 1
  stop_device vb || return 1
  cmp -s /tmp/vb.bin /tmp/usb-backup.img ||
    { why="the backup differs from the EEPROM: $(cmp /tmp/vb.bin /tmp/usb-backup.img 2>&1)"; rm -f /tmp/usb-backup.img; return 1; }
  rm -f /tmp/usb-backup.img
  unit_saw_whole_reports vb
}

scenario "usb: update 7029" update_7029
scenario "usb: update 2004" update_2004
scenario "usb: composite unit 2004, update and version without --device" composite_2004
scenario "usb: unplugged in the middle of the write" usb_unplugged_mid_write
scenario "usb: 12-byte reports too short for 7029" short_reports_7029
scenario "usb: verify and backup" usb_verify_backup
late_answers "usb: "
# The standard framing: every copy is refused, every run succeeds. The copies come from the
# image's code, where a chunk taken from the wrong answer would differ.
std_chunks=$((IMAGE_SIZE / 8))
scenario "usb: 7029 backup, answer 1001 repeated late" late_backup 7029 1001
scenario "usb: 7029 verify, answer 1000 repeated late" late_verify 7029 1000 "$IMAGE" matches
scenario "usb: 7029 update, write answer 100 repeated late" late_update 7029 100
n=$((std_chunks + 1000))
scenario "usb: 7029 update, read-back answer $n repeated late" late_update 7029 "$n"
finish
