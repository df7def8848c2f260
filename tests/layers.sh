#!/usr/bin/env bash
# Folders are layers: a file may include, and a target may link, only its own
# folder and the folders this table lets it use. The tests may use them all.
# Usage: layers.sh SOURCE-DIR LINKS-FILE (lines: folder target linked-folder linked-target)
set -uo pipefail

source_dir=$1
links=$2
source "$(dirname "${BASH_SOURCE[0]}")/helpers.sh"

declare -A may_use=(
    [log]=""
    [service]="log"
    [pam]="log"
    [pictures]=""
    [runtime]="pictures"
    [logger]="log runtime pictures"
    [viewer/gate]=""
    [viewer]="viewer/gate runtime pictures"
    [bench]="log logger viewer/gate"
)
# The recording service and the PAM step run in every login's path and as
# their own system user: no toolkit.
qt_free="log service pam"

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

while IFS= read -r file; do
    from=$(layer_of "$(dirname "$file")")
    [ -n "$from" ] || continue
    while IFS= read -r included; do
        to=$(layer_of "$(dirname "$included")")
        [ -n "$to" ] || { fail "$file includes \"$included\", which names no folder of the tree"; continue; }
        allowed "$from" "$to" || fail "$file ($from) includes $included ($to)"
    done < <(sed -n 's/^#include "\([^"]*\)".*/\1/p' "$file" | grep -v '^ui_\|\.moc$')
done < <(find . \( -name 'build*' -o -name 'obj-*' -o -name debian -o -name '.?*' \) -prune -o \
    \( -name '*.cpp' -o -name '*.h' \) -printf '%P\n')

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
    [[ " $qt_free " == *" $(layer_of "$folder") "* ]] && [[ $linked == Qt6::* ]] &&
        fail "$target links $linked"
done <"$links"

finish layers
