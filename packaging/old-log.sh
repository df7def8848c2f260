# Shared by the package's preinst (copied in when the package is built: dpkg
# runs it before any of the package is unpacked) and by setup-log.
#
# Earlier versions (1.0.0) kept the log as a plain file beside the logger,
# writable by all. Its records move to the state folder's log, or beside that
# log if it has records already; the caller then puts the link in its place.
# Usage: move_old_log OLD LOG
move_old_log() {
    if [ ! -f "$1" ] || [ -L "$1" ]; then
        return 0
    fi
    install -d -m 0755 "$(dirname "$2")"
    if [ -s "$2" ]; then
        kept=$2.$(date +%Y%m%d%H%M%S)
        # Its mode changes before it moves into a folder the service's
        # user can write, where a link could take its place.
        chmod 0640 "$1"
        mv -T "$1" "$kept"
        echo "tallix: $1 moved to $kept: both it and $2 hold records" >&2
    else
        mv -T "$1" "$2"
    fi
}
