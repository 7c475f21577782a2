#!/usr/bin/env bash
# Builds the libFuzzer targets (configure preset "fuzz") and runs each for SECONDS seconds
# (default 30). Fails when a target finds a crash, a leak or a sanitizer report.
# usage: tools/run-fuzzers.sh [SECONDS]
set -euo pipefail
seconds="${1:-30}"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
targets=(fuzz_configuration_scan fuzz_string_reply fuzz_usb_walk fuzz_arrival_record fuzz_report_descriptor)

cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j2 --target "${targets[@]}"

failed=0
for target in "${targets[@]}"; do
    corpus="build/fuzz/corpus/$target"
    artifacts="build/fuzz/artifacts/$target/"
    mkdir -p "$corpus" "$artifacts"
    echo "== $target: ${seconds}s"
    if ! "build/fuzz/fuzz/$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 \
            -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$artifacts" "$corpus" \
            >"build/fuzz/$target.log" 2>&1; then
        echo "FINDING in $target (log: build/fuzz/$target.log, inputs: $artifacts)"
        tail -40 "build/fuzz/$target.log"
        failed=1
    else
        grep -E '^stat::number_of_executed_units|^#[0-9]+.*DONE' "build/fuzz/$target.log" | tail -2 || true
    fi
done
exit "$failed"
