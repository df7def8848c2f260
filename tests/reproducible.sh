#!/usr/bin/env bash
# Builds the Debian package a second time, without its checks, in the
# package test's chroot (see buildd.sh), from a copy of the tree at another
# path, in another time zone and language and under another umask, and
# checks that it is byte for byte the package the package test built: the
# programs do not depend on the tests, the build on where and when it runs.
# Usage: reproducible.sh SOURCE-DIR FIRST-PACKAGE-DIR OUTPUT-DIR BUILDD-ROOT
set -uo pipefail

source_dir=$1
first=$2
out=$3
buildd_root=$4
source "$(dirname "${BASH_SOURCE[0]}")/helpers.sh"

rm -rf "$out"
copy=$out/a-longer/path/to/tallix
mkdir -p "$copy" "$out/locale"
tar -C "$source_dir" --exclude='./build*' --exclude=./.git --exclude=./debian/tallix --exclude=./debian/tallix-record --exclude=./debian/tmp \
    --exclude='./obj-*' -cf - . | tar -C "$copy" -xf -
localedef -i it_IT -f UTF-8 "$out/locale/it_IT.UTF-8"
bash "$(dirname "${BASH_SOURCE[0]}")/buildd.sh" "$buildd_root" "$copy" "$out/built" UMASK=0002 \
    TZ=Pacific/Kiritimati LOCPATH="$out/locale" LANG=it_IT.UTF-8 LC_ALL=it_IT.UTF-8 \
    DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" || exit 1

debs=("$first"/*_*.deb)
((${#debs[@]} == 4)) || fail "the first build made ${#debs[@]} packages, not 4: ${debs[*]}"
for deb in "${debs[@]}"; do
    second=$out/built/$(basename "$deb")
    if ! cmp -s "$deb" "$second"; then
        fail "$(basename "$deb") differs between the two builds"
        for side in "$deb" "$second"; do
            mkdir -p "$out/unpacked/$(basename "$(dirname "$side")")"
            dpkg-deb -R "$side" "$out/unpacked/$(basename "$(dirname "$side")")/$(basename "$side")"
        done
        diff -r "$out/unpacked"/*/"$(basename "$deb")" | head -n 20
    fi
done
finish reproducible
