#!/usr/bin/env bash
# The screen lockers of real desktops, one desktop after another in one
# desktop boot of booted_system.sh, each logged in by LightDM on Xvfb: MATE
# with mate-screensaver, Cinnamon with cinnamon-screensaver, Xfce with
# xscreensaver and Plasma with kscreenlocker. Most of them check the
# password with PAM as the user and tell logind nothing, so only the PAM
# step can count their unlocks. Each locker locks three ways: by its own
# command, by logind's Lock (loginctl lock-session) and by a suspend. A
# wrong password at its prompt adds nothing; the right one adds one record,
# an unlock, or, after a suspend, one record for the wake and the unlock.
# Usage: locker_desktops.sh CACHE [DESKTOP...]
#   as root, inside `booted_system.sh boot STATE DEB desktop`, with CACHE
#   filled by `desktop_packages.sh CACHE lockers`; DESKTOPs among mate,
#   cinnamon, xscreensaver and plasma (all of them unless named, but
#   plasma only where the machine is not emulated)
set -uo pipefail

tests=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$tests/helpers.sh"
source "$tests/desktop_helpers.sh"
require_throwaway_root locker_desktops

cache=$1
shift
desktops=("$@")
# Xfce's session starts whichever screen saver D-Bus can start for it, such
# as MATE's and Cinnamon's, and xscreensaver gives way to any other: Xfce
# comes before them.
# Plasma, whose locker logind hears too, comes last; in an emulated machine
# its install alone takes a quarter of an hour, and the suite must end
# within CI's time: there it runs only when named. unlock_wake tests a
# locker that logind hears too, with the real logind.
if ! ((${#desktops[@]})); then
    desktops=(xscreensaver mate cinnamon)
    if [ "$(systemd-detect-virt --vm)" = qemu ]; then
        echo "== plasma: left out, as this machine is emulated"
    else
        desktops+=(plasma)
    fi
fi
log=/var/lib/tallix/Date.txt
recorded_id=f91763fc1afb493ca8572020c6efd366
user=tallix-lock
password=lock-pass-1357
wrong=not-the-pass-8642
started=$(date +%s)
work=$(mktemp -d)

# What each desktop is made of: its session's file in /usr/share/xsessions,
# its PAM service, the program that asks for the password, and how to lock.
session_of() { case $1 in xscreensaver) echo xfce ;; *) echo "$1" ;; esac; }
service_of() {
    case $1 in
    mate) echo mate-screensaver ;;
    cinnamon) echo cinnamon-screensaver ;;
    xscreensaver) echo xscreensaver ;;
    plasma) echo kde ;;
    esac
}
prompt_of() {
    case $1 in
    mate) echo mate-screensaver-dialog ;;
    cinnamon) echo cinnamon-screensaver-pam-helper ;;
    xscreensaver) echo xscreensaver-auth ;;
    plasma) echo kscreenlocker_greet ;;
    esac
}
# A locker busy with its lock may answer late or never: each question to it
# has a deadline. The waits for the locker are long: in an emulated machine
# Plasma's greeter takes half a minute to show, and a wait costs its full
# length only when what it awaits never comes (MATE's lock on a suspend).
ask_user() { as_user timeout 10 "$@"; }
has_name() {
    ask_user dbus-send --session --print-reply --dest=org.freedesktop.DBus / org.freedesktop.DBus.NameHasOwner \
        "string:$1" 2>/dev/null | grep -q 'boolean true'
}
# The locker waits for a lock.
locker_ready() {
    case $desktop in
    mate) has_name org.mate.ScreenSaver ;;
    cinnamon) has_name org.cinnamon.ScreenSaver ;;
    # xscreensaver-systemd, which xscreensaver starts, hears logind for it.
    xscreensaver) ask_user xscreensaver-command -time >/dev/null 2>&1 && pgrep -u "$user" -f xscreensaver-systemd >/dev/null ;;
    plasma) has_name org.freedesktop.ScreenSaver && pgrep -u "$user" -x kwin_x11 >/dev/null ;;
    esac
}
lock_by_locker() {
    case $desktop in
    mate) ask_user mate-screensaver-command --lock ;;
    cinnamon) ask_user cinnamon-screensaver-command --lock ;;
    xscreensaver) ask_user xscreensaver-command -lock ;;
    plasma) ask_user dbus-send --session --dest=org.freedesktop.ScreenSaver --type=method_call /ScreenSaver \
        org.freedesktop.ScreenSaver.Lock ;;
    esac >/dev/null
}
locked() {
    case $desktop in
    mate) ask_user mate-screensaver-command -q 2>/dev/null | grep -q 'is active' ;;
    # cinnamon-screensaver-command -q hangs while the lock shows.
    cinnamon) ask_user dbus-send --session --print-reply --dest=org.cinnamon.ScreenSaver /org/cinnamon/ScreenSaver \
        org.cinnamon.ScreenSaver.GetActive 2>/dev/null | grep -q 'boolean true' ;;
    xscreensaver) ask_user xscreensaver-command -time 2>/dev/null | grep -q 'locked' ;;
    # kscreenlocker tells logind, once its greeter shows.
    plasma) [ "$(session_property "$session" LockedHint)" = yes ] ;;
    esac
}
unlocked() { ! locked && ! prompt_running; }
gone() { ! kill -0 "$1" 2>/dev/null; }
# SECONDS have passed since the time T (seconds since the epoch).
past() { awk -v t="$1" -v seconds="$2" -v now="$(date +%s.%N)" 'BEGIN { exit !(now >= t + seconds) }'; }
prompt_running() { pgrep -u "$user" -f "$(prompt_of "$desktop")" >/dev/null; }

# What a failure is judged by: the counts, and where the locker went wrong,
# the session too.
show() {
    echo "-- seat0's sessions:"
    sessions
    echo "-- the journal's accesses:"
    journalctl -q MESSAGE_ID=$recorded_id --since "@$started" -o cat
}
show_session() {
    show
    echo "-- $user's processes:"
    pgrep -a -u "$user" | cut -c1-150
    echo "-- the session's errors, last lines:"
    grep -v '^ALSA' "/home/$user/.xsession-errors" 2>/dev/null | tail -n 15
}
trouble() { fail "$desktop, $*"; show; }
stuck() { fail "$desktop, $*"; show_session; }

logger_running() { pgrep -u "$user" -x tallix >/dev/null; }
logger_gone() { ! logger_running; }
user_gone() { ! loginctl show-user "$user" >/dev/null 2>&1; }

# logind's signals about sessions and sleep, from the start.
dbus-monitor --system "type='signal',sender='org.freedesktop.login1',interface='org.freedesktop.login1.Session'" \
    "type='signal',sender='org.freedesktop.login1',member='PrepareForSleep'" >"$work/logind" 2>&1 &
monitor=$!
trap 'kill "$monitor"; rm -rf "$work"' EXIT
mark_signals() { signals_mark=$(grep -c '' "$work/logind"); }
signals_since() {
    tail -n "+$((signals_mark + 1))" "$work/logind" | sed -n 's/.*member=\([A-Za-z]*\).*/\1/p' | sort | uniq -c |
        awk '{ printf "%s%s x%d", (NR > 1 ? ", " : ""), $2, $1 } END { if (!NR) printf "no signal" }'
}
# PAM's refusals of the password at the locker's service since the round
# began, each as the program that asked PAM, its uid, its pid and when.
refusals() {
    journalctl -q --since "@$round_start" -o short-unix |
        grep -F "pam_unix($(service_of "$desktop"):auth): authentication failure" |
        sed -n 's/^\([0-9.]*\) [^ ]* \([^ []*\)\[\([0-9]*\)\]: .* euid=\([0-9]*\) .*/\2 uid \4 pid \3 at \1/p'
}
refused_more_than() { [ "$(refusals | grep -c '')" -gt "$1" ]; }

# Types at the locker's prompt what it asks for and Return, as a person
# would; the keys go to the locker, which holds the keyboard. What an
# earlier try left in the field goes first.
enter() {
    as_user xdotool key --delay 10 $(printf 'BackSpace %.0s' $(seq 30))
    as_user xdotool type --delay 40 "$1"
    as_user xdotool key Return
}
# The mouse moves and Control goes down, which type nothing: a locker that
# shows only its lock shows its prompt then (mate-screensaver heeds only
# the key, xscreensaver only a mouse that moves more than 10 pixels, and
# not at once after it locks), and xscreensaver starts the program of the
# prompt anew after each refusal.
nudge=50
nudged() {
    as_user xdotool mousemove_relative -- "$nudge" "$nudge"
    nudge=$((-nudge))
    as_user xdotool key ctrl
    within 2 prompt_running
}
show_prompt() { within 20 nudged; }
# A prompt not yet drawn, or still telling of the last refusal, drops the
# keys: the password goes again until PAM refuses it.
enter_wrong() {
    local try refused
    refused=$(refusals | grep -c '')
    for try in 1 2 3; do
        show_prompt || return 1
        enter "$wrong"
        within 30 refused_more_than "$refused" && return 0
        echo "  (the wrong password went unheard, try $try)"
    done
    return 1
}
enter_right() {
    local try
    for try in 1 2 3; do
        show_prompt || return 1
        enter "$password"
        returned=$(date +%s.%N)
        within 30 unlocked && return 0
        echo "  (the right password went unheard, try $try)"
    done
    return 1
}
# Seconds from the Return of the right password to the newest record's
# journal entry.
since_return() {
    awk -v from="$returned" -v to="$(newest_field __REALTIME_TIMESTAMP)" 'BEGIN { printf "%.2f", to / 1e6 - from }'
}

# A lock by WAY (own, logind or suspend), the wrong password and the right one.
round() {
    local way=$1 added after_wrong=0 lock_start=$SECONDS
    echo "-- $desktop: lock by $way"
    before=$(records)
    mark_journal
    mark_signals
    round_start=$(date +%s)
    case $way in
    own) lock_by_locker || trouble "its own lock command failed" ;;
    logind) loginctl lock-session "$session" || trouble "loginctl lock-session failed" ;;
    suspend) systemctl suspend || trouble "systemctl suspend failed" ;;
    esac
    if ! within 90 locked; then
        if [ "$way" = suspend ]; then
            echo "  the locker did not lock on the suspend; logind: $(signals_since)"
            added=$(added_since "$before" 1 30)
            [ "$added" -eq 1 ] || trouble "the wake into an unlocked session added $added records, not 1"
            echo "  the wake added $added record(s), named '$(newest_source)'"
        else
            stuck "no lock by $way"
        fi
        return
    fi
    echo "  locked after $((SECONDS - lock_start)) s"
    if enter_wrong; then
        local refuser uid pid at
        read -r refuser _ uid _ pid _ at <<<"$(refusals | tail -n 1)"
        echo "  the wrong password was refused by $refuser as uid $uid; logind, while locked:" \
            "LockedHint=$(session_property "$session" LockedHint) IdleHint=$(session_property "$session" IdleHint)"
        # PAM holds a refused prompt for its fail delay of 2 s, and the
        # prompt drops the keys typed meanwhile; xscreensaver-auth tells of
        # the refusal, then ends.
        within 10 past "$at" 3
        [ "$desktop" != xscreensaver ] || within 30 gone "$pid"
    else
        stuck "PAM never heard the wrong password at $(prompt_of "$desktop")"
    fi
    after_wrong=$(added_since "$before" 0 0)
    if [ "$way" = suspend ]; then
        # The wake may count before the unlock.
        [ "$after_wrong" -le 1 ] || trouble "the suspend and the wrong password added $after_wrong records"
    else
        [ "$after_wrong" -eq 0 ] || trouble "the lock and the wrong password added $after_wrong records"
    fi
    if ! enter_right; then
        stuck "the right password did not unlock $(prompt_of "$desktop")"
        return
    fi
    added=$(added_since "$before" 1 30)
    local timing="no record"
    ((added > 0)) && timing="$(since_return) s from the Return to the record"
    echo "  unlocked; logind: $(signals_since); LockedHint=$(session_property "$session" LockedHint)"
    echo "  added $added record(s), the newest named '$(newest_source)'; $timing"
    if [ "$added" -ne 1 ]; then
        trouble "the lock by $way and the unlock added $added records, not 1"
    elif [ "$way" = suspend ]; then
        case $(newest_source) in wake | unlock) ;; *) trouble "the wake and unlock are named '$(newest_source)'" ;; esac
    else
        [ "$(newest_source)" = unlock ] || trouble "the unlock is named '$(newest_source)' in the journal"
    fi
    [ "$(told)" -eq "$added" ] || trouble "the journal tells $(told) accesses for the $added records"
}

# What a desktop needs that a person would set up in it.
prepare() {
    case $desktop in
    xscreensaver)
        # Xfce starts no xscreensaver of its own; a user who wants it there
        # adds it to the autostart, in Xfce only, where no other locker
        # fights it for the keyboard, and turns its locking on.
        install -d -o "$user" -g "$user" "/home/$user/.config" "/home/$user/.config/autostart"
        printf '[Desktop Entry]\nType=Application\nName=XScreenSaver\nExec=xscreensaver --no-splash\nOnlyShowIn=XFCE;\n' \
            >"/home/$user/.config/autostart/xscreensaver.desktop"
        printf 'mode: blank\nlock: True\nsplash: False\n' >"/home/$user/.xscreensaver"
        chown "$user:" "/home/$user/.config/autostart/xscreensaver.desktop" "/home/$user/.xscreensaver"
        ;;
    esac
}

echo "== LightDM and $user, from $cache"
install_from "$cache" $(group_packages "$cache" lightdm) || give_up "LightDM did not install"
set_up_lightdm mate || give_up "no user nor LightDM settings"
echo "installed LightDM $(dpkg-query -W -f '${Version}' lightdm) in $((SECONDS)) s"

for desktop in "${desktops[@]}"; do
    echo "== $desktop"
    desktop_start=$SECONDS
    if ! install_from "$cache" $(group_packages "$cache" "$desktop"); then
        fail "$desktop did not install"
        continue
    fi
    install_time=$((SECONDS - desktop_start))
    echo "installed $desktop in $install_time s"
    prepare
    autologin_session "$(session_of "$desktop")"
    before=$(records)
    login_start=$SECONDS
    systemctl start lightdm || give_up "LightDM did not start"
    if within 90 user_active; then
        session=$(active_session)
        within 60 at_least $((before + 1)) || trouble "the autologin was not recorded"
        within 180 locker_ready || stuck "its locker did not start"
        # The autostart logger ends before the locks begin, so as not to
        # take the keys typed at them.
        within 60 logger_gone || trouble "the autostart logger did not end"
        echo "logged in, its locker waiting, in $((SECONDS - login_start)) s"
        for way in own logind suspend; do
            round "$way"
            # A round that did not unlock leaves the next nothing to do.
            unlocked || { stuck "still locked after the lock by $way"; break; }
        done
    else
        stuck "no autologin session of $user in $(session_of "$desktop")"
    fi
    systemctl stop lightdm
    loginctl terminate-user "$user" 2>/dev/null
    within 60 user_gone || trouble "$user's processes outlived the session"
    echo "$desktop: installed in $install_time s, all in $((SECONDS - desktop_start)) s"
done

finish locker_desktops
