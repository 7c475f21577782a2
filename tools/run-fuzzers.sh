#!/usr/bin/env bash
# Builds the libFuzzer targets (configure preset "fuzz") and runs each for SECONDS seconds
# (default 30). Fails when a target finds a crash, a leak or a sanitizer report.
# usage: tools/run-fuzzers.sh [SECONDS]
set -euo pipefail
seconds="${1:-30}"
root="$(cd "$(dirname "$0")/.." && pwd)"
cd "$root"
targets=(fuzz_configuration_scan fuzz_string_reply fuzz_usb_walk fuzz_arrival_record fuzz_capture_check
         fuzz_report_descriptor)

cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j2 --target "${targets[@]}" oskel-sim

# The capture checker starts from short exported downloads of each mode and link type (each
# ended early by a fault, so that it fits -max_len), behind the byte that chooses the device, and
# from the forms of tests/cli/write_capture.pl that the exports lack: classic pcap, a big-endian
# section, link type 189. A seed already in the corpus is kept.
seed_captures() {
    local corpus="build/fuzz/corpus/fuzz_capture_check" capture="build/fuzz/seed.pcapng"
    mkdir -p "$corpus"
    local seeds=("0 2563:0059 --road arrival --refuse-report 6 --pcap-link usbpcap"
                 "1 2563:1818 --refuse-report 4 --pcap-link usbmon"
                 "6 0461:4d81 --fail-reply 3 --pcap-link usbpcap"
                 "2 0461:4d81 --stall-report 3 --pcap-link usbmon --keyboard-first --address 2.9")
    local seed selector device options
    for seed in "${seeds[@]}"; do
        read -r selector device options <<<"$seed"
        [ ! -e "$corpus/seed-$selector-${device/:/-}" ] || continue
        # shellcheck disable=SC2086
        build/fuzz/oskel-sim --device "$device" $options --time-scale 100000 --pcap "$capture" >/dev/null 2>&1 || true
        { printf "\\x0$selector"; cat "$capture"; } >"$corpus/seed-$selector-${device/:/-}"
    done
    rm -f "$capture"
    local form
    for form in "8 pcap 220" "9 pcapng-big 220" "10 pcapng 189" "11 pcap-ns-big 189"; do
        read -r selector seed options <<<"$form"
        [ ! -e "$corpus/seed-$seed-$options" ] || continue
        { printf "\\x$(printf %02x "$selector")"; perl tests/cli/write_capture.pl "$seed" "$options"; } \
            >"$corpus/seed-$seed-$options"
    done
}
seed_captures

failed=0
for target in "${targets[@]}"; do
    corpus="build/fuzz/corpus/$target"
    artifacts="build/fuzz/artifacts/$target/"
    mkdir -p "$corpus" "$artifacts"
    echo "== $target: ${seconds}s"
    dictionary=()
    [ -f "fuzz/${target#fuzz_}.dict" ] && dictionary=(-dict="fuzz/${target#fuzz_}.dict")
    if ! "build/fuzz/fuzz/$target" -max_total_time="$seconds" -max_len=4096 -timeout=10 "${dictionary[@]}" \
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
