#!/usr/bin/env bash
# A real Xfce desktop under LightDM, its greeter and light-locker, on Xvfb,
# in a desktop boot of booted_system.sh: the accesses a person makes at a
# desktop, each counted in the log as it should be. An autologin is one
# access, which the autostart logger joins; the greeter is none; the
# password typed at the greeter after a lock is one; a suspend and the
# unlock after the wake are one in all; a logout is none; a password login
# at the greeter is one.
# Usage: desktop_session.sh CACHE
#   as root, inside `booted_system.sh boot STATE DEB desktop`, with CACHE
#   filled by desktop_packages.sh
set -uo pipefail

tests=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$tests/helpers.sh"
source "$tests/desktop_helpers.sh"
require_throwaway_root desktop_session

cache=$1
log=/var/lib/tallix/Date.txt
recorded_id=f91763fc1afb493ca8572020c6efd366
lightdm_log=/var/log/lightdm/lightdm.log
user=tallix-desk
password=desk-pass-2468
started=$(date +%s)

# What a failure is judged by.
show() {
    echo "-- active VT $(cat /sys/class/tty/tty0/active), seat0's sessions:"
    sessions
    echo "-- $lightdm_log, last lines:"
    tail -n 25 "$lightdm_log"
    echo "-- the greeter's log:"
    tail -n 10 /var/log/lightdm/seat0-greeter.log 2>/dev/null
    echo "-- the journal's accesses:"
    journalctl -q MESSAGE_ID=$recorded_id --since "@$started" -o cat
}
trouble() { fail "$*"; show; }
stuck() { show; give_up "$*"; }

logger_running() { pgrep -u "$user" -x tallix >/dev/null; }
logger_gone() { ! logger_running; }
# Waits in the background for the autostart logger of the login to come.
watch_for_logger() {
    within 90 logger_running &
    logger_watch=$!
}

# LightDM's greeter, found by its process: its display and X authority.
greeter_pid() { pgrep -n -u lightdm -f '^/usr/sbin/lightdm-gtk-greeter'; }
greeter() {
    local environment
    environment=$(tr '\0' '\n' <"/proc/$(greeter_pid)/environ") || return 1
    env DISPLAY="$(sed -n 's/^DISPLAY=//p' <<<"$environment")" \
        XAUTHORITY="$(sed -n 's/^XAUTHORITY=//p' <<<"$environment")" "$@"
}
# LightDM's log since mark_lightdm_log.
mark_lightdm_log() { lightdm_mark=$(grep -c '' "$lightdm_log"); }
lightdm_said() { tail -n "+$((lightdm_mark + 1))" "$lightdm_log"; }
# The greeter shows, and PAM has asked it at least N questions.
greeter_asked() {
    local session
    session=$(active_session)
    [ -n "$session" ] && [ "$(session_property "$session" Class)" = greeter ] &&
        [ "$(lightdm_said | grep -c 'Prompt greeter')" -ge "$1" ]
}
# Types the user's name when PAM asks for it, then the password; waits for
# the user's session to be seat0's active one.
log_in_at_greeter() {
    within 60 greeter_asked 1 || stuck "the greeter asked nothing"
    local asked=1
    # A greeter that knows whom to ask for asks PAM for the password only.
    if lightdm_said | grep "Started with service 'lightdm'" | tail -n 1 | grep -q "username '(null)'"; then
        greeter xdotool key ctrl+a
        greeter xdotool type --delay 20 "$user"
        greeter xdotool key Return
        asked=2
        within 30 greeter_asked $asked || stuck "the greeter did not ask for the password after the user name"
    fi
    greeter xdotool type --delay 20 "$password"
    greeter xdotool key Return
    within 60 user_active || stuck "the password typed at the greeter opened no session of $user"
}
# one_unlock WHAT [SOURCES]: WHAT, since $before and mark_journal, added
# one record, which the journal tells once, named unlock or one of SOURCES.
one_unlock() {
    local added
    added=$(added_since "$before" 1 10)
    if [ "$added" -ne 1 ]; then
        trouble "$1 added $added records, not 1"
    elif ! [[ " ${2:-unlock} " == *" $(newest_source) "* ]]; then
        trouble "$1 is named '$(newest_source)' in the journal"
    fi
    [ "$(told)" -eq "$added" ] || trouble "the journal tells $(told) accesses of $user for the $added records of $1"
}

echo "== LightDM, Xfce and light-locker, from $cache"
install_from "$cache" $(cat "$cache/packages") || give_up "the desktop did not install"
echo "installed LightDM $(dpkg-query -W -f '${Version}' lightdm) in $SECONDS s"
set_up_lightdm xfce || exit 1

echo "== LightDM logs $user in into Xfce on its own: one access, which the autostart logger joins"
step=$SECONDS
before=$(records)
watch_for_logger
systemctl start lightdm || stuck "LightDM did not start"
within 90 user_active || stuck "no autologin session of $user"
wait "$logger_watch" || trouble "the autostart logger did not run"
within 30 logger_gone || trouble "the autostart logger did not end"
within 30 pgrep -u "$user" -x light-locker >/dev/null || stuck "light-locker did not start"
added=$(added_since "$before" 1 5)
[ "$added" -eq 1 ] || trouble "the autologin added $added records, not 1"
[ "$(newest_source)" = "graphical lightdm-autologin" ] || trouble "the autologin is named '$(newest_source)' in the journal"
echo "the autologin, its logger and light-locker took $((SECONDS - step)) s"

echo "== light-locker locks: the greeter adds nothing, the password typed there is one access"
step=$SECONDS
before=$(records)
mark_lightdm_log
mark_journal
as_user light-locker-command --lock || trouble "light-locker-command --lock failed"
within 60 greeter_asked 1 || stuck "no greeter after the lock"
[ "$(records)" -eq "$before" ] || trouble "the lock and the greeter added $(($(records) - before)) records"
echo "seat0 while the greeter shows:"
sessions
log_in_at_greeter
# LightDM's log may reach its file after the session is active again.
returned() { lightdm_said | grep -q 'Returning to existing user session'; }
within 10 returned || trouble "LightDM did not return to $user's session"
one_unlock "the unlock"
echo "the lock and the unlock took $((SECONDS - step)) s"

echo "== a suspend, and the unlock at the greeter after the wake: one access in all"
step=$SECONDS
before=$(records)
mark_lightdm_log
mark_journal
mark=$(date +%s)
systemctl suspend || trouble "systemctl suspend failed"
within 60 greeter_asked 1 || stuck "no greeter after the suspend"
woke() { journalctl -q --since "@$mark" -u systemd-suspend.service | grep -q 'returned from sleep'; }
within 30 woke || trouble "the system did not return from its sleep"
log_in_at_greeter
# light-locker locks when the system wakes: the unlock is the return, or,
# when the lock came after the service's look at the seat, the wake is.
one_unlock "the suspend and the unlock after it" "unlock wake"
echo "the suspend and the unlock took $((SECONDS - step)) s"

echo "== a logout adds nothing, nor does the greeter after it"
step=$SECONDS
before=$(records)
session=$(active_session)
mark_lightdm_log
as_user xfce4-session-logout --logout || trouble "xfce4-session-logout failed"
within 60 greeter_asked 1 || stuck "no greeter after the logout"
ended() { [ "$(session_property "$session" State)" != active ] && [ "$(session_property "$session" State)" != online ]; }
within 30 ended || trouble "$user's session is still $(session_property "$session" State) after the logout"
added=$(added_since "$before" 0 0)
[ "$added" -eq 0 ] || trouble "the logout added $added records"
echo "the logout took $((SECONDS - step)) s"

echo "== a password login at the greeter: one access, which the autostart logger joins"
step=$SECONDS
before=$(records)
watch_for_logger
log_in_at_greeter
[ "$(active_session)" != "$session" ] || trouble "the login at the greeter is the session that logged out"
wait "$logger_watch" || trouble "the autostart logger did not run"
within 30 logger_gone || trouble "the autostart logger did not end"
added=$(added_since "$before" 1 5)
[ "$added" -eq 1 ] || trouble "the login at the greeter added $added records, not 1"
[ "$(newest_source)" = "graphical lightdm" ] || trouble "the login at the greeter is named '$(newest_source)' in the journal"
echo "the login took $((SECONDS - step)) s"

echo "== the greeter's own user never counts"
greeters=$(journalctl -q --since "@$started" MESSAGE_ID=$recorded_id TALLIX_USER=lightdm -o cat)
[ -z "$greeters" ] || trouble "the greeter was recorded: $greeters"

systemctl stop lightdm
finish desktop_session
