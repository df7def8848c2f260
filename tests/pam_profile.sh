#!/usr/bin/env bash
# Opens PAM sessions with pamtester through the package's pam-auth-update
# profile, as root in a throwaway root (see throwaway_root.sh), and checks
# which logins it records: a console login and an ssh login, once each;
# never a display manager's session, su or cron; nothing while the profile
# is off; and never a failed session, whatever the recorder does.
# Usage: pam_profile.sh DEB
set -uo pipefail

deb=$1
log=/var/lib/tallix/Date.txt
syslog=/tmp/syslog

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
records() { grep -c '' "$log"; }

dpkg -i "$deb" >/tmp/dpkg.log 2>&1 || { cat /tmp/dpkg.log; exit 1; }
useradd --no-create-home --shell /usr/sbin/nologin tallix-user
# The services of login, sshd, a display manager, su and cron, each with
# the sessions pam-auth-update makes; the system log is a file here.
for service in login sshd gdm-password su; do
    printf 'session required pam_permit.so\n@include common-session\n' >"/etc/pam.d/$service"
done
printf 'session required pam_permit.so\n@include common-session-noninteractive\n' >/etc/pam.d/cron
printf '#!/bin/sh\nprintf "%%s\\n" "$*" >>%s\n' "$syslog" >/usr/bin/logger

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

echo "== a recorder that fails, or is missing, never fails the session"
cp "$log" /tmp/kept
printf 'junk\r\n' >>"$log"
session login tty2 0
grep -q 'login of tallix-user not recorded: .*riga' "$syslog" || fail "the failure is not in the system log"
cp /tmp/kept "$log"
mv /usr/lib/tallix/tallix-record /tmp/recorder
session sshd ssh 0
grep -q 'sshd login of tallix-user not recorded' "$syslog" || fail "the missing recorder is not in the system log"
mv /tmp/recorder /usr/lib/tallix/tallix-record

echo "== off again, and gone with the package"
pam-auth-update --disable tallix
session login tty1 0
pam-auth-update --enable tallix
dpkg -r tallix >/tmp/dpkg.log 2>&1 || { cat /tmp/dpkg.log; fail "dpkg -r"; }
grep -q pam-session /etc/pam.d/common-session && fail "removing the package left the profile on"

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "pam_profile: all checks passed"
