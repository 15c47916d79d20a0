#!/usr/bin/env bash
# Runs pt unattended N times and prints each score, then the median, the
# minimum, the maximum and the coefficient of variation (standard deviation
# over mean) of the scores.
#   tools/score-spread.sh [N] [path/to/pt]      (defaults: 5, build/release/src/pt)
set -euo pipefail
runs="${1:-5}"
pt="${2:-$(dirname "$0")/../build/release/src/pt}"
if [ ! -x "$pt" ]; then
    echo "no pt at $pt: build it first (cmake --preset release && cmake --build --preset release)" >&2
    exit 2
fi
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "N must be a positive whole number" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
scores=()
for ((i = 1; i <= runs; i++)); do
    "$pt" "$work/r.ini" </dev/null 2>/dev/null || { echo "run $i failed:" >&2; cat "$work/r.ini" >&2; exit 1; }
    score=$(sed -n 's/^Result=\([0-9.e+-]*\) *$/\1/p' "$work/r.ini")
    [ -n "$score" ] || { echo "run $i wrote no result" >&2; exit 1; }
    echo "run $i: $score"
    scores+=("$score")
    rm -f "$work/r.ini"
done
printf '%s\n' "${scores[@]}" | sort -g | awk '
    { v[NR] = $1; sum += $1 }
    END {
        n = NR; mean = sum / n
        for (i = 1; i <= n; i++) ss += (v[i] - mean) ^ 2
        sd = n > 1 ? sqrt(ss / (n - 1)) : 0
        median = n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
        printf "runs %d  median %.4g  min %.4g  max %.4g  cv %.2f%%\n", n, median, v[1], v[n], 100 * sd / mean
    }'
