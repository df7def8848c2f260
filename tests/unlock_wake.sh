#!/usr/bin/env bash
# Unlocks and wakes as accesses, with the real logind of the booted
# throwaway system (see booted_system.sh): sessions of real users on seat0,
# their LockedHint and logind's Lock and Unlock, a suspend that runs
# logind's and systemd-sleep's whole path over a stand-in /sys/power.
# Usage: unlock_wake.sh    (as root, inside the booted system, package installed)
set -uo pipefail

tests=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$tests/helpers.sh"
require_throwaway_root unlock_wake

log=/var/lib/tallix/Date.txt
settings=/etc/tallix/record.conf
recorded_id=f91763fc1afb493ca8572020c6efd366
refused_id=85f5635bcada43f88d0347d462c227b0

useradd --create-home --shell /bin/bash ret-alice || exit 1
useradd --create-home --shell /bin/bash ret-bob || exit 1
useradd --create-home --shell /bin/bash ret-carol || exit 1
useradd --create-home --shell /bin/bash ret-dave || exit 1
useradd --system --create-home --shell /bin/bash ret-system || exit 1
password=ret-pass-1357
printf 'ret-alice:%s\nret-bob:%s\n' "$password" "$password" | chpasswd || exit 1
# The stacks of screen lockers, of polkit and of sudo, as their packages
# write them: each takes the password through common-auth.
for service in xscreensaver mate-screensaver swaylock kde polkit-1 sudo; do
    printf '@include common-auth\n' >"/etc/pam.d/$service"
done

records() { grep -c '' "$log"; }
# Sessions on seat0, each on a VT of its own behind the one in front, or on
# the one in front (the VT that is active now, if the machine has VTs).
front_vt() { sed -n 's/^tty//p' /sys/class/tty/tty0/active 2>/dev/null; }
next_vt=40
opening=0
sessions=()
# Opens a session of USER on seat0 that lasts until the test ends, as a
# display manager would ($class: user unless set), on VT (one behind unless
# given); its id in $opened.
open_session() {
    local user=$1 vt=${2-$((next_vt++))} id="" ready=/tmp/unlock-wake-ready.$((++opening))
    [ -n "$(front_vt)" ] || vt=""
    # Nothing holds the test's output. The session's command runs once PAM
    # has opened it, the login's own record written.
    env XDG_SEAT=seat0 ${vt:+XDG_VTNR=$vt} XDG_SESSION_TYPE=x11 XDG_SESSION_CLASS=${class:-user} \
        setsid python3 "$tests/pam_login.py" "$user" "pts/${vt:-0}" \
        bash -c "touch $ready; exec -a unlock-wake-session-input sleep 900" </dev/null >/dev/null 2>&1 &
    for _ in $(seq 100); do
        # Not the session of the user's service manager (systemd 256 and later).
        [ -e "$ready" ] && id=$(loginctl list-sessions --no-legend |
             awk -v user="$user" -v known=" ${sessions[*]} " '$3 == user && index(known, " " $1 " ") == 0 { print $1 }' |
             while read -r candidate; do
                 case $(loginctl show-session -P Class "$candidate") in manager*) ;; *) echo "$candidate" ;; esac
             done)
        [ -n "$id" ] && { sessions+=("$id"); opened=$id; return; }
        sleep 0.1
    done
    give_up "no session of $user"
}
path_of() {
    busctl call org.freedesktop.login1 /org/freedesktop/login1 org.freedesktop.login1.Manager GetSession s "$1" |
        sed 's/^o "\(.*\)"$/\1/'
}
# The session's owner sets its LockedHint, as GNOME and KDE do.
hint() { runuser -u "$(loginctl show-session -P Name "$1")" -- busctl call org.freedesktop.login1 "$(path_of "$1")" \
             org.freedesktop.login1.Session SetLockedHint b "$2"; }
# Waits a little for the service, which hears logind a moment later.
added_since() {
    local before=$1 expected=$2
    for _ in $(seq 150); do
        [ "$(records)" -ge $((before + expected)) ] && break
        sleep 0.1
    done
    sleep 0.3
    echo $(($(records) - before))
}
expect() {    # WHAT BEFORE ADDED
    local added
    added=$(added_since "$2" "$3")
    [ "$added" -eq "$3" ] || fail "$1 added $added records, not $3"
}
last_source() { journalctl -q -o export MESSAGE_ID=$recorded_id -n 1 | sed -n "s/^$1=//p"; }
wake() { systemctl suspend || fail "systemctl suspend failed"; }
# Runs COMMAND as USER inside logind's SESSION, as the session's own
# programs run: a screen locker, or anything the user starts there.
in_session() {
    local session=$1 user=$2 cgroup
    shift 2
    cgroup=$(systemctl show -P ControlGroup "$(loginctl show-session -P Scope "$session")")
    # Into the scope in each hierarchy that has it: logind reads the
    # unified one where there is one, the named systemd one otherwise.
    sh -c 'for tree in /sys/fs/cgroup /sys/fs/cgroup/unified /sys/fs/cgroup/systemd; do
               [ ! -e "$tree$1/cgroup.procs" ] || echo $$ >"$tree$1/cgroup.procs" || exit 1
           done; shift; exec "$@"' sh "$cgroup" \
        setpriv --reuid="$user" --regid="$(id -g "$user")" --init-groups --reset-env "$@"
}
# USER's screen locker in SESSION takes a PASSWORD through PAM SERVICE, as
# lockers do; fails where PAM refuses it.
locker_takes() {    # SESSION USER SERVICE PASSWORD
    echo "$4" | in_session "$1" "$2" pamtester "$3" "$2" authenticate >/dev/null 2>&1
}

# Seconds from a time to the newest record's journal entry.
since() {
    awk -v from="$1" -v to="$(journalctl -q -o export MESSAGE_ID=$recorded_id -n 1 | sed -n 's/^__REALTIME_TIMESTAMP=//p')" \
        'BEGIN { printf "%.3f s", to / 1e6 - from }'
}
wake_delay=8

echo "== the service starts at boot, and hears logind"
systemctl is-enabled --quiet tallix-record.service || fail "the service is not enabled at boot"
# As at boot: a test before this one may have stopped it.
systemctl start tallix-record.service
open_session ret-alice "$(front_vt)" && alice=$opened
open_session ret-bob && bob=$opened
open_session ret-carol && carol=$opened

echo "== an unlock is an access of the session's owner, once"
before=$(records)
hint "$alice" true
expect "locking the screen" "$before" 0
unlocked=$(date +%s.%N)
hint "$alice" false
expect "LockedHint true then false" "$before" 1
echo "from the unlock to its record: $(since "$unlocked")"
[ "$(last_source TALLIX_SOURCE)" = unlock ] || fail "the unlock is not named unlock in the journal"
[ "$(last_source TALLIX_SESSION)" = "$alice" ] || fail "the unlock does not name session $alice"
[ "$(last_source TALLIX_USER)" = ret-alice ] || fail "the unlock is not ret-alice's"
before=$(records)
runuser -u ret-alice -- loginctl lock-session "$alice"
runuser -u ret-alice -- loginctl unlock-session "$alice"
expect "loginctl lock-session, unlock-session" "$before" 1
before=$(records)
hint "$alice" true
loginctl lock-session "$alice"
loginctl unlock-session "$alice"
hint "$alice" false
expect "the two signals of one unlock" "$before" 1
before=$(records)
hint "$alice" false
loginctl unlock-session "$alice"
expect "an unlock of a session that was not locked" "$before" 0

echo "== nobody can unlock someone else's session for them"
hint "$alice" true
before=$(records)
service=$(busctl --system list --no-legend | awk '$4 == "tallix" && $6 == "tallix-record.service" { print $1 }')
[ -n "$service" ] || fail "the service has no connection to the system bus"
runuser -u ret-bob -- busctl emit --destination="$service" "$(path_of "$alice")" org.freedesktop.login1.Session Unlock
runuser -u ret-bob -- busctl emit --destination="$service" "$(path_of "$alice")" org.freedesktop.DBus.Properties \
    PropertiesChanged 'sa{sv}as' org.freedesktop.login1.Session 1 LockedHint b false 0
runuser -u ret-bob -- busctl call org.freedesktop.login1 "$(path_of "$alice")" org.freedesktop.login1.Session \
    SetLockedHint b false 2>/dev/null && fail "logind let ret-bob set ret-alice's LockedHint"
expect "ret-bob's forged signals for ret-alice's session" "$before" 0
hint "$alice" false
expect "ret-alice's own unlock after them" "$before" 1

echo "== a screen locker that takes the password itself: an access of the session's owner, once"
before=$(records)
locker_takes "$alice" ret-alice xscreensaver wrong-password && fail "xscreensaver took a wrong password"
expect "a wrong password at the locker" "$before" 0
# A locker's unlock just after logind's is taken for its word on the same
# unlock, as KDE's comes: these come apart from the one before.
apart() {
    journalctl -q -o export MESSAGE_ID=$recorded_id -n 1 | sed -n 's/^__REALTIME_TIMESTAMP=//p' |
        awk -v now="$(date +%s%N)" '{ exit !(now / 1000 - $1 > 5.5e6) }'
}
within 10 apart || fail "the last record does not come apart"
unlocked=$(date +%s.%N)
locker_takes "$alice" ret-alice xscreensaver "$password" || fail "xscreensaver did not take ret-alice's password"
expect "ret-alice's password at xscreensaver" "$before" 1
echo "from the locker's unlock to its record: $(since "$unlocked")"
[ "$(last_source TALLIX_SOURCE)" = unlock ] || fail "the locker's unlock is not named unlock in the journal"
[ "$(last_source TALLIX_SESSION)" = "$alice" ] || fail "the locker's unlock does not name session $alice"
[ "$(last_source TALLIX_USER)" = ret-alice ] || fail "the locker's unlock is not ret-alice's"
before=$(records)
locker_takes "$alice" ret-alice mate-screensaver "$password" || fail "mate-screensaver did not take the password"
expect "the next unlock at another locker" "$before" 1
before=$(records)
# As swayidle's unit starts it: the unit lives on after the locker's answer.
echo "$password" | setpriv --reuid=ret-alice --regid="$(id -g ret-alice)" --init-groups --reset-env \
    env XDG_RUNTIME_DIR="/run/user/$(id -u ret-alice)" systemd-run --user --wait --pipe --quiet \
    sh -c 'pamtester swaylock ret-alice authenticate && sleep 1' >/dev/null 2>&1 ||
    fail "swaylock under the user's manager did not take the password"
expect "an unlock at a locker that the user's service manager started" "$before" 1
[ "$(last_source TALLIX_SESSION)" = "$alice" ] || fail "that unlock does not name ret-alice's graphical session"
before=$(records)
for service in polkit-1 sudo; do
    locker_takes "$alice" ret-alice "$service" "$password" || fail "$service did not take ret-alice's password"
done
locker_takes "$bob" ret-bob xscreensaver "$password" || fail "xscreensaver did not take ret-bob's password"
expect "polkit's and sudo's checks, and a locker's in a session behind another" "$before" 0
# What a user sends for someone else, or from outside their session, is not
# believed; their own in their own session is, as a logger start would be.
said=$(in_session "$bob" ret-bob python3 "$tests/socket_client.py" /run/tallix-record.socket "unlock	ret-alice	xscreensaver")
[[ $said == error* ]] || fail "ret-bob's forged unlock of ret-alice was answered: $said"
said=$(runuser -u ret-alice -- python3 "$tests/socket_client.py" /run/tallix-record.socket "unlock	ret-alice	xscreensaver")
[[ $said == error* ]] || fail "ret-alice's unlock from outside her session was answered: $said"
expect "forged unlocks" "$before" 0

echo "== a locker that logind hears too (KDE's): one unlock, whichever comes first"
before=$(records)
hint "$alice" true
locker_takes "$alice" ret-alice kde "$password" || fail "kde did not take ret-alice's password"
hint "$alice" false
expect "KDE's PAM step, then its LockedHint" "$before" 1
before=$(records)
hint "$alice" true
hint "$alice" false
locker_takes "$alice" ret-alice kde "$password" || fail "kde did not take ret-alice's password"
expect "its LockedHint, then its PAM step" "$before" 1

echo "== a greeter's session, a system account's: no one came back"
class=greeter open_session ret-bob && greeter=$opened
open_session ret-system && system=$opened
before=$(records)
for session in "$greeter" "$system"; do
    loginctl lock-session "$session"
    loginctl unlock-session "$session"
done
expect "unlocks of a greeter's and a system account's sessions" "$before" 0
loginctl terminate-session "$greeter" "$system"

echo "== a wake: one return, one record"
# Where another program switched the machine's VT meanwhile, a session in front anew.
[ "$(loginctl show-seat -P ActiveSession seat0)" = "$alice" ] || { open_session ret-alice "$(front_vt)" && alice=$opened; }
[ "$(loginctl show-seat -P ActiveSession seat0)" = "$alice" ] ||
    give_up "ret-alice's session is not in front, but $(loginctl show-seat -P ActiveSession seat0)"
before=$(records)
woke=$(date +%s.%N)
wake
expect "a wake into an unlocked session" "$before" 1
[ "$(last_source TALLIX_SOURCE)" = wake ] || fail "the wake is not named wake in the journal"
[ "$(last_source TALLIX_USER)" = ret-alice ] || fail "the wake is not ret-alice's"
echo "from the suspend to the wake's record: $(since "$woke")"
before=$(records)
hint "$alice" true
wake
sleep $((wake_delay + 1))
expect "a wake into a locked session" "$before" 0
hint "$alice" false
expect "a session locked before the sleep and unlocked after it" "$before" 1
# A Lock that no LockedHint or Unlock ever follows, as some lockers leave it:
# logind says the session is not locked, so the wake counts, and the late
# Unlock is the same return.
before=$(records)
loginctl lock-session "$alice"
wake
expect "a wake after a Lock that logind never undid" "$before" 1
loginctl unlock-session "$alice"
expect "the late unlock of that Lock" "$before" 1

echo "== the administrator chooses"
cp "$settings" /tmp/record.conf.kept
printf 'Unlock=no\nWake=no\nColour=blue\n' >"$settings"
mark=$(date '+%Y-%m-%d %H:%M:%S')
systemctl restart tallix-record.service
before=$(records)
hint "$alice" true
hint "$alice" false
wake
sleep $((wake_delay + 1))
locker_takes "$alice" ret-alice xscreensaver "$password" || fail "xscreensaver did not take the password"
expect "an unlock and a wake with both off" "$before" 0

journalctl -q --since "$mark" -u tallix-record.service -g 'riga ignorata: Colour=blue' >/dev/null ||
    fail "a line the service cannot read is not told"
cp /tmp/record.conf.kept "$settings"
systemctl restart tallix-record.service

echo "== without the system bus, the rest still counts; logind restarted, it is followed again"
mkdir -p /run/systemd/system/tallix-record.service.d
printf '[Service]\nInaccessiblePaths=/run/dbus\n' >/run/systemd/system/tallix-record.service.d/no-bus.conf
systemctl daemon-reload
mark=$(date '+%Y-%m-%d %H:%M:%S')
systemctl restart tallix-record.service
before=$(records)
runuser -u ret-dave -- /usr/lib/tallix/tallix >/dev/null 2>&1 || fail "a logger start without the bus failed"
expect "a logger start without the bus" "$before" 1
[ "$(journalctl -q --since "$mark" -u tallix-record.service -g 'non sono contati' | grep -c '')" -eq 1 ] ||
    fail "the service did not say once that unlocks and wakes are not counted"
rm -r /run/systemd/system/tallix-record.service.d
systemctl daemon-reload
systemctl restart tallix-record.service
systemctl restart systemd-logind.service
sleep 1
before=$(records)
hint "$alice" true
hint "$alice" false
expect "an unlock after logind's restart" "$before" 1

echo "== the system bus restarted: the service is back on it within a second, and counts the next unlock"
mark=$(date +%s.%N)
systemctl restart dbus.service
bus_back=$(date +%s.%N)
back_on_bus() { journalctl -q --since "@$mark" -u tallix-record.service -g 'di nuovo raggiungibile' | grep -q .; }
for _ in $(seq 100); do back_on_bus && break; sleep 0.1; done
back_on_bus || fail "the service did not say it was back on the bus"
echo "from the bus's restart to the service back on it: $(journalctl -q --since "@$mark" -u tallix-record.service \
    -g 'di nuovo raggiungibile' -o export | sed -n 's/^__REALTIME_TIMESTAMP=//p' | head -n 1 |
    awk -v from="$bus_back" '{ printf "%.3f s", $1 / 1e6 - from }')"
# logind, which leaves with the bus, is back too before anyone can unlock;
# systemd 257's stays off the new bus until it is started again, as an
# administrator who restarts the bus must do there.
logind_answers() {
    busctl --timeout=1 call org.freedesktop.login1 /org/freedesktop/login1 org.freedesktop.login1.Manager \
        ListSessions >/dev/null 2>&1
}
within 10 logind_answers || { systemctl restart systemd-logind.service && within 10 logind_answers; } ||
    fail "logind is not back on the bus"
before=$(records)
hint "$alice" true
hint "$alice" false
expect "an unlock after the bus's restart" "$before" 1

echo "== unlocks count within the person's share"
before=$(records)
for _ in $(seq 14); do
    hint "$carol" true
    hint "$carol" false
done
expect "14 unlocks in a minute" "$before" 12
[ "$(journalctl -q -o export MESSAGE_ID=$refused_id TALLIX_USER=ret-carol -n 1 | sed -n 's/^TALLIX_SOURCE=//p')" = unlock ] ||
    fail "the unlocks over the share are not told as refused"

# Last, when ret-alice's share of the minute is whole again.
echo "== a wake into a session whose locker logind does not know, and the unlock after it: one return"
before=$(records)
wake
expect "a wake into a session whose locker logind does not know" "$before" 1
locker_takes "$alice" ret-alice xscreensaver "$password" || fail "xscreensaver did not take the password"
expect "the unlock after that wake" "$before" 1

for session in "${sessions[@]}"; do loginctl terminate-session "$session" 2>/dev/null; done
pkill -f unlock-wake-session-input
finish unlock_wake
