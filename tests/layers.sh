#!/usr/bin/env bash
# Folders are layers: a file may include, and a target may link, only its own
# folder and the folders this table lets it use. The tests may use them all.
# Usage: layers.sh SOURCE-DIR LINKS-FILE (lines: folder target linked-folder linked-target)
set -uo pipefail

source_dir=$1
links=$2
source "$(dirname "${BASH_SOURCE[0]}")/helpers.sh"

declare -A may_use=(
    [record]=""
    [service]="record"
    [pam]="record"
    [pictures]=""
    [startup]="pictures"
    [logger]="record startup"
    [viewer/gate]=""
    [viewer]="viewer/gate startup"
    [bench]="record logger viewer/gate"
)
# The recording service and the PAM step run in every login's path and as
# their own system user: no toolkit.
qt_free="record service pam"

# The layer of a folder: the longest one in the table that holds it.
layer_of() {
    local folder=$1
    while [ -n "$folder" ] && [ "$folder" != . ]; do
        [ -n "${may_use[$folder]+set}" ] && { echo "$folder"; return; }
        folder=$(dirname "$folder")
    done
}

allowed() {
    local from=$1 to=$2
    [ "$from" = "$to" ] || [[ " ${may_use[$from]} " == *" $to "* ]]
}

cd "$source_dir" || exit 1
for folder in "${!may_use[@]}"; do
    [ -d "$folder" ] || fail "the table names $folder, which is not a folder"
done

# What a file includes, each as "quoted PATH" or "angled PATH", however
# spaced; and the custom widgets a form names, which its generated header
# includes.
included_by() {
    case $1 in
    *.ui) sed -n 's|.*<header>\(.*\)</header>.*|quoted \1|p' "$1" ;;
    *)
        sed -n -e 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"\([^"]*\)".*/quoted \1/p' \
            -e 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*<\([^>]*\)>.*/angled \1/p' "$1"
        ;;
    esac
}

# The tree's sources, each as a path from its top.
sources() {
    find . \( -name 'build*' -o -name 'obj-*' -o -name debian -o -name '.?*' \) -prune -o \
        \( -name '*.cpp' -o -name '*.h' -o -name "${1:-*.ui}" \) -printf '%P\n'
}

while IFS= read -r file; do
    from=$(layer_of "$(dirname "$file")")
    if [ -z "$from" ]; then
        [[ $file == tests/* ]] || fail "$file lies in no layer of the table"
        continue
    fi
    while read -r kind included; do
        [[ $included == ui_*.h || $included == *.moc ]] && continue
        if [[ /$included/ == */../* ]]; then
            fail "$file includes $included, which climbs out of its folder"
            continue
        fi
        to=$(layer_of "$(dirname "$included")")
        if [ -n "$to" ]; then
            allowed "$from" "$to" || fail "$file ($from) includes $included ($to)"
        elif [ "$kind" = quoted ]; then
            # Angled includes from no folder of the tree are the system's.
            fail "$file includes \"$included\", which names no folder of the tree"
        fi
    done < <(included_by "$file")
done < <(sources)

# The house style, where clang-format is installed (Debian 12's and 13's
# agree on this tree); a package build has none.
if command -v clang-format >/dev/null; then
    while IFS= read -r file; do
        clang-format --dry-run --Werror "$file" 2>/dev/null ||
            fail "$file differs from .clang-format: clang-format -i $file"
    done < <(sources '*.cpp')
fi

checked=0
while read -r folder target linked_folder linked; do
    from=$(layer_of "$folder")
    to=$(layer_of "$linked_folder")
    [ -n "$from" ] && [ -n "$to" ] || continue
    checked=$((checked + 1))
    allowed "$from" "$to" || fail "$target ($from) links $linked ($to)"
done <"$links"
((checked)) || fail "no link between the tree's own targets in $links"

while read -r folder target _ linked; do
    [[ " $qt_free " == *" $(layer_of "$folder") "* ]] && [[ $linked == Qt*::* ]] &&
        fail "$target links $linked"
done <"$links"

finish layers
