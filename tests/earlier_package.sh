#!/usr/bin/env bash
# Builds the package of an earlier commit of this tree, without its checks,
# as its build daemons would have (see buildd.sh), for the upgrade tests:
# the .debs land in OUTPUT-DIR, kept there for as long as the commit is the
# same.
#   earlier_package.sh SOURCE-DIR COMMIT OUTPUT-DIR BUILDD-ROOT
set -euo pipefail

source_dir=$1
commit=$2
out=$3
buildd_root=$4

[ "$(cat "$out/commit" 2>/dev/null)" = "$commit" ] && ls "$out"/*.deb && exit 0
git -C "$source_dir" cat-file -e "$commit^{commit}" 2>/dev/null ||
    { echo "FAIL: $commit is not in this clone's history (a shallow clone?)"; exit 1; }
rm -rf "$out" "$buildd_root"
mkdir -p "$out/tallix"
git -C "$source_dir" archive "$commit" | tar -C "$out/tallix" -xf -
bash "$(dirname "${BASH_SOURCE[0]}")/buildd.sh" "$buildd_root" "$out/tallix" "$out" \
    DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)"
rm -rf "$buildd_root" "$out/tallix"
echo "$commit" >"$out/commit"
ls "$out"/*.deb
