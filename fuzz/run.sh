#!/bin/sh
# Replays the saved inputs of every fuzz target in BIN, then lets each search
# for SECONDS seconds from its seed inputs. Any failure ends the run with a
# non-zero status and leaves the input under WORK/artifacts.
#   fuzz/run.sh BIN SECONDS [WORK]
set -e
bin=$1
seconds=${2:-20}
here=$(cd "$(dirname "$0")" && pwd)
work=${3:-$bin/../fuzz-work}
mkdir -p "$work/artifacts"

for target in "$bin"/fuzz_*; do
    [ -x "$target" ] || continue
    name=$(basename "$target")
    corpus="$work/corpus/$name"
    mkdir -p "$corpus"
    if [ -d "$here/regressions/$name" ]; then
        echo "== $name: replaying saved inputs"
        "$target" -runs=0 "$here/regressions/$name"/*
    fi
    [ -d "$here/corpus/$name" ] && cp -n "$here/corpus/$name"/* "$corpus"/ 2>/dev/null || true
    echo "== $name: searching for ${seconds}s"
    "$target" -max_total_time="$seconds" -print_final_stats=1 -max_len=4096 \
        -artifact_prefix="$work/artifacts/$name-" "$corpus" 2>"$work/$name.log" || {
        tail -n 60 "$work/$name.log"
        exit 1
    }
    grep -E 'stat::number_of_executed_units|stat::new_units_added' "$work/$name.log"
done
