#!/usr/bin/env bash
# Opens PAM sessions through the package's pam-auth-update profile, as root
# in the booted throwaway system (see booted_system.sh), with pamtester on
# the stacks that login, sshd and the display managers ship, and with real
# logind sessions from pam_login.py. Checks that every interactive login counts
# once, whatever runs in the session; that greeters, system accounts, su,
# runuser, cron and systemd --user never count; that the first logger of a
# recorded session adds nothing and the next does; and that no failure of
# the service fails or delays a login. Ends with the package removed.
# Usage: pam_profile.sh    (as root, inside the booted system, package installed)
set -uo pipefail

tests=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$tests/helpers.sh"
require_throwaway_root pam_profile
log=/var/lib/tallix/Date.txt
logger=/usr/lib/tallix/tallix
recorded_id=f91763fc1afb493ca8572020c6efd366
records() { grep -c '' "$log"; }
# The journal's warnings about tallix-user since the mark.
warnings() { journalctl -q --since "@$mark" -t tallix -p warning TALLIX_USER=tallix-user; }

useradd --create-home --shell /bin/bash tallix-user
# login's own stack shows the message of the day and the last login;
# nothing else may speak.
chmod -x /etc/update-motd.d/*
: >/etc/motd
sed -i '/pam_lastlog/d' /etc/pam.d/login
useradd --system --no-create-home --shell /usr/sbin/nologin tallix-greeter
# The stacks as their packages write them: each includes common-session,
# cron and atd the non-interactive one. login's own stays as it is. The
# system's own stacks come back at the end, for the tests after this.
interactive="sshd gdm-password gdm-autologin gdm-fingerprint gdm-smartcard lightdm sddm su runuser systemd-user polkit-1"
noninteractive="cron atd"
cp -a /etc/pam.d /tmp/pam.d.kept
for service in $interactive; do
    printf 'session required pam_permit.so\n@include common-session\n' >"/etc/pam.d/$service"
done
for service in $noninteractive; do
    printf 'session required pam_permit.so\n@include common-session-noninteractive\n' >"/etc/pam.d/$service"
done

# Opens and closes a session of SERVICE on TTY for USER (tallix-user); it
# must add ADDED records.
session() {
    local service=$1 tty=$2 added=$3 user=${4:-tallix-user} before output operations=(open_session close_session)
    # pam_systemd of systemd 256 and later closes a service manager's session
    # only from inside it; pamtester's end ends it all the same.
    [ "$service" = systemd-user ] && operations=(open_session)
    before=$(records)
    output=$(pamtester -I "tty=$tty" "$service" "$user" "${operations[@]}" 2>&1) ||
        fail "a $service session on $tty failed: $output"
    grep -v -q -e 'successfully' <<<"$output" && fail "a $service session on $tty printed: $output"
    [ "$(records)" -eq $((before + added)) ] ||
        fail "a $service session of $user on $tty added $(($(records) - before)) records, not $added"
}

# Logs tallix-user in through login's stack, a real logind session of the
# type $session_type (tty unless set), and runs COMMANDS there; prints the
# log's record count before them and after each.
login_running() {
    local count="echo COUNT=\$(grep -c '' $log)" commands="" command
    for command in "$@"; do commands+="$command; $count; "; done
    XDG_SESSION_TYPE="${session_type:-tty}" timeout 60 python3 "$tests/pam_login.py" tallix-user pts/9 \
        bash -c "$count; $commands" </dev/null 2>&1 | sed -n 's/^COUNT=\([0-9][0-9]*\)$/\1/p' | tr '\n' ' '
}
desktop_logger="systemd-run --user --wait --quiet $logger"

echo "== on by default, after pam_systemd has registered the session"
grep -q 'pam_exec.so quiet type=open_session /usr/lib/tallix/pam-session' /etc/pam.d/common-session ||
    fail "the profile is not on in common-session"
order=$(grep -n -E 'pam_systemd|pam-session' /etc/pam.d/common-session | cut -d: -f2- | awk '{print $3}' | tr '\n' ' ')
[ "$order" = "pam_systemd.so pam_exec.so " ] || fail "common-session runs, in order: $order"
grep -q pam-session /etc/pam.d/common-session-noninteractive && fail "the profile is in non-interactive sessions"
# Its auth step only once a password was taken: after the primary block.
permit=$(grep -n '^auth.*pam_permit.so' /etc/pam.d/common-auth | cut -d: -f1)
step=$(grep -n '^auth.*pam_exec.so quiet type=auth /usr/lib/tallix/pam-session' /etc/pam.d/common-auth | cut -d: -f1)
[ -n "$step" ] && [ -n "$permit" ] && [ "$step" -gt "$permit" ] ||
    fail "the profile's auth step is not after the primary block of common-auth: $(grep '^auth' /etc/pam.d/common-auth)"

echo "== every interactive login counts, once"
session login tty1 1
session sshd ssh 1
[ "$(journalctl -q -o export MESSAGE_ID=$recorded_id TALLIX_USER=tallix-user -n 1 | sed -n 's/^TALLIX_SOURCE=//p')" = ssh ] ||
    fail "the ssh login is not named ssh in the journal"
for service in gdm-password gdm-autologin gdm-fingerprint gdm-smartcard lightdm sddm; do
    session "$service" /dev/tty2 1
done
[ "$(journalctl -q -o export MESSAGE_ID=$recorded_id TALLIX_USER=tallix-user -n 1 | sed -n 's/^TALLIX_SOURCE=//p')" = "graphical sddm" ] ||
    fail "the sddm login is not named graphical sddm in the journal"
session login tty1 1 root

echo "== greeters, system accounts, su, runuser, cron and systemd --user never count"
XDG_SESSION_CLASS=greeter session gdm-password /dev/tty1 0
session lightdm :0 0 tallix-greeter
for service in su runuser systemd-user polkit-1 cron atd; do
    session "$service" /dev/pts/0 0
done

echo "== a real login and its loggers: the first is the login's access, the next is one more"
before=$(records)
counts=($(login_running "$logger" "$logger"))
echo "records: before the login $before; in the session, then after each logger: ${counts[*]}"
[ "${#counts[@]}" -eq 3 ] || fail "the login session ran: ${counts[*]}"
[ "${counts[0]:-0}" -eq $((before + 1)) ] || fail "the login itself was not recorded once"
[ "${counts[1]:-0}" -eq "${counts[0]:-0}" ] || fail "the first logger of a recorded login added a record"
[ "${counts[2]:-0}" -eq $((${counts[1]:-0} + 1)) ] || fail "the second logger added no record"

echo "== the same in a graphical session from user@UID.service, where desktops start autostart programs"
counts=($(session_type=wayland login_running "$desktop_logger" "$desktop_logger"))
echo "records in the session, then after each logger: ${counts[*]}"
[ "${#counts[@]}" -eq 3 ] || fail "the login session ran: ${counts[*]}"
[ "${counts[1]:-0}" -eq "${counts[0]:-0}" ] || fail "the first logger under user@UID.service added a record"
[ "${counts[2]:-0}" -eq $((${counts[1]:-0} + 1)) ] || fail "the second logger under user@UID.service added none"

echo "== a logger outside any session never takes a console login's place"
counts=($(login_running "$desktop_logger" "$logger"))
echo "records in a console session, after a logger under user@UID.service, after one in the session: ${counts[*]}"
[ "${counts[1]:-0}" -eq $((${counts[0]:-0} + 1)) ] || fail "a logger under user@UID.service took a console login's place"
[ "${counts[2]:-0}" -eq "${counts[1]:-0}" ] || fail "the console session's own logger added a record"

echo "== a hidden autostart entry, or a killed logger, keeps no login out"
before=$(records)
login_running "$logger & kill -KILL \$!" >/dev/null
[ "$(records)" -eq $((before + 1)) ] || fail "a login whose logger was killed added $(($(records) - before)) records"

echo "== off, the logger records as before"
pam-auth-update --disable tallix
session login tty1 0
counts=($(login_running "$logger"))
[ "${counts[1]:-0}" -eq $((${counts[0]:-0} + 1)) ] || fail "with the profile off the logger did not record: ${counts[*]}"

pam-auth-update --enable tallix

echo "== a damaged log, or a service that is gone, never fails or delays the session"
cp "$log" /tmp/kept
printf 'junk\r\n' >>"$log"
mark=$(date +%s)
session login tty2 1
sleep 0.5
warnings | grep -q 'riga' || fail "the damaged line is not in the journal"
cp /tmp/kept "$log"
systemctl stop tallix-record.socket tallix-login.socket tallix-record.service
mark=$(date +%s)
start=$(date +%s%N)
session sshd ssh 0
echo "an ssh session with no service opened in $((($(date +%s%N) - start) / 1000000)) ms"
sleep 0.5
warnings | grep -q 'systemctl start tallix-record.socket' || fail "the missing service is not in the journal"
# A service that accepts but never answers: the step gives up within its second.
systemctl start tallix-record.socket tallix-login.socket tallix-record.service
systemctl kill --signal=STOP tallix-record.service
start=$(date +%s%N)
session sshd ssh 0
took=$((($(date +%s%N) - start) / 1000000))
echo "an ssh session with a frozen service opened in $took ms"
[ "$took" -lt 3000 ] || fail "a frozen service held the session $took ms"
systemctl kill --signal=KILL tallix-record.service

echo "== pam-session run by a user speaks for nobody"
# The journal, not the log's length: the service killed above still records
# the login it held when it starts again.
mark=$(date +%s)
runuser -u tallix-user -- env PAM_TYPE=open_session PAM_SERVICE=sshd PAM_USER=root /usr/lib/tallix/pam-session
sleep 0.5
journalctl --sync
said=$(journalctl -q --since "@$mark" TALLIX_USER=root)
[ -z "$said" ] || fail "a user's pam-session spoke for root: $said"

echo "== gone with the package"
for service in $interactive $noninteractive; do
    rm -f "/etc/pam.d/$service"
    [ ! -e "/tmp/pam.d.kept/$service" ] || cp -a "/tmp/pam.d.kept/$service" /etc/pam.d/
done
dpkg -r tallix tallix-record >/tmp/dpkg.log 2>&1 || { cat /tmp/dpkg.log; fail "dpkg -r"; }
grep -q pam-session /etc/pam.d/common-session /etc/pam.d/common-auth && fail "removing the package left the profile on"

finish pam_profile
