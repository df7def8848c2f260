#!/usr/bin/env bash
# Installs the logger system-wide (as root, no DESTDIR) into a scratch
# prefix and attacks the shared log as ordinary users made for the test.
# Usage: system_install.sh SOURCE-DIR BUILD-DIR BUILD-TYPE FAULTS-LIBRARY
set -uo pipefail

if [ "$(id -u)" -ne 0 ]; then
    echo "system_install: needs root to install system-wide and to make users"
    exit 77
fi

source_dir=$1
build=$2/system
build_type=$3
faults_library=$4

tmp=$(mktemp -d)
chmod 0755 "$tmp"
prefix=$tmp/prefix
logger_dir=$prefix/lib/tallix
state=$prefix/var/lib/tallix
log=$state/Date.txt
users=()
made_group=
getent group tallix >/dev/null || made_group=yes

remove_user() {
    pkill -KILL -u "$1" 2>/dev/null
    userdel "$1" 2>/dev/null
    rm -rf "/tmp/runtime-$1"
}

cleanup() {
    local user
    for user in "${users[@]}"; do remove_user "$user"; done
    [ -n "$made_group" ] && groupdel tallix 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
as() { local user=$1; shift; runuser -u "$user" -- env -u DISPLAY -u WAYLAND_DISPLAY "$@"; }
records() { grep -c '' "$log"; }
owner_mode() { stat -c '%U:%G %a' "$1"; }

echo "== building and installing into $prefix"
cmake -S "$source_dir" -B "$build" -DCMAKE_BUILD_TYPE="$build_type" -DCMAKE_INSTALL_PREFIX="$prefix" \
      -DTALLIX_DIR="$logger_dir" -DTALLIX_SYSTEM_INSTALL=ON >"$tmp/build.log" 2>&1 &&
    cmake --build "$build" --parallel "$(nproc)" --target tallix tallix-record >>"$tmp/build.log" 2>&1 ||
    { cat "$tmp/build.log"; exit 1; }
# A log left beside the logger by an earlier version, writable by all.
mkdir -p "$logger_dir"
printf '#2024-02-01 08:15:00#\r\n#2024-02-02 09:30:00#\r\n' >"$logger_dir/Date.txt"
chmod 0666 "$logger_dir/Date.txt"
cp "$logger_dir/Date.txt" "$tmp/earlier"
cmake --install "$build" --component logger >"$tmp/install.log" 2>&1 || { cat "$tmp/install.log"; exit 1; }

for i in 1 2 3 4 5 6 7 8; do
    id "tallix-test$i" >/dev/null 2>&1 && remove_user "tallix-test$i"
    useradd --no-create-home --no-user-group --shell /usr/sbin/nologin "tallix-test$i" || exit 1
    users+=("tallix-test$i")
done
user=${users[0]}

echo "== the layout"
getent group tallix >/dev/null || fail "no tallix group"
[ "$(owner_mode "$logger_dir/tallix-record")" = "root:tallix 2755" ] ||
    fail "recorder is $(owner_mode "$logger_dir/tallix-record"), not root:tallix 2755"
[ "$(owner_mode "$state")" = "root:root 755" ] || fail "state folder is $(owner_mode "$state")"
[ "$(owner_mode "$log")" = "root:tallix 664" ] || fail "log is $(owner_mode "$log")"
[ "$(owner_mode "$log.lock")" = "root:tallix 660" ] || fail "lock is $(owner_mode "$log.lock")"
[ "$(readlink "$logger_dir/Date.txt")" = "$log" ] || fail "$logger_dir/Date.txt is not a link to $log"
cmp -s "$log" "$tmp/earlier" || fail "the earlier log's records did not move into $log"
ldd "$logger_dir/tallix-record" | grep -q -i libqt && fail "the setgid recorder links Qt"

echo "== an ordinary user's login is recorded"
before=$(records)
as "$user" "$logger_dir/tallix" || fail "the logger failed for $user"
[ "$(records)" -eq $((before + 1)) ] || fail "a logger run added $(($(records) - before)) records, not 1"
head -c "$(stat -c %s "$tmp/earlier")" "$log" | cmp -s - "$tmp/earlier" || fail "earlier records changed"

echo "== what an ordinary user cannot do to the log"
cp "$log" "$tmp/kept"
attempt() { as "$user" sh -c "$1" 2>/dev/null && fail "$user could: $1"; }
attempt ": > '$log'"
attempt "echo junk >> '$log'"
attempt "truncate -s 0 '$log'"
attempt "truncate -s 30G '$log'"
attempt "rm -f '$log'"
attempt "mv '$log' '$log.gone'"
attempt "ln -sf /dev/null '$logger_dir/Date.txt'"
attempt "rm -f '$logger_dir/Date.txt'"
attempt "cp /etc/hostname '$state/Date.txt.new' && mv '$state/Date.txt.new' '$log'"
attempt "flock -n '$log.lock' true"
cmp -s "$log" "$tmp/kept" || fail "an attempt changed the log"
[ "$(readlink "$logger_dir/Date.txt")" = "$log" ] || fail "the link was changed"
as "$user" cat "$log" >/dev/null || fail "an ordinary user cannot read the log"

echo "== locks an ordinary user can take do not hold back a logger"
as "$user" flock -x "$log" sleep 30 &
holder=$!
as "$user" python3 -c 'import fcntl, sys, time
f = open(sys.argv[1]); fcntl.lockf(f, fcntl.LOCK_SH); time.sleep(30)' "$log" &
reader=$!
sleep 0.5
before=$(records)
as "${users[1]}" "$logger_dir/tallix" || fail "a logger failed while $user held locks on the log"
[ "$(records)" -eq $((before + 1)) ] || fail "a logger did not record while $user held locks on the log"
pkill -KILL -u "$user"
wait "$holder" "$reader" 2>/dev/null

echo "== eight users at once"
before=$(records)
pids=()
for u in "${users[@]}"; do
    as "$u" "$logger_dir/tallix" &
    pids+=($!)
done
for pid in "${pids[@]}"; do wait "$pid" || fail "a concurrent logger failed"; done
[ "$(records)" -eq $((before + 8)) ] || fail "8 concurrent loggers added $(($(records) - before)) records"
python3 - "$log" <<'EOF' || fail "the log is not whole records"
import re, sys
data = open(sys.argv[1], "rb").read()
assert re.fullmatch(rb"(#\d{4}-\d\d-\d\d( \d\d:\d\d:\d\d)?#\r\n)*", data), data[-200:]
EOF

echo "== the recorder run directly with a hostile environment"
cp "$faults_library" "$tmp/faults.so"
chmod 0644 "$tmp/faults.so"
before=$(records)
start=$(date +%s)
as "$user" env TZ=UTC-14 LD_PRELOAD="$tmp/faults.so" TALLIX_FAULT=torn-write QT_QPA_PLATFORM=bogus \
    QT_PLUGIN_PATH="$tmp" LANG=C "$logger_dir/tallix-record" >/dev/null ||
    fail "the recorder failed in a hostile environment"
end=$(date +%s)
[ "$(records)" -eq $((before + 1)) ] || fail "the hostile run added $(($(records) - before)) records"
last=$(tail -n 1 "$log" | tr -d '#\r')
recorded=$(date -d "$last" +%s 2>/dev/null || echo 0)
[ "$recorded" -ge $((start - 1)) ] && [ "$recorded" -le "$end" ] ||
    fail "the hostile run recorded '$last', not the system's local time"

echo "== a log that needs tidying is appended to as it reads"
printf '#2024-02-01 08:15:00#\n' >"$log"
as "$user" "$logger_dir/tallix" || fail "the logger failed on a log with LF line ends"
head -c 22 "$log" | cmp -s - <(printf '#2024-02-01 08:15:00#\n') || fail "the LF log was not left as it reads"
[ "$(records)" -eq 2 ] || fail "the LF log did not gain one record"

echo "== installing again keeps the log"
cp "$log" "$tmp/kept"
chmod 0664 "$log"
cmake --install "$build" --component logger >/dev/null 2>&1 || fail "second install failed"
cmp -s "$log" "$tmp/kept" || fail "a second install changed the log"
[ "$(owner_mode "$logger_dir/tallix-record")" = "root:tallix 2755" ] || fail "a second install lost the recorder's mode"

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "system_install: all checks passed"
