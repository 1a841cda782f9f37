#!/usr/bin/env bash
# Long fuzzing run of every target (benchmark style, not part of the test
# command): RUNS inputs each, starting from the inputs in the repository
# (seeds, corpus, regressions). Afterwards corpus/<target> is replaced by a
# minimised merge of itself and what the run found (edges only, so it stays
# a few tens of files; the seeds stay as they are). Prints, per
# target, the inputs run, libFuzzer's coverage figures and any crash; crash
# inputs are kept under <build>/fuzz/long/<target>/.
#   tests/fuzz/run_long.sh [RUNS [TARGET...]]     RUNS defaults to 10000000
set -euo pipefail
ROOT="$(cd "$(dirname "$0")/../.." && pwd)"
B="${KAV_BUILD_DIR:-$ROOT/build}"
RUNS="${1:-10000000}"
[ $# -gt 0 ] && shift
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(rx_cutter ini_value hotkey_text)

bash "$ROOT/scripts/build.sh" fuzz >/dev/null

summary=()
for t in "${targets[@]}"; do
  exe="$B/fuzz/fuzz_$t"
  corpus="$ROOT/tests/fuzz/corpus/$t"
  work="$B/fuzz/long/$t"
  rm -rf "$work"
  mkdir -p "$work/found" "$work/merged" "$corpus"
  # As in the test (tests/fuzz/CMakeLists.txt).
  max_len=()
  [ "$t" = rx_cutter ] && max_len=(-max_len=512)
  echo "== $t: $RUNS inputs"
  start=$(date +%s)
  status=ok
  inputs=("$corpus")
  for d in seeds regressions; do [ -d "$ROOT/tests/fuzz/$d/$t" ] && inputs+=("$ROOT/tests/fuzz/$d/$t"); done
  "$exe" -runs="$RUNS" -seed=20261208 -timeout=10 -rss_limit_mb=2048 "${max_len[@]}" -print_final_stats=1 \
    -artifact_prefix="$work/" "$work/found" "${inputs[@]}" >"$work/log" 2>&1 || status="crash (see $work/log)"
  secs=$(( $(date +%s) - start ))
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$work/log" | tail -n1 || true)
  [ -z "$done_line" ] && done_line=$(grep -E '^#[0-9]+' "$work/log" | tail -n1 || true)
  execs=$(grep -Eo 'stat::number_of_executed_units: [0-9]+' "$work/log" | grep -Eo '[0-9]+$' || echo "?")
  cov=$(echo "$done_line" | grep -Eo 'cov: [0-9]+' | grep -Eo '[0-9]+' || echo "?")
  ft=$(echo "$done_line" | grep -Eo 'ft: [0-9]+' | grep -Eo '[0-9]+' || echo "?")
  # Minimise: keep the inputs that reach every edge reached so far.
  "$exe" -merge=1 -use_counters=0 "$work/merged" "$corpus" "$work/found" >"$work/merge.log" 2>&1
  find "$corpus" -type f -delete
  cp "$work/merged"/* "$corpus"/ 2>/dev/null || true
  files=$(find "$corpus" -type f | wc -l)
  line="$t: $execs inputs in ${secs} s, cov $cov, ft $ft, corpus $files files, $status"
  echo "$line"
  summary+=("$line")
done
echo "== summary"
printf '%s\n' "${summary[@]}"
