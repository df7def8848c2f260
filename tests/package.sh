#!/usr/bin/env bash
# Builds the Debian package the way Debian's build daemons do, with its
# checks, from a clean copy of the tree in a clean chroot (see buildd.sh),
# and checks it as a Debian maintainer would: lintian, the control data, the
# files and what the programs in them are made of.
# Usage: package.sh SOURCE-DIR OUTPUT-DIR CMAKE-PROJECT-VERSION BUILDD-ROOT
set -uo pipefail

source_dir=$1
out=$2
project_version=$3
buildd_root=$4
tests=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

source "$(dirname "${BASH_SOURCE[0]}")/helpers.sh"

echo "== a clean copy of the tree"
rm -rf "$out" "$buildd_root"
mkdir -p "$out/tallix"
tar -C "$source_dir" --exclude='./build*' --exclude=./.git --exclude=./debian/tallix \
    --exclude='./obj-*' -cf - . | tar -C "$out/tallix" -xf -

echo "== the source and binary packages, built with their checks in a clean chroot"
bash "$tests/buildd.sh" "$buildd_root" "$out/tallix" "$out" "DEB_BUILD_OPTIONS=parallel=$(nproc)" ||
    exit 1
grep -E '^[0-9]+% tests passed' "$out/buildd.log" || fail "the package build ran no tests"
lintian --fail-on error,warning --display-info --pedantic "$out/tallix_$project_version.dsc" >"$out/lintian-source.log" 2>&1 ||
    fail "lintian on the source: $(grep -v 'root privileges' "$out/lintian-source.log")"
arch=$(dpkg --print-architecture)
deb=$out/tallix_${project_version}_$arch.deb
[ -f "$deb" ] || { echo "FAIL: no $deb (the CMake version and debian/changelog disagree?)"; ls "$out"; exit 1; }
check "an automatic -dbgsym package" test -f "$out/tallix-dbgsym_${project_version}_$arch.deb"
# The name the other tests take it by, whatever the architecture.
ln -sf "$(basename "$deb")" "$out/tallix.deb"

echo "== lintian"
lintian --fail-on error,warning --display-info --pedantic "$deb" >"$out/lintian.log" 2>&1 ||
    fail "lintian: $(grep -v 'root privileges' "$out/lintian.log")"
grep -v 'root privileges' "$out/lintian.log"

echo "== control data"
field() { dpkg-deb -f "$deb" "$1"; }
changelog() { dpkg-parsechangelog -l "$source_dir/debian/changelog" -S "$1"; }
[ "$(changelog Version)" = "$project_version" ] ||
    fail "debian/changelog says $(changelog Version), CMake says $project_version"
[ "$(field Version)" = "$project_version" ] || fail "package version $(field Version)"
[ "$(field Maintainer)" = "$(changelog Maintainer)" ] ||
    fail "Maintainer '$(field Maintainer)' is not the changelog's '$(changelog Maintainer)'"
depends=$(field Depends | tr , '\n' | sed 's/^ *//; s/[ (].*//')
grep -qx libqt6network6 <<<"$depends" && fail "the package still needs QtNetwork"
for package in libc6 libqt6core6 libqt6gui6 libqt6widgets6 libargon2-1 qt6-qpa-plugins qt6-wayland \
               xdg-utils fonts-liberation2 fonts-leckerli-one qt6-translations-l10n libpam-runtime; do
    grep -qx "$package" <<<"$depends" || fail "Depends lacks $package"
done
[[ $(field Description) =~ ^[[:print:]]+$'\n' ]] || fail "no one-line synopsis"

echo "== files"
dpkg-deb -c "$deb" | awk '{print $1, $2, $NF}' >"$out/contents"
for file in ./usr/lib/tallix/tallix ./usr/lib/tallix/tallix-record ./usr/lib/sysusers.d/tallix.conf \
            ./usr/bin/tallix-vistrel ./etc/xdg/autostart/io.github.tallix.Tallix.desktop \
            ./usr/share/applications/io.github.tallix.Vistrel.desktop \
            ./usr/share/metainfo/io.github.tallix.Vistrel.metainfo.xml \
            ./usr/share/man/man1/tallix-vistrel.1.gz ./usr/share/man/it/man1/tallix-vistrel.1.gz \
            ./usr/share/doc/tallix/README.md.gz ./usr/share/doc/tallix/changelog.gz \
            ./usr/share/doc/tallix/copyright ./usr/share/icons/hicolor/256x256/apps/io.github.tallix.Vistrel.png; do
    grep -q " $file\$" "$out/contents" || fail "the package lacks $file"
done
dpkg-deb --info "$deb" conffiles | grep -qx /etc/tallix/record.conf ||
    fail "the administrator's /etc/tallix/record.conf is not a conffile"
grep 'Date.txt' "$out/contents" | grep -v '^l' && fail "the package ships a log"
dpkg-deb -c "$deb" | grep -q ' ./usr/lib/tallix/Date.txt -> /var/lib/tallix/Date.txt$' ||
    fail "the package does not ship the link to the log"
grep -q '^-rwxr-xr-x root/root ./usr/lib/tallix/tallix-record$' "$out/contents" ||
    fail "the recorder is shipped as $(grep tallix-record "$out/contents"): its mode belongs to dpkg-statoverride"
unpacked=$out/unpacked
dpkg-deb -x "$deb" "$unpacked"
for program in "$unpacked/usr/lib/tallix/tallix" "$unpacked/usr/lib/tallix/tallix-record" \
               "$unpacked/usr/bin/tallix-vistrel"; do
    dynamic=$(readelf -d "$program")
    grep -q -E 'RPATH|RUNPATH' <<<"$dynamic" && fail "$program has a run path"
    grep -q BIND_NOW <<<"$dynamic" || fail "$program is not linked with -z now"
    file "$program" | grep -q 'pie executable' || fail "$program is not a PIE"
    file "$program" | grep -q ', stripped' || fail "$program is not stripped"
done
readelf -d "$unpacked/usr/lib/tallix/tallix-record" | grep -q -i 'libqt' && fail "the recorder links Qt"
grep -q '^An access of user @TALLIX_USER@ (uid @TALLIX_UID@) came through$' \
    "$unpacked/usr/lib/systemd/catalog/tallix.catalog" || fail "the catalog lost the journal's fields"
autostart=$unpacked/etc/xdg/autostart/io.github.tallix.Tallix.desktop
check "desktop entries valid" desktop-file-validate "$autostart" \
    "$unpacked/usr/share/applications/io.github.tallix.Vistrel.desktop"
grep -qx 'TryExec=/usr/lib/tallix/tallix' "$autostart" || fail "the autostart entry has no TryExec"
check "AppStream metadata valid" appstreamcli validate --no-net \
    "$unpacked/usr/share/metainfo/io.github.tallix.Vistrel.metainfo.xml"
for page in man1/tallix-vistrel.1.gz it/man1/tallix-vistrel.1.gz; do
    warnings=$(LC_ALL=C.UTF-8 man --warnings -l "$unpacked/usr/share/man/$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page: $warnings"
done
built=$(cat "$out/buildd.tree")/obj-$(dpkg-architecture -qDEB_HOST_GNU_TYPE)
bash "$tests/password_absent.sh" "$built/viewer/password" "$built" "$unpacked" ||
    fail "password found in the package"

finish package
