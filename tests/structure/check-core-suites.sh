#!/bin/sh
# usage: check-core-suites.sh WINDOW_SUITE CORE_SUITE...
# Fails when a core suite needs a Qt library beyond Core and Network, or when
# the window suite does not (then this check would see nothing).
set -eu
gui_libs() {
    readelf -d "$1" | sed -n 's/.*Shared library: \[\(libQt6\(Gui\|Widgets\|PrintSupport\|Test\)\.so[^]]*\)\].*/\1/p'
}
window=$1
shift
[ -n "$(gui_libs "$window")" ] || { echo "$window: no window library found; the check is blind" >&2; exit 1; }
status=0
for suite in "$@"; do
    found=$(gui_libs "$suite")
    if [ -n "$found" ]; then
        echo "$(basename "$suite") is a core suite but needs:" $found >&2
        status=1
    fi
done
[ $status = 0 ] && echo "$# core suites need no window library"
exit $status
