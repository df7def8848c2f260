#!/usr/bin/env bash
# Starts the logger on an X server of its own, without a window manager, and
# checks its title card and the record it adds.
# Usage: e2e_logger.sh <tallix> <screenshot folder>
set -u

tallix=$1
shots=$2

work=$(mktemp -d)
xvfb=
logger=

cleanup() {
    [ -s "$work/stderr" ] && { echo "--- tallix stderr:"; cat "$work/stderr"; }
    [ -n "$logger" ] && kill "$logger" 2>/dev/null
    [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "${BASH_SOURCE[0]}")/helpers.sh"
source "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"
start_xvfb "$work"
export DISPLAY=$x_display
unset WAYLAND_DISPLAY QT_QPA_PLATFORM

mkdir "$work/app"
cp "$tallix" "$work/app/" || give_up "cannot copy $tallix"
log=$work/app/Date.txt
printf '#2002-02-02 17:41:51#\r\n#2002-02-03#\r\n' >"$log"
cp "$log" "$work/before"
# The record is in the system's zone, whatever the caller's TZ says.
today=$(env -u TZ date +%F)

"$work/app/tallix" 2>"$work/stderr" &
logger=$!

window=$(timeout 5 xdotool search --sync --onlyvisible --name '^Form1$' | head -n 1)
[ -n "$window" ] || give_up "no visible window titled Form1 within 5 s"
[ "$(xdotool getwindowname "$window")" = Form1 ] || give_up "window $window is not titled exactly Form1"

# Give the card a moment to paint before it is captured.
sleep 0.3
mkdir -p "$shots" || give_up "cannot create $shots"
/usr/bin/import -window root "$shots/logger.png" || give_up "screenshot failed"

for _ in $(seq 50); do
    kill -0 "$logger" 2>/dev/null || break
    sleep 0.1
done
kill -0 "$logger" 2>/dev/null && give_up "tallix still running 5 s after its window appeared"
wait "$logger"
status=$?
logger=
[ "$status" -eq 0 ] || give_up "tallix exited with status $status"

old_size=$(stat -c %s "$work/before")
head -c "$old_size" "$log" | cmp -s - "$work/before" || give_up "earlier records changed"
added=$(tail -c +"$((old_size + 1))" "$log"; printf x)
added=${added%x}
record_form="^#($today|$(env -u TZ date +%F))( [0-2][0-9]:[0-5][0-9]:[0-5][0-9])?#"$'\r\n''$'
[[ $added =~ $record_form ]] || give_up "added text is not one record of today: $(printf %q "$added")"
echo "recorded ${added%$'\r\n'}; screenshot in $shots/logger.png"
finish e2e_logger
