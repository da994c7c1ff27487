#!/bin/sh
# run-fuzz.sh TARGET WORKDIR SEEDS REGRESSIONS SECONDS
# Replays the kept crashing inputs, then fuzzes from the seeds for SECONDS.
set -e
target=$1 work=$2 seeds=$3 regressions=$4 seconds=$5
mkdir -p "$work" "$work/crashes"
if [ -d "$regressions" ] && [ -n "$(ls -A "$regressions" 2>/dev/null)" ]; then
  "$target" -runs=0 "$regressions"/* >/dev/null 2>&1 || { echo "a kept crashing input fails again"; exit 1; }
fi
"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -print_final_stats=1 \
  -artifact_prefix="$work/crashes/" "$work" "$seeds" 2>"$work/log.txt" || {
  tail -n 40 "$work/log.txt"; exit 1; }
grep -E 'stat::number_of_executed_units|Done' "$work/log.txt" | tail -n 2
