#!/bin/sh
# Group "viewer": the history viewer opening and deleting in a 10,000-record history.
set -e
cmake --build "$CORVIDAN_BENCH_BUILD" --target bench_viewer >&2
exec "$CORVIDAN_BENCH_BUILD/bench/bench_viewer"
