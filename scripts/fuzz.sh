#!/usr/bin/env bash
# Runs every libFuzzer target of tests/fuzz for FUZZ_SECONDS (60 by default),
# two at a time, with the sanitizers' settings of the checked build. It builds
# nothing: scripts/sanitize.sh has built them into ./build-checked.
#
# The committed seeds in tests/fuzz/corpus/<target> are only read; what the
# fuzzer learns goes to build-checked/fuzz/corpus/<target>, and the input of
# a crash, leak, timeout or memory blow-up to build-checked/fuzz/artifacts/.
# Exits non-zero when any target fails or does not run, naming it and its
# reproducer.
set -uo pipefail
cd "$(dirname "$0")/.."

seconds="${FUZZ_SECONDS:-60}"
targets=(fuzz_hexfile fuzz_receive fuzz_commandline fuzz_datagram)
bin=build-checked/tests/fuzz
work=build-checked/fuzz
# One input may take this long before it counts as a hang; the whole run of
# a target gets its time plus a margin before it is stopped from outside.
input_timeout=10
rss_limit_mb=2048
margin=120

source scripts/sanitizer-env.sh
export QT_QPA_PLATFORM=offscreen

run_target() {
    local t="$1"
    local corpus="$work/corpus/$t" artifacts="$work/artifacts/$t/"
    local -a dict=()
    [[ -f tests/fuzz/$t.dict ]] && dict=(-dict="tests/fuzz/$t.dict")
    mkdir -p "$corpus" "$artifacts"
    timeout --kill-after=10 $((seconds + margin)) "$bin/$t" \
        -max_total_time="$seconds" -timeout="$input_timeout" -rss_limit_mb="$rss_limit_mb" \
        -detect_leaks=1 -print_final_stats=1 -artifact_prefix="$artifacts" "${dict[@]}" \
        "$corpus" "tests/fuzz/corpus/$t" >"$work/$t.log" 2>&1
    echo $? >"$work/$t.rc"
}

mkdir -p "$work"
for t in "${targets[@]}"; do
    rm -f "$work/$t.rc" "$work/$t.log"
    if [[ ! -x $bin/$t ]]; then
        echo "fuzz: $t is not built ($bin/$t); run scripts/sanitize.sh first" >&2
        continue
    fi
    while (($(jobs -rp | wc -l) >= 2)); do
        wait -n
    done
    echo "fuzz: $t for ${seconds} s"
    run_target "$t" &
done
wait

failed=0
for t in "${targets[@]}"; do
    log="$work/$t.log"
    rc=$(cat "$work/$t.rc" 2>/dev/null || echo "not run")
    done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" 2>/dev/null | tail -n 1)
    if [[ $rc == 0 && -n $done_line ]]; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log")
        rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$log")
        cov=$(sed -n 's/.* cov: \([0-9]*\) ft: \([0-9]*\) corp: \([0-9]*\).*/cov \1, ft \2, corpus \3/p' <<<"$done_line")
        echo "fuzz: $t passed: $runs runs, $rate/s, $cov, peak RSS $rss MiB"
        continue
    fi
    failed=1
    what="did not run to the end"
    if [[ $rc == "not run" ]]; then
        what="did not start"
    elif [[ $rc == 124 || $rc == 137 ]]; then
        what="did not end in time (stopped after $((seconds + margin)) s)"
    elif grep -q 'ERROR: libFuzzer: timeout' "$log"; then
        what="an input took longer than ${input_timeout} s"
    elif grep -q 'ERROR: libFuzzer: out-of-memory' "$log"; then
        what="went past ${rss_limit_mb} MiB of memory"
    elif grep -q 'ERROR: LeakSanitizer' "$log"; then
        what="leaked"
    elif grep -qE 'ERROR: (AddressSanitizer|libFuzzer)|runtime error:' "$log"; then
        what="crashed"
    fi
    echo "fuzz: $t FAILED (exit $rc): $what; log $log" >&2
    # The report itself, for a CI run whose build folder is gone afterwards.
    tail -n 40 "$log" 2>/dev/null | sed 's/^/fuzz:   | /' >&2
    reproducer=$(sed -n 's/.*Test unit written to \(.*\)$/\1/p' "$log" 2>/dev/null | tail -n 1)
    if [[ -n $reproducer ]]; then
        echo "fuzz:   reproducer $reproducer (replay: $bin/$t $reproducer)" >&2
    fi
done
exit "$failed"
