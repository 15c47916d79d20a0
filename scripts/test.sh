#!/usr/bin/env bash
# Builds pt and passes every test: the release build with all suites
# (including the one real unattended run), the workload digests in a debug
# build, and a sanitizer build (AddressSanitizer + UndefinedBehaviorSanitizer)
# by Debian's clang 14, so the suites also pass from a second compiler,
# running the unit suites and 500 verified work units in each of two runs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/install-deps.sh clang-14 libclang-rt-14-dev

jobs=$(nproc)

echo "== release"
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs"
ctest --preset release -j "$jobs"
./build/release/tools/ptverify --units 3 > build/release/digests.txt

echo "== debug"
cmake --preset debug >/dev/null
cmake --build --preset debug -j "$jobs" --target ptverify
./build/debug/tools/ptverify --units 3 > build/debug/digests.txt
diff -u build/release/digests.txt build/debug/digests.txt

echo "== sanitize"
cmake --preset sanitize >/dev/null
cmake --build --preset sanitize -j "$jobs"
ctest --preset sanitize -j "$jobs"
./build/sanitize/tools/ptverify --units 3 > build/sanitize/digests.txt
diff -u build/release/digests.txt build/sanitize/digests.txt
./build/sanitize/tools/ptverify --units 500 --runs 2 > /dev/null
echo "== all tests passed"
