#!/usr/bin/env bash
# Runs both programs natively in a real Wayland compositor (weston, nested in
# an X server of its own so that xdotool's keys reach its clients), then
# without any display they can reach.
# Usage: e2e_wayland.sh TALLIX VIEWER PASSWORD-FILE SCREENSHOT-DIR
set -u

tallix=$1
viewer=$2
password=$(<"$3")
shots=$4

work=$(mktemp -d)
xvfb=
weston=
program=
cleanup() {
    [ -n "$program" ] && kill "$program" 2>/dev/null
    [ -n "$weston" ] && kill "$weston" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "${BASH_SOURCE[0]}")/helpers.sh"
source "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"
start_xvfb "$work"

mkdir -m 0700 "$work/runtime"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM QT_WAYLAND_DECORATION XDG_SESSION_TYPE XDG_CURRENT_DESKTOP
export XDG_RUNTIME_DIR=$work/runtime
DISPLAY=$x_display weston --backend=x11-backend.so --socket=tallix-e2e --width=800 --height=600 \
    --idle-time=0 >"$work/weston.log" 2>&1 &
weston=$!
for _ in $(seq 100); do
    [ -S "$XDG_RUNTIME_DIR/tallix-e2e" ] && break
    sleep 0.1
done
[ -S "$XDG_RUNTIME_DIR/tallix-e2e" ] || give_up "weston did not start: $(cat "$work/weston.log")"
# Without a window manager the X keyboard follows the pointer into weston.
DISPLAY=$x_display xdotool mousemove 400 300

mkdir "$work/app" "$shots" 2>/dev/null
cp "$tallix" "$work/app/" || give_up "cannot copy the logger"
log=$work/app/Date.txt
: >"$log"

# Runs a program with the given environment, Wayland's protocol traced.
start() {
    env -u DISPLAY WAYLAND_DEBUG=1 "$@" 2>"$work/trace" &
    program=$!
}
await_end() {
    local tenths=$(($1 * 10))
    while kill -0 "$program" 2>/dev/null; do
        ((tenths-- > 0)) || give_up "$2 did not end within $1 s"
        sleep 0.1
    done
    wait "$program"
    status=$?
    program=
}
traced() { grep -q -F "$1" "$work/trace"; }
await_trace() {
    for _ in $(seq 200); do
        traced "$1" && return 0
        sleep 0.1
    done
    give_up "never saw $1"
}
records() { grep -c '' "$log"; }

echo "== the title card on Wayland"
start WAYLAND_DISPLAY=tallix-e2e "$work/app/tallix"
await_trace 'set_app_id("io.github.tallix.Tallix")'
traced 'set_title("Form1")' || give_up "the card's title is not Form1"
sleep 0.3
DISPLAY=$x_display import -window root "$shots/wayland-logger.png"
await_end 5 "the title card"
((status == 0)) || give_up "the logger ended with status $status"
[ "$(records)" -eq 1 ] || give_up "the logger recorded $(records) accesses, not 1"

echo "== the viewer on Wayland"
start WAYLAND_DISPLAY=tallix-e2e "$viewer"
await_trace 'set_title("Tallix Vistrel")'
traced 'set_app_id("io.github.tallix.Vistrel")' || give_up "the dialog's app id is not io.github.tallix.Vistrel"
sleep 0.5
DISPLAY=$x_display xdotool type --delay 30 -- "$password"
DISPLAY=$x_display xdotool key Return
await_trace 'set_title("Vistrel")'
sleep 0.5
DISPLAY=$x_display import -window root "$shots/wayland-viewer.png"
DISPLAY=$x_display xdotool key alt+c
await_end 5 "the viewer"
((status == 0)) || give_up "Alt+C ended the viewer with status $status"

echo "== no display to be had"
unused=:$(( ${x_display#:} + 50 ))
for session in "WAYLAND_DISPLAY=no-such-compositor" "DISPLAY=$unused"; do
    before=$(records)
    env -u DISPLAY -u WAYLAND_DISPLAY "$session" "$work/app/tallix" 2>"$work/stderr"
    status=$?
    ((status == 0)) || give_up "with $session the logger ended with status $status: $(cat "$work/stderr")"
    [ "$(records)" -eq $((before + 1)) ] || give_up "with $session the logger did not record the access"

    env -u DISPLAY -u WAYLAND_DISPLAY "$session" "$viewer" 2>"$work/stderr" </dev/null
    status=$?
    ((status == 2)) || give_up "with $session the viewer ended with status $status, not 2"
    grep -q 'tallix-vistrel: nessun display disponibile' "$work/stderr" ||
        give_up "with $session the viewer did not say why: $(cat "$work/stderr")"
done

finish e2e_wayland
