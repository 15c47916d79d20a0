#!/usr/bin/env bash
# The other processor families: builds pt for 64-bit ARM, 32-bit ARM,
# RISC-V 64, big-endian IBM Z (s390x) and POWER (ppc64le) with Debian's cross
# compilers (the presets of the same names, -O2 Release), and in Debian's
# user-mode emulator (qemu-user) checks:
#   - every family's ptverify digests over 20 units in each of two runs equal
#     the build machine's, whose first four are the pinned ones: the defined
#     work is the same on every family and byte order;
#   - pt runs unattended once on aarch64 and on s390x: exit code 0 and a
#     result file with a Result;
#   - the GoogleTest suites (those that start no child program and need no
#     X11; see tests/CMakeLists.txt) pass on aarch64 and on s390x.
# Only the targets checked are built. PT_ARCH_TARGETS overrides the list
# (e.g. "aarch64 s390x"). Installs what it needs (as root, or with sudo).
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(${PT_ARCH_TARGETS:-aarch64 armhf riscv64 s390x ppc64le})
declare -A triple=([aarch64]=aarch64-linux-gnu [armhf]=arm-linux-gnueabihf [riscv64]=riscv64-linux-gnu
                   [ppc64le]=powerpc64le-linux-gnu [s390x]=s390x-linux-gnu)
declare -A qemu=([aarch64]=aarch64 [armhf]=arm [riscv64]=riscv64 [ppc64le]=ppc64le [s390x]=s390x)
# The families that also run pt and the suites: one 64-bit little-endian, and
# the big-endian one.
full=(aarch64 s390x)

packages=(cmake ninja-build googletest qemu-user g++)
for t in "${targets[@]}"; do packages+=("g++-${triple[$t]}"); done
bash scripts/install-deps.sh "${packages[@]}"

jobs=2
units=(--units 20 --runs 2)
failed=0
fail() { echo "FAILED: $*"; failed=1; }
is_full() { [[ " ${full[*]} " == *" $1 "* ]]; }
emulate() {
    local t=$1
    shift
    "qemu-${qemu[$t]}" -L "/usr/${triple[$t]}" "$@"
}

echo "== build machine's digests"
cmake --preset release >/dev/null
cmake --build --preset release -j "$jobs" --target ptverify
reference=build/release/digests-20x2.txt
./build/release/tools/ptverify "${units[@]}" >"$reference"
pinned=$(sed -n 's/^ *"\(run [^"]*\)\\n"[;]*$/\1/p' src/driver/pinned_digests.h)
[ -n "$pinned" ] && [ "$(head -n "$(wc -l <<<"$pinned")" "$reference")" = "$pinned" ] ||
    fail "the build machine's digests are not the pinned ones"

pt_runs=()
for t in "${targets[@]}"; do
    dir=build/$t
    echo "== $t (${triple[$t]}) at ${SECONDS} s"
    wanted=(ptverify)
    ! is_full "$t" || wanted+=(pt pt_tests pt_alloc_tests)
    cmake --preset "$t" -DBUILD_TESTING="$(is_full "$t" && echo ON || echo OFF)" -DPT_BUILD_PTRUN=OFF >/dev/null
    cmake --build --preset "$t" -j "$jobs" --target "${wanted[@]}"
    emulate "$t" "$dir/tools/ptverify" --version
    emulate "$t" "$dir/tools/ptverify" "${units[@]}" >"$dir/digests-20x2.txt"
    diff -u "$reference" "$dir/digests-20x2.txt" || fail "$t computes other digests"
    if is_full "$t"; then
        # The run takes its fixed 40 seconds whatever the speed, so it goes on
        # in the background while the next family builds, at the lowest
        # priority: its score means nothing here, and the compiler goes first.
        rm -f "$dir/result.ini" "$dir/pt-output.txt"
        nice -n 19 "qemu-${qemu[$t]}" -L "/usr/${triple[$t]}" "$dir/src/pt" "$dir/result.ini" \
            "/o=$dir/pt-output.txt" 2>"$dir/pt-stderr.txt" &
        pt_runs+=("$t:$!")
    fi
done

for t in "${full[@]}"; do
    is_full "$t" && [[ " ${targets[*]} " == *" $t "* ]] || continue
    echo "== $t test suites in the emulator at ${SECONDS} s"
    # One suite evaluates thousands of random texts: 45 seconds in the
    # emulator for what the digests (the parsing module among them) show.
    emulate "$t" "build/$t/tests/pt_tests" --gtest_brief=1 --gtest_filter=-Evaluate.RandomTexts* ||
        fail "$t: pt_tests"
    emulate "$t" "build/$t/tests/pt_alloc_tests" --gtest_brief=1 || fail "$t: pt_alloc_tests"
done

for run in "${pt_runs[@]}"; do
    t=${run%%:*}
    if wait "${run#*:}"; then
        if grep -q '^Result=[0-9]' "build/$t/result.ini"; then
            echo "$t: pt wrote $(grep '^Result=' "build/$t/result.ini")"
        else
            fail "$t: pt wrote no Result"
        fi
    else
        fail "$t: pt ended with an error: $(cat "build/$t/result.ini" "build/$t/pt-stderr.txt" 2>/dev/null)"
    fi
done

[ "$failed" -eq 0 ] || exit 1
echo "== every family computes the defined work (${SECONDS} s)"
