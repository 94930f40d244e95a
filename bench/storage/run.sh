#!/bin/sh
# Group "storage": the history file's listing and compaction.
set -e
cmake --build "$CORVIDAN_BENCH_BUILD" --target bench_storage >&2
exec "$CORVIDAN_BENCH_BUILD/bench/bench_storage"
