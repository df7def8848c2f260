#!/usr/bin/env bash
# The viewer's password must not be readable from what the build produces:
# the programs, every other ELF file, object file and static library in the
# build tree, and every file of an install tree when one is given.
# Usage: password_absent.sh PASSWORD-FILE BUILD-DIR [INSTALL-DIR]
set -u

password_file=$1
build_dir=$2
install_dir=${3:-}

for program in "$build_dir/logger/tallix" "$build_dir/viewer/tallix-vistrel"; do
    [[ -f $program ]] || { echo "FAIL: $program has not been built" >&2; exit 1; }
done
[[ -z $install_dir || -d $install_dir ]] || { echo "FAIL: no install tree at $install_dir" >&2; exit 1; }

exec python3 - "$password_file" "$build_dir" "$install_dir" <<'EOF'
import os
import sys

password_file, build_dir, install_dir = sys.argv[1:4]
with open(password_file, "rb") as f:
    password = f.read().decode("utf-8")
if not password:
    sys.exit("FAIL: the password file is empty")
needles = {password.encode(encoding)
           for encoding in ("utf-8", "utf-16-le", "utf-16-be", "utf-32-le", "utf-32-be")}
skip = os.path.realpath(password_file)

def cmake_folders(folder, subfolders):
    # CMake's own folders only: the tests keep chroots, staged installs and
    # other builds under the build tree too, and fill and empty them meanwhile.
    if "CMakeFiles" not in folder.split(os.sep):
        subfolders[:] = [sub for sub in subfolders if sub == "CMakeFiles"
                         or os.path.isdir(os.path.join(folder, sub, "CMakeFiles"))]

def files(root, wanted, prune=lambda folder, subfolders: None):
    for folder, subfolders, names in os.walk(root):
        prune(folder, subfolders)
        for name in names:
            path = os.path.join(folder, name)
            if os.path.isfile(path) and not os.path.islink(path) \
                    and os.path.realpath(path) != skip and wanted(path):
                yield path

def is_build_output(path):
    if path.endswith((".o", ".a")):
        return True
    with open(path, "rb") as f:
        return f.read(4) == b"\x7fELF"

candidates = set(files(build_dir, is_build_output, cmake_folders))
if install_dir:
    candidates.update(files(install_dir, lambda path: True))

leaks = []
for path in sorted(candidates):
    with open(path, "rb") as f:
        contents = f.read()
    if any(needle in contents for needle in needles):
        leaks.append(path)

for path in leaks:
    print(f"FAIL: {path} holds the password", file=sys.stderr)
print(f"{len(candidates)} files checked, {len(leaks)} hold the password")
sys.exit(1 if leaks else 0)
EOF
