#!/usr/bin/env bash
# Opens PAM sessions with pamtester through the package's pam-auth-update
# profile, as root in the booted throwaway system (see booted_system.sh),
# and checks which logins it records: a console login and an ssh login,
# once each; never a display manager's session, su or cron; nothing while
# the profile is off; and never a failed or delayed session, whatever the
# service does. Ends with the package removed.
# Usage: pam_profile.sh    (as root, inside the booted system, package installed)
set -uo pipefail

tests=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$tests/helpers.sh"
log=/var/lib/tallix/Date.txt
records() { grep -c '' "$log"; }
# The journal's warnings about tallix-user since the mark.
warnings() { journalctl -q --since "@$mark" -t tallix -p warning TALLIX_USER=tallix-user; }

useradd --no-create-home --shell /usr/sbin/nologin tallix-user
# The services of login, sshd, a display manager, su and cron, each with
# the sessions pam-auth-update makes.
for service in login sshd gdm-password su; do
    printf 'session required pam_permit.so\n@include common-session\n' >"/etc/pam.d/$service"
done
printf 'session required pam_permit.so\n@include common-session-noninteractive\n' >/etc/pam.d/cron

# Opens and closes a session of SERVICE on TTY; the records it added must be ADDED.
session() {
    local service=$1 tty=$2 added=$3 before output
    before=$(records)
    output=$(pamtester -I "tty=$tty" "$service" tallix-user open_session close_session 2>&1) ||
        fail "a $service session on $tty failed: $output"
    grep -v -q -e 'successfully' <<<"$output" && fail "a $service session on $tty printed: $output"
    [ "$(records)" -eq $((before + added)) ] ||
        fail "a $service session on $tty added $(($(records) - before)) records, not $added"
}

echo "== the profile is off until the administrator turns it on"
grep -q pam-session /etc/pam.d/common-session && fail "installing turned the profile on"
session login tty1 0

echo "== on: console and ssh logins count, once each"
pam-auth-update --enable tallix
grep -q 'pam_exec.so quiet type=open_session /usr/lib/tallix/pam-session' /etc/pam.d/common-session ||
    fail "the profile is not in common-session"
grep -q pam-session /etc/pam.d/common-session-noninteractive && fail "the profile is in non-interactive sessions"
session login tty1 1
session sshd ssh 1
last=$(tail -n 1 "$log" | tr -d '#\r')
[ -n "$(date -d "$last" +%s 2>/dev/null)" ] || fail "the last record '$last' is not a date"

echo "== graphical logins, su and cron never count"
session gdm-password :0 0
session login :0 0
session su /dev/pts/0 0
session cron cron 0

echo "== a log that fails, or a service that is gone, never fails or delays the session"
cp "$log" /tmp/kept
printf 'junk\r\n' >>"$log"
mark=$(date +%s)
session login tty2 0
sleep 0.5
warnings | grep -q 'riga' || fail "the failure is not in the journal"
cp /tmp/kept "$log"
systemctl stop tallix-record.socket tallix-record.service
mark=$(date +%s)
start=$(date +%s%N)
session sshd ssh 0
echo "an ssh session with no service opened in $((($(date +%s%N) - start) / 1000000)) ms"
sleep 0.5
warnings | grep -q 'systemctl start tallix-record.socket' || fail "the missing service is not in the journal"
# A service that accepts but never answers: the step gives up within its second.
systemctl start tallix-record.socket tallix-record.service
systemctl kill --signal=STOP tallix-record.service
start=$(date +%s%N)
session sshd ssh 0
took=$((($(date +%s%N) - start) / 1000000))
echo "an ssh session with a frozen service opened in $took ms"
[ "$took" -lt 5000 ] || fail "a frozen service held the session $took ms"
systemctl kill --signal=KILL tallix-record.service

echo "== off again, and gone with the package"
pam-auth-update --disable tallix
session login tty1 0
pam-auth-update --enable tallix
dpkg -r tallix >/tmp/dpkg.log 2>&1 || { cat /tmp/dpkg.log; fail "dpkg -r"; }
grep -q pam-session /etc/pam.d/common-session && fail "removing the package left the profile on"

finish pam_profile
