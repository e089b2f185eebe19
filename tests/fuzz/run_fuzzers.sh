#!/usr/bin/env bash
# Builds the fuzz targets in the clang preset "fuzz" (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each on its seed corpus for a bounded
# time (VANE_FUZZ_SECONDS, 15 s by default). New inputs go to a scratch folder,
# never into the committed corpus. Any crash, sanitizer report or broken
# promise fails the run; the input is kept under build/fuzz/crashes/ (add it
# to tests/fuzz/corpus/<target>/ once the bug is fixed).
set -euo pipefail
source_dir=${1:-$(cd "$(dirname "$0")/../.." && pwd)}
seconds=${VANE_FUZZ_SECONDS:-15}
cd "$source_dir"
# g++ has no libFuzzer: Debian's clang and its runtime libraries (only recommended by clang).
"$source_dir/scripts/install-packages.sh" clang libclang-rt-14-dev
cmake --preset fuzz >/dev/null
cmake --build build/fuzz --target fuzzers -j"$(nproc)" >/dev/null
crashes="$source_dir/build/fuzz/crashes"
mkdir -p "$crashes"
status=0
total=0
for corpus in "$source_dir"/tests/fuzz/corpus/*/; do
  name=$(basename "$corpus")
  fuzzer="$source_dir/build/fuzz/tests/$name"
  scratch=$(mktemp -d)
  log="$scratch/log"
  started=$(date +%s)
  if "$fuzzer" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1 \
      -artifact_prefix="$crashes/$name-" "$scratch" "$corpus" >"$log" 2>&1; then
    result="0 crashes"
  else
    result="FAILED"
    status=1
  fi
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  echo "[fuzz] $name: ${runs:-0} executions, $result, $(( $(date +%s) - started )) s"
  if [ "$result" = FAILED ]; then
    grep -E "ERROR|broken promise|runtime error|SUMMARY|Test unit written" "$log" | head -20 || tail -30 "$log"
  fi
  total=$(( total + ${runs:-0} ))
  rm -rf "$scratch"
done
echo "[fuzz] all targets: $total executions"
exit $status
