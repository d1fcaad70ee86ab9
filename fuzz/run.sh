#!/bin/sh
# Runs one fuzz harness of the libFuzzer build on its corpus.
#   fuzz/run.sh <harness> [seconds] [build directory] [extra libFuzzer options ...]
# harness: cmdline, adf, formula or mdf. New inputs go to <build>/work/<harness> (the repository's
# corpus fuzz/corpus/<harness> is only read); crashes, leaks and timeouts are written to
# <build>/artifacts/<harness>-*. One job on one core, so that it can share the machine.
set -eu
name=${1:?usage: fuzz/run.sh <harness> [seconds] [build directory] [options ...]}
seconds=${2:-1200}
build=${3:-build-fuzz}
[ $# -ge 3 ] && shift 3 || shift $#
root=$(cd "$(dirname "$0")/.." && pwd)
work=$build/work/$name
mkdir -p "$work" "$build/artifacts"
dict=
[ -f "$root/fuzz/$name.dict" ] && dict=-dict=$root/fuzz/$name.dict
max_len=4096
[ "$name" = cmdline ] && max_len=12000
[ "$name" = mdf ] && max_len=16384
exec "$build/bin/fuzz_$name" $dict -max_len=$max_len -timeout=10 -rss_limit_mb=2048 \
  -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" \
  "$@" "$work" "$root/fuzz/corpus/$name"
