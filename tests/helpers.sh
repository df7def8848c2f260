# Sourced by the shell tests: counting and reporting failures.
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
owner_mode() { stat -c '%U:%G %a' "$1"; }
finish() {
    if ((failures)); then
        echo "$failures check(s) failed"
        exit 1
    fi
    echo "$1: all checks passed"
}
