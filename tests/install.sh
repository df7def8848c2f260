#!/usr/bin/env bash
# Installs a build staged into a scratch DESTDIR, as for a package, and
# privately into a scratch prefix, and checks both trees.
# Usage: install.sh <build dir> <TALLIX_DIR> <password file>
set -uo pipefail

build=$(cd "$1" && pwd)
tallix_dir=$2
password_file=$3
tests=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

source "$(dirname "${BASH_SOURCE[0]}")/helpers.sh"
cache() { sed -n "s/^$1:[A-Z]*=//p" "$2/CMakeCache.txt"; }
mode() { stat -c %a "$1"; }
png_size() {
    python3 -c 'import struct, sys
data = open(sys.argv[1], "rb").read(24)
assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
print("%dx%d" % struct.unpack(">II", data[16:24]))' "$1"
}
desktop_key() { sed -n "s/^$1=//p" "$2"; }

# Checks the desktop entries and icons of an install tree whose data folder is $2.
check_desktop() {
    local root=$1 data=$2 logger=$3 autostart
    autostart=$(find "$root" -path '*/xdg/autostart/io.github.tallix.Tallix.desktop')
    local viewer_entry=$data/applications/io.github.tallix.Vistrel.desktop
    check "autostart entry installed" test -f "$autostart"
    check "viewer entry installed" test -f "$viewer_entry"
    check "desktop entries valid" desktop-file-validate "$autostart" "$viewer_entry"
    [ "$(desktop_key Exec "$autostart" | tr -d '"')" = "$logger" ] ||
        fail "autostart Exec does not run $logger"
    [ "$(desktop_key Exec "$viewer_entry")" = tallix-vistrel ] || fail "viewer Exec"
    local entry icon size
    for entry in "$autostart" "$viewer_entry"; do
        icon=$(desktop_key Icon "$entry")
        for size in 16 32 48 64 128 256; do
            [ "$(png_size "$data/icons/hicolor/${size}x$size/apps/$icon.png")" = "${size}x$size" ] ||
                fail "$icon is not ${size}x$size"
        done
        check "$icon.svg installed" test -s "$data/icons/hicolor/scalable/apps/$icon.svg"
    done
}

echo "== cmake --install into a DESTDIR, as for a package"
prefix=$(cache CMAKE_INSTALL_PREFIX "$build")
root=$tmp/root
DESTDIR=$root cmake --install "$build" >"$tmp/install.log" || { cat "$tmp/install.log"; exit 1; }
logger=$root$tallix_dir/tallix
viewer=$root$prefix/$(cache CMAKE_INSTALL_BINDIR "$build")/tallix-vistrel
check "logger executable in TALLIX_DIR" test -x "$logger"
if [ "$(cache TALLIX_SYSTEM_INSTALL "$build")" = ON ]; then
    check "recorder executable beside the logger" test -x "$root$tallix_dir/tallix-record"
    [ "$(mode "$root$tallix_dir/tallix-record")" = 755 ] || fail "staged recorder mode $(mode "$root$tallix_dir/tallix-record")"
else
    [ ! -e "$root$tallix_dir/tallix-record" ] || fail "a private install has the recording service's program"
fi
check "viewer executable in the bin folder" test -x "$viewer"
[ ! -e "$root$tallix_dir/Date.txt" ] || fail "a staged install made a log: the package's scripts do"
[ -z "$(find "$root" -name 'Date.txt*')" ] || fail "a staged install made $(find "$root" -name 'Date.txt*')"
[ "$(mode "$root$tallix_dir")" = 755 ] || fail "logger folder mode $(mode "$root$tallix_dir"), not 755"
[ "$(grep -a -c "$tallix_dir/Date.txt" "$viewer")" -ge 1 ] || fail "viewer does not embed $tallix_dir/Date.txt"
check_desktop "$root" "$root$prefix/share" "$tallix_dir/tallix"
bash "$tests/password_absent.sh" "$password_file" "$build" "$root" || fail "password found in the install tree"

echo "== a private install: the installer's own log"
private=$tmp/private
cmake --install "$build" --prefix "$private" >/dev/null || fail "private install failed"
private_log=$private/$(realpath -m --relative-to="$prefix" "$tallix_dir")/Date.txt
[ -f "$private_log" ] && [ ! -L "$private_log" ] && [ ! -s "$private_log" ] || fail "no empty private log"
[ "$(stat -c %U "$private_log")" = "$(id -un)" ] || fail "the private log is not the installer's"
"$(dirname "$private_log")/tallix" || fail "the privately installed logger failed"
[ "$(grep -c '' "$private_log")" -eq 1 ] || fail "the privately installed logger did not record one access"

echo "== installing again keeps the log"
printf '#2024-02-01 08:15:00#\r\n#2024-02-02 09:30:00#\r\n' >"$private_log"
chmod 640 "$private_log"
cp "$private_log" "$tmp/records"
cmake --install "$build" --prefix "$private" >/dev/null
check "log unchanged by a second install" cmp -s "$private_log" "$tmp/records"
[ "$(mode "$private_log")" = 640 ] || fail "a second install changed the log's mode"

finish install
