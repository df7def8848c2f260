#!/usr/bin/env bash
# Builds the Debian package the way Debian's build daemons do, with its
# checks, from a clean copy of the tree in a clean chroot (see buildd.sh),
# and checks it as a Debian maintainer would: lintian, the control data, the
# files and what the programs in them are made of.
# Usage: package.sh SOURCE-DIR OUTPUT-DIR CMAKE-PROJECT-VERSION BUILDD-ROOT [RELEASE]
set -uo pipefail

source_dir=$1
out=$2
project_version=$3
buildd_root=$4
release=${5:-bookworm}
tests=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

source "$(dirname "${BASH_SOURCE[0]}")/helpers.sh"

echo "== a clean copy of the tree"
rm -rf "$out" "$buildd_root"
mkdir -p "$out/tallix"
tar -C "$source_dir" --exclude='./build*' --exclude=./.git --exclude=./debian/tallix --exclude=./debian/tallix-record --exclude=./debian/tmp \
    --exclude='./obj-*' -cf - . | tar -C "$out/tallix" -xf -

echo "== the source and binary packages, built with their checks in a clean $release chroot"
bash "$tests/buildd.sh" "$buildd_root" "$out/tallix" "$out" "DEB_BUILD_OPTIONS=parallel=$(nproc)" \
    RELEASE="$release" LINTIAN=yes
status=$?
((status == 0)) || exit "$status"
grep -E '^[0-9]+% tests passed' "$out/buildd.log" || fail "the package build ran no tests"
arch=$(dpkg --print-architecture)
for package in tallix-record tallix; do
    deb=$out/${package}_${project_version}_$arch.deb
    [ -f "$deb" ] || { echo "FAIL: no $deb (the CMake version and debian/changelog disagree?)"; ls "$out"; exit 1; }
    check "an automatic -dbgsym package of $package" test -f "$out/$package-dbgsym_${project_version}_$arch.deb"
    # The names the other tests take them by, whatever the architecture.
    ln -sf "$(basename "$deb")" "$out/$package.deb"
done
record=$out/tallix-record.deb
desktop=$out/tallix.deb

echo "== control data"
field() { dpkg-deb -f "$1" "$2"; }
relations() { dpkg-deb -f "$1" "$2" | tr , '\n' | sed 's/^ *//; s/[ (].*//'; }
changelog() { dpkg-parsechangelog -l "$source_dir/debian/changelog" -S "$1"; }
[ "$(changelog Version)" = "$project_version" ] ||
    fail "debian/changelog says $(changelog Version), CMake says $project_version"
for deb in "$record" "$desktop"; do
    [ "$(field "$deb" Version)" = "$project_version" ] || fail "$deb: version $(field "$deb" Version)"
    [ "$(field "$deb" Maintainer)" = "$(changelog Maintainer)" ] ||
        fail "Maintainer '$(field "$deb" Maintainer)' is not the changelog's '$(changelog Maintainer)'"
    [[ $(field "$deb" Description) =~ ^[[:print:]]+$'\n' ]] || fail "$deb: no one-line synopsis"
done
# The service alone is what a server installs: no Qt, no fonts, no desktop.
relations "$record" Depends | grep -i -E 'qt|font|xdg|x11|wayland' && fail "tallix-record depends on the desktop"
for package in libc6 libsystemd0 libpam-runtime systemd; do
    relations "$record" Depends | grep -qx "$package" || fail "tallix-record's Depends lacks $package"
done
for relation in Breaks Replaces; do
    [ "$(field "$record" "$relation")" = "tallix (<< 1.3.0)" ] ||
        fail "tallix-record's $relation is '$(field "$record" "$relation")', not the single package before it"
done
relations "$desktop" Depends | grep -qx libqt6network6 && fail "the package still needs QtNetwork"
for package in libargon2-1 qt6-qpa-plugins fonts-liberation2 fonts-leckerli-one tallix-record; do
    relations "$desktop" Depends | grep -qx "$package" || fail "tallix's Depends lacks $package"
done
field "$desktop" Depends | grep -q "tallix-record (= $project_version)" || fail "tallix takes another tallix-record"
for package in qt6-wayland xdg-utils file qt6-translations-l10n; do
    relations "$desktop" Recommends | grep -qx "$package" || fail "tallix's Recommends lacks $package"
done

echo "== files"
contents() { dpkg-deb -c "$1" | awk '{print $1, $2, $6}'; }
contents "$record" >"$out/contents-record"
contents "$desktop" >"$out/contents-desktop"
lacks() { ! grep -q -E "$2\$" "$out/contents-$1"; }
for file in /usr/lib/tallix/tallix-record /usr/lib/tallix/pam-session /usr/lib/sysusers.d/tallix.conf \
            /usr/lib/tmpfiles.d/tallix.conf /usr/share/pam-configs/tallix /etc/tallix/record.conf \
            /usr/lib/systemd/catalog/tallix.catalog /systemd/system/tallix-record.service \
            /systemd/system/tallix-record.socket /usr/share/doc/tallix-record/copyright \
            /usr/share/doc/tallix-record/README.md.gz /usr/share/doc/tallix-record/changelog.gz \
            /usr/share/doc/tallix-record/NEWS.Debian.gz /usr/share/man/man8/tallix-record.8.gz \
            /usr/share/man/it/man8/tallix-record.8.gz; do
    lacks record "$file" && fail "tallix-record lacks $file"
done
for file in /usr/lib/tallix/tallix /usr/bin/tallix-vistrel /etc/xdg/autostart/io.github.tallix.Tallix.desktop \
            /usr/share/applications/io.github.tallix.Vistrel.desktop \
            /usr/share/metainfo/io.github.tallix.Vistrel.metainfo.xml \
            /usr/share/man/man1/tallix-vistrel.1.gz /usr/share/man/it/man1/tallix-vistrel.1.gz \
            /usr/share/doc/tallix/copyright /usr/share/icons/hicolor/256x256/apps/io.github.tallix.Vistrel.png; do
    lacks desktop "$file" && fail "tallix lacks $file"
done
# Each file in one package: what both held, dpkg would refuse to install.
both=$(awk '$1 !~ /^d/ {print $NF}' "$out/contents-record" "$out/contents-desktop" | sort | uniq -d)
[ -z "$both" ] || fail "both packages hold $both"
dpkg-deb --info "$record" conffiles | grep -qx /etc/tallix/record.conf ||
    fail "the administrator's /etc/tallix/record.conf is not a conffile"
grep -h 'Date.txt' "$out"/contents-* | grep -v '^l' && fail "a package ships a log"
dpkg-deb -c "$record" | grep -q ' ./usr/lib/tallix/Date.txt -> /var/lib/tallix/Date.txt$' ||
    fail "tallix-record does not ship the link to the log"
grep -q '^-rwxr-xr-x root/root ./usr/lib/tallix/tallix-record$' "$out/contents-record" ||
    fail "the recorder is shipped as $(grep tallix-record "$out/contents-record"): its mode belongs to dpkg-statoverride"
unpacked=$out/unpacked
dpkg-deb -x "$record" "$unpacked"
dpkg-deb -x "$desktop" "$unpacked"
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
# Menus show English where no translation fits, Italian in Italian.
for entry in "$autostart" "$unpacked/usr/share/applications/io.github.tallix.Vistrel.desktop"; do
    grep -q '^Comment=[A-Z][a-z]* [a-z]' "$entry" && grep -q '^Comment\[it\]=' "$entry" ||
        fail "$(basename "$entry") lacks an English comment with an Italian one"
done
check "AppStream metadata valid" appstreamcli validate --no-net \
    "$unpacked/usr/share/metainfo/io.github.tallix.Vistrel.metainfo.xml"
for page in man1/tallix-vistrel.1.gz it/man1/tallix-vistrel.1.gz man8/tallix-record.8.gz it/man8/tallix-record.8.gz; do
    warnings=$(LC_ALL=C.UTF-8 man --warnings -l "$unpacked/usr/share/man/$page" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page: $warnings"
done
built=$(cat "$out/buildd.tree")/obj-$(dpkg-architecture -qDEB_HOST_GNU_TYPE)
bash "$tests/password_absent.sh" "$built/viewer/password" "$built" "$unpacked" ||
    fail "password found in the package"

finish "package on $release"
