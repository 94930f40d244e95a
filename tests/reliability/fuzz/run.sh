#!/bin/sh
# run.sh BUILD TARGET SECONDS [extra libFuzzer options]
# Runs one fuzz target for SECONDS over its seed corpus (and, for the message
# target, the shared real-world messages when they are present). New inputs go
# to BUILD/corpus/TARGET; a failing input is kept in BUILD/artifacts.
# CORVIDAN_FUZZ_SECONDS overrides SECONDS for a long local run.
set -eu
build=$1 target=$2 seconds=${CORVIDAN_FUZZ_SECONDS:-$3}
shift 3
here=$(cd "$(dirname "$0")" && pwd)
seeds=$here/../../data/reliability/$target
corpus=$build/corpus/$target
mkdir -p "$corpus" "$build/artifacts"
extra=""
if [ "$target" = message ]; then
  for dir in "$here/../../../../shared/mail-corpus" /work/shared/mail-corpus; do
    if [ -d "$dir" ]; then extra=$dir; break; fi
  done
fi
dict=""
[ -f "$seeds.dict" ] && dict="-dict=$seeds.dict"
max_len=8192
[ "$target" = message ] && max_len=65536
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1:allocator_may_return_null=1:malloc_context_size=8}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$here/lsan.supp:print_suppressions=0}
# shellcheck disable=SC2086
exec "$build/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
  -max_len=$max_len -print_final_stats=1 -artifact_prefix="$build/artifacts/$target-" $dict "$@" \
  "$corpus" "$seeds" $extra
