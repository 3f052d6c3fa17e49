#!/usr/bin/env bash
# Runs every fuzz target for MINUTES minutes each (default 20), one after
# the other, in the ASan+UBSan build. Each starts from its kept corpus in
# fuzz/corpus/<target> (and its generated seeds), works in a scratch corpus
# of the build, and at the end replaces the kept corpus by the fewest
# inputs that reach every edge any of them reached. Crashing inputs are
# left in build/asan/fuzz as <target>-crash-*; the script then fails.
set -euo pipefail
cd "$(dirname "$0")/.."

minutes=${1:-20}
cmake --preset asan >/dev/null
cmake --build --preset asan
fuzz_dir=build/asan/fuzz
ctest --preset asan -R '_fuzz_seeds$' >/dev/null # generated seed corpora

failed=()
for source in fuzz/*_fuzz.cpp; do
    target=$(basename "$source" .cpp)
    kept=fuzz/corpus/$target
    scratch=$fuzz_dir/${target}_scratch
    log=$fuzz_dir/$target.log
    mkdir -p "$kept" "$scratch"
    seeds=()
    [[ -d $fuzz_dir/${target}_corpus ]] && seeds=("$fuzz_dir/${target}_corpus")
    echo "== $target: $minutes min"
    if ! "$fuzz_dir/$target" -max_total_time=$((minutes * 60)) -rss_limit_mb=1024 \
        -print_final_stats=1 -artifact_prefix="$fuzz_dir/$target-" \
        "$scratch" "$kept" "${seeds[@]}" >"$log" 2>&1; then
        failed+=("$target")
    fi
    grep -E '^#[0-9]+.*DONE|^stat::(number_of_executed_units|average_exec_per_sec)|ERROR' "$log" || true
    # The kept corpus becomes the fewest inputs that reach every edge reached.
    minimised=$fuzz_dir/${target}_minimised
    rm -rf "$minimised" && mkdir "$minimised"
    "$fuzz_dir/$target" -set_cover_merge=1 -use_counters=0 "$minimised" "$kept" "$scratch" \
        "${seeds[@]}" >/dev/null 2>&1
    rm -rf "$kept" "$scratch" && mv "$minimised" "$kept"
done
if ((${#failed[@]})); then
    echo "findings in: ${failed[*]} (see $fuzz_dir/<target>.log)"
    exit 1
fi
