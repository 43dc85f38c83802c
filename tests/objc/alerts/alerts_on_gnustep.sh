#!/usr/bin/env bash
# Shows every alert of the installer, drawn by app/alert_mac.mm under GNUstep's
# AppKit, in a private virtual X display. For each alert it checks from the
# live widgets the title, the informative text and the buttons in order,
# presses a button with the mouse, and checks the response that present()
# returns (1000 for the first button, 1001 for the second).
#
#   alerts_on_gnustep.sh --driver PATH --xvfb PATH --xdotool PATH --gdnc PATH
#                        --make-services PATH --work DIR [--pictures DIR]
#
# Everything it makes stays in DIR (removed again after a passing run): the
# GNUstep configuration, defaults and temporary files, and the driver's
# messages. The X server listens on an abstract socket only and takes no lock
# file; the one thing written elsewhere is the keymap it compiles as it
# starts, /var/lib/xkb/server-N.xkm, which it removes at once. The run ends
# within a fixed bound; whatever it started and is still running then is
# killed outright (the driver ignores SIGTERM).
# With --pictures, GNUstep also draws each alert into FLOW-N.png in the folder
# named, N counting the alerts of one run of FLOW from 1.
set -euo pipefail
export LC_ALL=C  # the texts are compared byte for byte

# Each run: a flow of the driver, then the button (1 = first) that is pressed
# in each alert the flow shows, in order.
runs=(
  "installs 2"           # the confirmation answered with its second button: nothing follows
  "installs 1 1"         # the confirmation answered with its first button, then the installed alert
  "script-fails 1 1"     # the install script fails: the failure alert follows the confirmation
  "already-installed 1"  # the already-present alert alone
  "unreadable-payload 1" # a failure whose text quotes a path that is not UTF-8
)
readonly bound_seconds=60

driver='' xvfb='' xdotool='' gdnc='' make_services='' work='' pictures=''
while [ $# -gt 0 ]; do
  case $1 in
    --driver) driver=$2 ;;
    --gdnc) gdnc=$2 ;;
    --make-services) make_services=$2 ;;
    --xvfb) xvfb=$2 ;;
    --xdotool) xdotool=$2 ;;
    --work) work=$2 ;;
    --pictures) pictures=$2 ;;
    *) echo "alerts_on_gnustep: unknown argument $1" >&2; exit 2 ;;
  esac
  shift 2
done
for value in "$driver" "$xvfb" "$xdotool" "$gdnc" "$make_services" "$work"; do
  [ -n "$value" ] || { echo "alerts_on_gnustep: every option but --pictures is needed" >&2; exit 2; }
done
case $work in /*) ;; *) work=$PWD/$work ;; esac
case $pictures in /* | '') ;; *) pictures=$PWD/$pictures ;; esac

xvfb_pid='' gdnc_pid='' driver_pid=''
fail() {
  echo "alerts_on_gnustep: $*" >&2
  # (GNUstep says that it cannot place window decorations without a window
  # manager; nothing else it says is expected.)
  local messages
  messages=$({ grep -v 'Failed to determine offsets for style' "$work/driver.log" 2>/dev/null || true; } | tail -n 20)
  [ -z "$messages" ] || printf '%s\n%s\n' "--- the driver's messages ($work/driver.log):" "$messages" >&2
  exit 1
}
stop() {
  # The driver ignores SIGTERM; it has nothing to clean up, so it is killed outright.
  if [ -n "$driver_pid" ]; then
    kill -KILL -- "-$driver_pid" 2>/dev/null || true
    wait "$driver_pid" 2>/dev/null || true
  fi
  for pid in $gdnc_pid $xvfb_pid; do
    kill -TERM "$pid" 2>/dev/null || true
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  done
  gdnc_pid='' xvfb_pid=''
}
trap stop EXIT
trap 'exit 1' INT TERM HUP

# --- A private GNUstep: its configuration names user folders inside $work and
# reads no configuration from the user's home (GNUstep takes the home folder
# from the password database, not from $HOME). The defaults beside it choose
# the cairo backend, whatever the system's default, and draw every text in a
# font that has the Chinese characters (the default font draws them as "?").
rm -rf "$work"
mkdir -p "$work/gnustep/Defaults" "$work/home"
mkdir -m 700 "$work/tmp"
{
  if [ -r /etc/GNUstep/GNUstep.conf ]; then grep -v '^GNUSTEP_USER_' /etc/GNUstep/GNUstep.conf; fi
  echo "GNUSTEP_USER_CONFIG_FILE=''"
  echo "GNUSTEP_USER_DEFAULTS_DIR='$work/gnustep/Defaults'"
  for folder in APPS ADMIN_APPS WEB_APPS TOOLS ADMIN_TOOLS LIBRARY HEADERS LIBRARIES DOC DOC_MAN DOC_INFO; do
    echo "GNUSTEP_USER_DIR_$folder='$work/gnustep/User/$folder'"
  done
} >"$work/gnustep/GNUstep.conf"
cat >"$work/gnustep/GlobalDefaults.plist" <<'EOF'
{
  GSBackend = libgnustep-cairo;
  NSFont = WenQuanYiZenHei;
  NSBoldFont = WenQuanYiZenHei;
}
EOF

# --- A virtual X display of its own: -displayfd picks a free display number
# and tells it once the server is ready.
: >"$work/display"  # (there before the server's shell opens it)
"$xvfb" -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -nolisten unix -nolock \
  3>"$work/display" 2>"$work/xvfb.log" </dev/null &
xvfb_pid=$!
display=''
for _ in $(seq 100); do
  display=$(cat "$work/display")
  [ -n "$display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb ended: $(tail -n 5 "$work/xvfb.log")"
  sleep 0.1
done
[ -n "$display" ] || fail "Xvfb named no display within 10 s"
display=:${display%%[!0-9]*}

flows=()
for run in "${runs[@]}"; do flows+=("${run%% *}"); done
driver_args=()
if [ -n "$pictures" ]; then
  mkdir -p "$pictures"
  driver_args=(--pictures "$pictures")
fi

# GNUstep's programs run in a clean environment: the display, the private
# configuration, and folders in $work for what reads $HOME, $TMP or $TEMP
# (fontconfig's cache; GNUstep's message ports and locks).
gnustep_env=(env -i PATH=/usr/bin:/bin DISPLAY="$display" GNUSTEP_CONFIG_FILE="$work/gnustep/GNUstep.conf"
  HOME="$work/home" TMP="$work/tmp" TEMP="$work/tmp" TMPDIR="$work/tmp"
  XDG_CACHE_HOME="$work/home/cache" XDG_CONFIG_HOME="$work/home/config")

# GNUstep's notification daemon, started here and ended by its pid: an
# application that finds none starts one of its own, which would outlive the
# run. It is ready once it has registered its name.
"${gnustep_env[@]}" "$gdnc" --no-fork >"$work/gdnc.log" 2>&1 </dev/null &
gdnc_pid=$!
until [ -n "$(ls -A "$work/tmp/NSMessagePort/names" 2>/dev/null)" ]; do
  kill -0 "$gdnc_pid" 2>/dev/null || fail "gdnc ended: $(tail -n 5 "$work/gdnc.log")"
  [ "$SECONDS" -lt 10 ] || fail "gdnc registered no name within 10 s"
  sleep 0.05
done

# The list of services that an application builds on its first start when
# it finds none, made here so that the driver starts no program of its own.
timeout -s KILL 20 "${gnustep_env[@]}" "$make_services" >"$work/make_services.log" 2>&1 </dev/null ||
  fail "make_services failed: $(tail -n 5 "$work/make_services.log")"

# The driver ignores leaks (GNUstep, fontconfig and the Objective-C runtime
# keep memory to the end on purpose) but stops at once when an object is
# used after its release.
# It runs in a process group of its own, so that anything it might start
# ends with it.
coproc DRIVER {
  exec setsid "${gnustep_env[@]}" ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
    NSZombieEnabled=YES CRASH_ON_ZOMBIE=YES \
    "$driver" "${driver_args[@]}" "${flows[@]}" 2>"$work/driver.log"
}
# shellcheck disable=SC2153 # (DRIVER_PID is set by coproc)
driver_pid=$DRIVER_PID
# A copy of the driver's output that stays open when bash closes the
# coprocess's own descriptors as it ends, so its last lines are still read.
exec {driver_out}<&"${DRIVER[0]}"

# The next line from the driver, split at its field separator (0x1f, which
# unlike a tab keeps empty fields) into `fields`, within what is left of the
# bound.
fields=()
next() {
  local left=$((bound_seconds - SECONDS)) line status=0
  [ "$left" -gt 0 ] || fail "no '$1' from the driver within $bound_seconds s"
  IFS= read -r -t "$left" line <&"$driver_out" || status=$?
  [ "$status" -le 128 ] || fail "no '$1' from the driver within $bound_seconds s"
  [ "$status" -eq 0 ] || fail "the driver ended before '$1'"
  IFS=$'\x1f' read -r -a fields <<<"$line"
  [ "${fields[0]}" = "$1" ] || fail "expected '$1' from the driver, got: $line"
}

# What an alert must show for a text it was given: the same bytes, but for a
# byte that is not UTF-8 (the 0xff that the driver puts in a path), which
# appears as U+FFFD.
displayed() { printf '%s' "${1//$'\xff'/$'\xef\xbf\xbd'}"; }

# Presses the button at X Y as a person does: the pointer comes from outside
# the alert onto the button, the mouse button goes down and, once the alert's
# button shows that it is held, comes up. GNUstep misses the other ways: a
# press and release at once (what `xdotool click` gives) is lost now and then,
# and a press where the pointer already rested when the alert appeared goes
# unseen for about 15 s.
press() {  # X Y TITLE
  DISPLAY=$display "$xdotool" mousemove --sync 0 0
  DISPLAY=$display "$xdotool" mousemove --sync "$1" "$2"
  DISPLAY=$display "$xdotool" mousedown 1
  next pressed
  [ "${fields[1]}" = "$3" ] || fail "$what: pressing '$3' held down '${fields[1]}'"
  DISPLAY=$display "$xdotool" mouseup 1
}

alerts=0
for run in "${runs[@]}"; do
  read -r -a presses <<<"$run"
  flow=${presses[0]}
  presses=("${presses[@]:1}")
  next flow
  [ "${fields[1]}" = "$flow" ] || fail "expected the flow $flow, got ${fields[1]}"
  shown_in_flow=0
  for choice in "${presses[@]}"; do
    shown_in_flow=$((shown_in_flow + 1))
    what="$flow, alert $shown_in_flow"
    next asked
    title=${fields[1]} text=${fields[2]}
    asked_buttons=("${fields[@]:3}")
    target=()

    next shown
    [ "${#fields[@]}" -eq 3 ] || fail "$what: expected a title and a text, the window shows: ${fields[*]:1}"
    expected=$(displayed "$title")
    [ "${fields[1]}" = "$expected" ] || fail "$what: the title shows '${fields[1]}', not '$expected'"
    expected=$(displayed "$text")
    [ "${fields[2]}" = "$expected" ] || fail "$what: the text shows '${fields[2]}', not '$expected'"

    for i in "${!asked_buttons[@]}"; do
      next button
      [ "${fields[1]}" = "${asked_buttons[$i]}" ] ||
        fail "$what: button $((i + 1)) from the right is '${fields[1]}', not '${asked_buttons[$i]}'"
      [ "$((i + 1))" != "$choice" ] || target=("${fields[2]}" "${fields[3]}")
    done
    next ready  # (and not a further button)
    [ "$choice" -le "${#asked_buttons[@]}" ] || fail "$what: has no button $choice"

    press "${target[@]}" "${asked_buttons[$((choice - 1))]}"
    next response
    expected=$((999 + choice))
    [ "${fields[1]}" = "$expected" ] ||
      fail "$what: pressing '${asked_buttons[$((choice - 1))]}' gave ${fields[1]}, not $expected"
    alerts=$((alerts + 1))
    echo "$what: '$title', buttons ${asked_buttons[*]}: pressed '${asked_buttons[$((choice - 1))]}', got $expected"
  done
done
next finished
status=0
wait "$driver_pid" || status=$?
driver_pid=''
[ "$status" -eq 0 ] || fail "the driver ended with status $status"

echo "alerts_on_gnustep: $alerts alerts checked and answered in ${SECONDS} s"
stop
rm -rf "$work"
