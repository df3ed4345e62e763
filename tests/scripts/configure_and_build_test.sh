#!/usr/bin/env bash
# configure_and_build configures afresh exactly when the options differ from the last
# configure of the folder, and builds every time. cmake is stood in for by a function that
# records its calls: the real one would take minutes and decide nothing here.
set -euo pipefail
source "$(dirname "$0")/../../scripts/lib/common.sh"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
calls="$work/calls"
cmake() {
    echo "$*" >>"$calls"
    if [ "$1" = --fresh ]; then
        touch "$work/build/CMakeCache.txt"
    fi
}
mkdir -p "$work/build"

expect() { # expect RUN_DESCRIPTION CONFIGURED(yes|no) OPTIONS...
    local what=$1 configured=$2
    shift 2
    : >"$calls"
    configure_and_build "$work/build" "$@"
    local got=no
    grep -q -- '--fresh' "$calls" && got=yes
    if [ "$got" != "$configured" ] || ! grep -q -- "--build $work/build" "$calls"; then
        echo "FAIL: $what: configured=$got (wanted $configured); cmake calls:" >&2
        cat "$calls" >&2
        exit 1
    fi
}

expect "first run" yes -DA=1 "-DB=two words"
expect "same options" no -DA=1 "-DB=two words"
expect "an option dropped" yes -DA=1
expect "an option changed" yes -DA=2
expect "same again" no -DA=2
rm "$work/build/CMakeCache.txt"
expect "cache gone" yes -DA=2
expect "targets named" no -DA=2 -- one two
grep -q -- "--build $work/build -j $JOBS --target one two" "$calls" ||
    { echo "FAIL: targets named: not built as asked" >&2; cat "$calls" >&2; exit 1; }
echo "configure_and_build: all cases pass"
