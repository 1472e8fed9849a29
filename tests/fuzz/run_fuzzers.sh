#!/bin/sh
# Runs every fuzz target of a fuzz build (the fuzz preset's build/fuzz) in
# turn, SECONDS in all split evenly, each from its seed corpus and the
# inputs earlier runs kept; prints one line per target with its executions
# per second and the coverage it reached (libFuzzer's cov: and ft: counts).
# Fails, naming the saved input, when a target finds a crash.
#   run_fuzzers.sh BUILD_DIR SOURCE_DIR SECONDS
set -eu
build=$1
source=$2
seconds=$3
targets=$(cd "$build/tests/fuzz" && ls fuzz_* | sed 's/^fuzz_//')
count=$(echo "$targets" | wc -w)
each=$((seconds / count))
[ "$each" -ge 1 ] || each=1
status=0
for name in $targets; do
    work="$build/tests/fuzz/work/$name"
    mkdir -p "$work/corpus"
    log="$work/last_run.log"
    if TMPDIR="$work" "$build/tests/fuzz/fuzz_$name" -max_total_time="$each" -timeout=20 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$work/" "$work/corpus" "$source/tests/fuzz/corpus/$name" \
        >"$log" 2>&1; then
        result=ok
    else
        result="FAILED ($(grep -o "Test unit written to .*" "$log" | tail -1 | sed 's/Test unit written to //'))"
        status=1
    fi
    line=$(grep -E "^#[0-9]+[[:space:]]+(DONE|pulse|NEW|REDUCE)" "$log" | tail -1)
    cov=$(echo "$line" | sed -n 's/.*cov: \([0-9]*\).*/\1/p')
    ft=$(echo "$line" | sed -n 's/.*ft: \([0-9]*\).*/\1/p')
    corp=$(echo "$line" | sed -n 's/.*corp: \([0-9]*\).*/\1/p')
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
    printf '%-10s %4ss  %6s exec/s  cov %5s  ft %6s  corpus %5s  %s\n' "$name" "$each" "${rate:-?}" \
        "${cov:-?}" "${ft:-?}" "${corp:-?}" "$result"
done
exit $status
