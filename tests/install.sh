#!/usr/bin/env bash
# Installs a build into a scratch DESTDIR and builds the .deb from a build of
# its own (prefix /usr), then checks both trees.
# Usage: install.sh <build dir> <TALLIX_DIR> <password file>
set -uo pipefail

build=$(cd "$1" && pwd)
tallix_dir=$2
password_file=$3
tests=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; "$@" || fail "$what"; }
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
        for size in 16 32; do
            [ "$(png_size "$data/icons/hicolor/${size}x$size/apps/$icon.png")" = "${size}x$size" ] ||
                fail "$icon is not ${size}x$size"
        done
        check "$icon.svg installed" test -s "$data/icons/hicolor/scalable/apps/$icon.svg"
    done
}

echo "== cmake --install into a DESTDIR"
prefix=$(cache CMAKE_INSTALL_PREFIX "$build")
root=$tmp/root
DESTDIR=$root cmake --install "$build" >"$tmp/install.log" || { cat "$tmp/install.log"; exit 1; }
logger=$root$tallix_dir/tallix
log=$root$tallix_dir/Date.txt
viewer=$root$prefix/$(cache CMAKE_INSTALL_BINDIR "$build")/tallix-vistrel
check "logger executable in TALLIX_DIR" test -x "$logger"
check "viewer executable in the bin folder" test -x "$viewer"
[ -f "$log" ] && [ ! -s "$log" ] || fail "no empty log beside the logger"
[ "$(mode "$log")" = 666 ] || fail "log mode $(mode "$log"), not 666"
[ "$(mode "$root$tallix_dir")" = 755 ] || fail "logger folder mode $(mode "$root$tallix_dir"), not 755"
[ "$(grep -a -c "$tallix_dir/Date.txt" "$viewer")" -ge 1 ] || fail "viewer does not embed $tallix_dir/Date.txt"
check_desktop "$root" "$root$prefix/share" "$tallix_dir/tallix"

echo "== installing again keeps the log"
printf '#2024-02-01 08:15:00#\r\n#2024-02-02 09:30:00#\r\n' >"$log"
chmod 640 "$log"
cp "$log" "$tmp/records"
DESTDIR=$root cmake --install "$build" >/dev/null
check "log unchanged by a second install" cmp -s "$log" "$tmp/records"
[ "$(mode "$log")" = 640 ] || fail "a second install changed the log's mode"

bash "$tests/password_absent.sh" "$password_file" "$build" "$root" || fail "password found in the install tree"

echo "== .deb package"
deb_build=$build/deb
cat >"$tmp/init.cmake" <<EOF
file(READ "$password_file" password)
set(TALLIX_PASSWORD "\${password}" CACHE STRING "" FORCE)
EOF
cmake -S "$(cache CMAKE_HOME_DIRECTORY "$build")" -B "$deb_build" -C "$tmp/init.cmake" \
      -DCMAKE_BUILD_TYPE="$(cache CMAKE_BUILD_TYPE "$build")" \
      -DCMAKE_INSTALL_PREFIX=/usr -DTALLIX_DIR=/usr/lib/tallix \
      -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >"$tmp/deb.log" 2>&1 &&
    cmake --build "$deb_build" --parallel "$(nproc)" --target tallix tallix-vistrel >>"$tmp/deb.log" 2>&1 &&
    (cd "$deb_build" && rm -f ./*.deb && cpack -G DEB) >>"$tmp/deb.log" 2>&1 || { cat "$tmp/deb.log"; exit 1; }
deb=$(echo "$deb_build"/tallix_*.deb)

[ "$(dpkg-deb -f "$deb" Package)" = tallix ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = 1.0.0 ] || fail "package version"
depends=$(dpkg-deb -f "$deb" Depends | tr , '\n' | sed 's/^ *//; s/[ (].*//')
for package in libqt6core6 libqt6gui6 libqt6widgets6 libqt6network6 qt6-qpa-plugins \
               fonts-liberation2 fonts-leckerli-one; do
    grep -qx "$package" <<<"$depends" || fail "Depends lacks $package"
done

dpkg-deb -c "$deb" | awk '{print $NF}' >"$tmp/contents"
for file in ./usr/lib/tallix/tallix ./usr/bin/tallix-vistrel \
            ./usr/share/applications/io.github.tallix.Vistrel.desktop \
            ./etc/xdg/autostart/io.github.tallix.Tallix.desktop; do
    check "package has $file" grep -qx "$file" "$tmp/contents"
done
! grep -q Date.txt "$tmp/contents" || fail "package ships Date.txt"

unpacked=$tmp/unpacked
dpkg-deb -x "$deb" "$unpacked"
check_desktop "$unpacked" "$unpacked/usr/share" /usr/lib/tallix/tallix
[ "$(grep -a -c /usr/lib/tallix/Date.txt "$unpacked/usr/bin/tallix-vistrel")" -ge 1 ] ||
    fail "packaged viewer does not embed /usr/lib/tallix/Date.txt"
bash "$tests/password_absent.sh" "$password_file" "$deb_build" "$unpacked" ||
    fail "password found in the package"

dpkg-deb -e "$deb" "$tmp/control"
check "autostart entry is a conffile" \
    grep -qx /etc/xdg/autostart/io.github.tallix.Tallix.desktop "$tmp/control/conffiles"
check "postinst executable" test -x "$tmp/control/postinst"
fake=$tmp/fake/usr/lib/tallix
mkdir -p "$fake"
sed "s|/usr/lib/tallix|$fake|" "$tmp/control/postinst" >"$tmp/postinst"
sh "$tmp/postinst" configure
[ -f "$fake/Date.txt" ] && [ ! -s "$fake/Date.txt" ] || fail "postinst does not create an empty log"
[ "$(mode "$fake/Date.txt")" = 666 ] || fail "postinst log mode $(mode "$fake/Date.txt"), not 666"
cp "$tmp/records" "$fake/Date.txt"
sh "$tmp/postinst" configure
check "postinst keeps an existing log" cmp -s "$fake/Date.txt" "$tmp/records"

if ((failures)); then
    echo "$failures check(s) failed"
    exit 1
fi
echo "install: all checks passed"
