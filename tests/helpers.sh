# Sourced by the shell tests: counting and reporting failures.
failures=0
# A failed check: reported, and the script goes on to the next one.
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
check() { local what=$1; shift; "$@" || fail "$what"; }
# A failure the later checks cannot go on from.
give_up() { fail "$*"; finish "$(basename "$0" .sh)"; }
owner_mode() { stat -c '%U:%G %a' "$1"; }
finish() {
    if ((failures)); then
        echo "$1: $failures check(s) failed"
        exit 1
    fi
    echo "$1: all checks passed"
}
# The scripts that add users, groups, packages or PAM files run only in the
# throwaway root of booted_system.sh, never on the machine itself.
require_throwaway_root() {
    if [ ! -e /etc/tallix-throwaway-root ]; then
        echo "$1: runs only inside the throwaway root of tests/booted_system.sh"
        exit 77
    fi
}

# A console login of USER (on TTY, tty5 unless given) through PAM, outside any session, as login opens it.
console_login() {
    systemd-run --quiet --wait --pipe pamtester -I "tty=/dev/${2:-tty5}" login "$1" open_session close_session >/dev/null
}
# Runs COMMAND every fifth of a second until it succeeds, for at most SECONDS.
within() {
    local end=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < end)) || return 1
        sleep 0.2
    done
}
