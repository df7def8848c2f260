#!/usr/bin/env bash
# Drives tallix-vistrel on a private X server with no window manager:
# a wrong password ends it with status 1 and no window, the right one shows
# the window, whose shortcut hands the log to xdg-open and whose Alt+C ends it.
# Usage: e2e_viewer.sh VIEWER PASSWORD-FILE LOG-PATH SCREENSHOT-DIR
# With TALLIX_XDG_OPEN=real the machine's own xdg-open takes it, and hands
# it to the text viewer the user chose, a stand-in that notes what it got.
set -u

viewer=$1
password=$(<"$2")
log_path=$3
screenshots=$4


work=$(mktemp -d)
xvfb=
viewer_pid=
cleanup() {
    [[ -n $viewer_pid ]] && kill "$viewer_pid" 2>/dev/null
    [[ -n $xvfb ]] && kill "$xvfb" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

source "$(dirname "${BASH_SOURCE[0]}")/helpers.sh"
source "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"
start_xvfb "$work"

# Nothing of this machine's desktop may leak in: the viewer sees only a stub
# xdg-open, or a stub text viewer, that records what it was asked to open.
mkdir -p "$work/bin" "$work/home" "$work/config" "$work/data/applications" "$work/cache" "$work/runtime"
chmod 700 "$work/runtime"
opener=xdg-open
expected=$(python3 -c 'import sys, urllib.parse; print("file://" + urllib.parse.quote(sys.argv[1], safe="/!$&'"'"'()*+,;=:@~"))' "$log_path")
if [[ ${TALLIX_XDG_OPEN:-} == real ]]; then
    opener=text-viewer
    expected=$log_path
    printf '[Desktop Entry]\nType=Application\nName=Text viewer\nExec=%s %%f\nMimeType=text/plain;\n' \
        "$work/bin/$opener" >"$work/data/applications/tallix-test-viewer.desktop"
    printf '[Default Applications]\ntext/plain=tallix-test-viewer.desktop\n' >"$work/config/mimeapps.list"
fi
cat >"$work/bin/$opener" <<EOF
#!/bin/sh
printf '%s\n' "\$*" >>"$work/opened"
EOF
chmod +x "$work/bin/$opener"
unset WAYLAND_DISPLAY QT_QPA_PLATFORM QT_QPA_PLATFORMTHEME XDG_CURRENT_DESKTOP XDG_SESSION_DESKTOP \
    DESKTOP_SESSION KDE_FULL_SESSION GNOME_DESKTOP_SESSION_ID DBUS_SESSION_BUS_ADDRESS BROWSER
export DISPLAY=$x_display
export PATH="$work/bin:$PATH" HOME="$work/home" XDG_CONFIG_HOME="$work/config" \
    XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache" XDG_RUNTIME_DIR="$work/runtime"

# Waits up to $1 seconds for the viewer to end; its status is left in $status.
# While waiting, a window named exactly "Vistrel" is recorded in $seen_form.
await_exit() {
    local tenths=$(($1 * 10))
    seen_form=
    while kill -0 "$viewer_pid" 2>/dev/null; do
        ((tenths-- > 0)) || give_up "tallix-vistrel did not end within $1 s"
        xdotool search --onlyvisible --name '^Vistrel$' >/dev/null 2>&1 && seen_form=yes
        sleep 0.1
    done
    wait "$viewer_pid"
    status=$?
    viewer_pid=
}

# Starts the viewer and answers its password dialog with $1.
answer_dialog() {
    "$viewer" >"$work/stdout" 2>"$work/stderr" &
    viewer_pid=$!
    local dialog
    dialog=$(timeout 20 xdotool search --sync --onlyvisible --name '^Tallix Vistrel$' | head -n 1)
    [[ -n $dialog ]] || give_up "no password dialog appeared"
    # Without a window manager the keyboard follows the pointer.
    xdotool mousemove --window "$dialog" 20 20 || give_up "cannot reach the password dialog"
    sleep 0.3
    xdotool type --delay 20 -- "$1"
    xdotool key Return
}

answer_dialog "wrong-$password"
await_exit 15
((status == 1)) || give_up "a wrong password ended the viewer with status $status, not 1"
[[ -z $seen_form ]] || give_up "a wrong password showed the viewer's window"
[[ ! -s $work/stdout && ! -s $work/stderr ]] || give_up "a wrong password printed: $(cat "$work/stdout" "$work/stderr")"

answer_dialog "$password"
form=$(timeout 20 xdotool search --sync --onlyvisible --name '^Vistrel$' | head -n 1)
[[ -n $form ]] || give_up "the right password showed no window named Vistrel"
# Its desktop entry's StartupWMClass names this window class.
[[ $(xprop -id "$form" WM_CLASS) == *'"tallix-vistrel"'* ]] || give_up "the window's class is $(xprop -id "$form" WM_CLASS)"

mkdir -p "$screenshots"
sleep 0.5
import -window root "$screenshots/viewer.png" || give_up "no screenshot"

xdotool mousemove --window "$form" 56 300 click --repeat 2 1
for _ in $(seq 50); do
    [[ -s $work/opened ]] && break
    sleep 0.1
done
opened=$(cat "$work/opened" 2>/dev/null)
[[ $opened == "$expected" ]] || give_up "a double-click on the shortcut opened '$opened', not '$expected'"

xdotool key alt+c
await_exit 5
((status == 0)) || give_up "Alt+C ended the viewer with status $status, not 0"

finish e2e_viewer
