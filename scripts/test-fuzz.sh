#!/usr/bin/env bash
# Fuzzes ptrun's results reader for a bounded time (90 s, or $1 seconds)
# with Clang's libFuzzer under AddressSanitizer and UndefinedBehaviorSanitizer,
# one fuzzing process per processor (libFuzzer's fork mode, sharing one
# corpus; a timeout or running out of memory fails as a crash does), seeded
# with real results files of both schemas (tests/fuzz/corpus). An input that
# crashes is kept in tests/fuzz/crashes, which the normal suite reads
# (PtrunReader.ReadsEveryFuzzInput), and the script fails.
# Installs what it needs from Debian's packages (as root, or with sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-90}
bash scripts/install-deps.sh
bash scripts/install-deps.sh clang-14 libclang-rt-14-dev

# The fuzz target belongs to the sanitizer build, whose libraries carry the
# fuzzer's coverage: after scripts/test.sh only the target itself is built.
dir=build/sanitize
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j "$(nproc)" --target ptrun_reader_fuzz

mkdir -p "$dir/corpus" tests/fuzz/crashes
status=0
"$dir/tests/fuzz/ptrun_reader_fuzz" "$dir/corpus" tests/fuzz/corpus tests/fuzz/crashes \
    -fork="$(nproc)" -ignore_timeouts=0 -ignore_ooms=0 -max_total_time="$seconds" -max_len=65536 -timeout=10 \
    -rss_limit_mb=2048 -artifact_prefix=tests/fuzz/crashes/ || status=$?
if [ "$status" -ne 0 ]; then
    echo "test-fuzz: the reader failed on an input, kept in tests/fuzz/crashes/: add it to the repository" >&2
    ls -l tests/fuzz/crashes >&2
fi
exit "$status"
