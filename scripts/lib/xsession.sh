# Driving the windowed program on a private X server (Xvfb), for the GUI tests and
# scripts/screenshots.sh. Source it; it sets nothing until a function is called.

# The tools these helpers use that are not installed, one line; empty when all are there.
xsession_missing_tools() {
  local missing=() tool
  for tool in Xvfb xdpyinfo xprop xdotool import convert "$@"; do
    command -v "$tool" >/dev/null 2>&1 || missing+=("$tool")
  done
  echo "${missing[*]}"
}

# Polls until the command succeeds, ten times a second, for at most SECONDS; on time-out,
# says what was awaited and fails.
#   wait_until SECONDS WHAT COMMAND...
wait_until() {
  local seconds=$1 what=$2
  shift 2
  local deadline=$((SECONDS + seconds))
  until "$@" >/dev/null; do
    if [ "$SECONDS" -ge "$deadline" ]; then
      echo "timed out after ${seconds}s waiting for: $what" >&2
      return 1
    fi
    sleep 0.1
  done
}

# Starts Xvfb on a display number it picks itself (no clash with other servers), checks
# that it runs and answers, and exports DISPLAY. XSESSION_XVFB_PID names the server.
#   xsession_start WORKDIR
xsession_start() {
  local dir=$1
  local numberFile="$dir/xvfb-display"
  : >"$numberFile"
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$numberFile" \
    >"$dir/xvfb.log" 2>&1 &
  XSESSION_XVFB_PID=$!
  if ! wait_until 20 "Xvfb to choose a display" grep -q '[0-9]' "$numberFile"; then
    cat "$dir/xvfb.log" >&2
    return 1
  fi
  if ! kill -0 "$XSESSION_XVFB_PID" 2>/dev/null; then
    echo "Xvfb exited:" >&2
    cat "$dir/xvfb.log" >&2
    return 1
  fi
  export DISPLAY=":$(tr -dc '0-9' <"$numberFile")"
  wait_until 20 "display $DISPLAY to answer" xdpyinfo >/dev/null 2>&1
}

xsession_stop() {
  if [ -n "${XSESSION_XVFB_PID:-}" ]; then
    kill "$XSESSION_XVFB_PID" 2>/dev/null
    wait "$XSESSION_XVFB_PID" 2>/dev/null
    XSESSION_XVFB_PID=
  fi
}

# The id of the first window whose title matches the regular expression, if any.
window_named() {
  xdotool search --name "$1" 2>/dev/null | head -n 1
}

# Whether FILE has LINE, the whole line.
has_line() {
  grep -qxF -- "$2" "$1" 2>/dev/null
}

# Whether the last line of FILE that starts with PREFIX is LINE.
last_is() {
  [ "$(awk -v prefix="$2" 'index($0, prefix) == 1 { last = $0 } END { print last }' "$1" \
    2>/dev/null)" = "$3" ]
}

# The caption of the updater's dialog on the built-in emulated unit (which the tests use) and
# the product title, as regular expressions.
QUARNEL_DIALOG_TITLE_RE='^Quarnel USB Digital Async\. Audio Firmware Update \(emulated device\)$'
QUARNEL_PRODUCT_TITLE='Quarnel USB Digital Audio Firmware Update'
