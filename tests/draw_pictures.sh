#!/usr/bin/env bash
# The committed pictures must be what the generator draws: a change to a
# drawing must come with its pictures, redrawn by the pictures target, and
# the folder must hold no picture the list leaves out.
# Usage: draw_pictures.sh GENERATOR PICTURES-DIR NAME...
set -uo pipefail

generator=$1
pictures=$2
shift 2
source "$(dirname "${BASH_SOURCE[0]}")/helpers.sh"

# A drawing is the same where no pixel is off by more than rounding: Qt's
# raster engine takes other paths on other processors, which move a
# channel by a step or two. Any change to a drawing moves far more.
same_picture() {
    case "$1" in
    *.png) [ "$(compare -metric AE -fuzz 1% "$1" "$2" null: 2>&1)" = 0 ] ;;
    *) cmp -s "$1" "$2" ;;
    esac
}

drawn=$(mktemp -d)
trap 'rm -rf "$drawn"' EXIT

"$generator" "$drawn" "$@" || give_up "the generator failed"
for name in "$@"; do
    if [ ! -f "$drawn/$name" ]; then
        fail "$name was not drawn"
    elif [ ! -f "$pictures/$name" ]; then
        fail "$name is drawn but not in $pictures"
    elif ! same_picture "$drawn/$name" "$pictures/$name"; then
        fail "$name differs from what the generator draws (the pictures target redraws it)"
    fi
done

listed=" $* "
for file in "$pictures"/*.png "$pictures"/*.svg; do
    [ -e "$file" ] || continue
    name=${file##*/}
    [[ $listed == *" $name "* ]] || fail "$name is in $pictures but not in the list of pictures"
done

finish draw_pictures
