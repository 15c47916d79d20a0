#!/usr/bin/env bash
# The benchmark from a newer Clang. Debian's clang (14) already builds the
# whole tree in the sanitizer build of scripts/test.sh at -O2 with warnings as
# errors, passes every suite but the real 40-second run there and gives GCC's
# digests, so building all of it again here would check nothing new; clang-16
# builds the benchmark (pt and ptverify: the workload, without sanitizers) at
# -O2 with warnings as errors, and its ptverify digests over 20 units in each
# of two runs must equal GCC's. A difference is a fault in the workload
# (undefined or implementation-defined behaviour), never a reason to change
# the pinned digests.
# Installs what it needs from Debian's packages (as root, or with sudo).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

bash scripts/install-deps.sh clang-16

jobs=$(nproc)
units=(--units 20 --runs 2)

echo "== gcc digests"
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs" --target ptverify
./build/release/tools/ptverify "${units[@]}" > build/release/digests-20x2.txt

for cxx in clang++-16; do
    dir=build/${cxx%%++*}${cxx##*++}
    echo "== $cxx in $dir"
    cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" -DCMAKE_BUILD_TYPE=Release -DPT_WERROR=ON >/dev/null
    cmake --build "$dir" -j "$jobs" --target pt ptverify
    "$dir"/tools/ptverify --version
    "$dir"/tools/ptverify "${units[@]}" > "$dir/digests-20x2.txt"
    diff -u build/release/digests-20x2.txt "$dir/digests-20x2.txt"
done
echo "== clang builds passed"
