#!/usr/bin/env bash
# Builds pt (release, -O2) and runs the benchmark once unattended:
#   scripts/run-benchmark.sh [result-file] [output-file]
# The score lands in the result file (default results.ini), the printed lines
# in the output file (default pt-output.txt).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release --target pt
result="${1:-results.ini}"
output="${2:-pt-output.txt}"
./build/release/src/pt "$result" "/o=$output"
cat "$output"
echo "Result file: $result"
