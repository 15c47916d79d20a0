#!/usr/bin/env bash
# A pull request's check: builds the merge base and the head, runs the two
# interleaved with ptrun on this one runner (ptrun validates both builds
# first and refuses one whose work differs), writes the comparison as
# Markdown into the job summary, and gates. Before it fails a job it makes a
# second call: the job fails only when both calls fail the gate.
#
#   contrib/ci/pr-compare.sh [--base REF] [--runs N] [--fail-above PCT] [--report FILE]
#
#   --base REF        the branch merged into (default: origin/main, or
#                     $GITHUB_BASE_REF / $CI_MERGE_REQUEST_TARGET_BRANCH_NAME)
#   --runs N          rounds of each build per call (default 10)
#   --fail-above PCT  fail when B is shown slower by more than PCT % (default 2)
#   --report FILE     where the Markdown goes without $GITHUB_STEP_SUMMARY
#                     (default pr-compare.md, a GitLab job's artifact)
#
# Given PT_BASE and PT_HEAD (each a built pt with its ptverify beside it or
# in ../tools), nothing is built and those are run; PTRUN names the ptrun
# (default: the head's). PR_COMPARE_ALLOW_UNVALIDATED=1 passes
# --allow-unvalidated (for trying the script on stand-ins, never for a gate).
# Exit status: 0 passed, 1 both calls failed the gate, 2 an error or too few
# rounds to decide.
set -euo pipefail

base_ref=${GITHUB_BASE_REF:+origin/$GITHUB_BASE_REF}
base_ref=${base_ref:-${CI_MERGE_REQUEST_TARGET_BRANCH_NAME:+origin/$CI_MERGE_REQUEST_TARGET_BRANCH_NAME}}
base_ref=${base_ref:-origin/main}
runs=10 fail_above=2 report=pr-compare.md
while [ $# -gt 0 ]; do
    case $1 in
        --base) base_ref=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --fail-above) fail_above=$2; shift 2 ;;
        --report) report=$2; shift 2 ;;
        *) echo "pr-compare: unknown argument $1" >&2; exit 2 ;;
    esac
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A tree built into its own folder as the release preset builds it (the
# build that is measured), without the window: pt, ptverify and ptrun.
build_tree() {
    local source=$1 into=$2
    cmake -S "$source" -B "$into" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
        -DPT_WITH_GUI=OFF -DPT_BUILD_BENCH=OFF -DBUILD_TESTING=OFF >/dev/null
    cmake --build "$into" -j "$(nproc)" --target pt ptverify ptrun >/dev/null
}

if [ -z "${PT_BASE:-}" ] || [ -z "${PT_HEAD:-}" ]; then
    git fetch --quiet origin "${base_ref#origin/}" 2>/dev/null || true
    merge_base=$(git merge-base "$base_ref" HEAD)
    echo "pr-compare: building the merge base ${merge_base:0:12} and the head $(git rev-parse --short=12 HEAD)" >&2
    git worktree add --quiet --detach "$work/base-src" "$merge_base"
    trap 'git worktree remove --force "$work/base-src" 2>/dev/null; rm -rf "$work"' EXIT
    build_tree "$work/base-src" "$work/base"
    build_tree . "$work/head"
    PT_BASE=$work/base/src/pt PT_HEAD=$work/head/src/pt
    PTRUN=${PTRUN:-$work/head/ptrun/ptrun}
fi
PTRUN=${PTRUN:-ptrun}
case $PTRUN in */*) PTRUN=$(realpath "$PTRUN") ;; esac
allow=()
[ "${PR_COMPARE_ALLOW_UNVALIDATED:-}" = 1 ] && allow=(--allow-unvalidated)

# One call: both builds interleaved, then the comparison with the gate.
# Sets status (compare's exit status) and writes call-N.md.
call() {
    local n=$1
    "$PTRUN" run --pt "$PT_BASE" --pt "$PT_HEAD" --runs "$runs" "${allow[@]}" --json "$work/call-$n.json" \
        >"$work/call-$n.txt" || { cat "$work/call-$n.txt" >&2; return 2; }
    status=0
    # From the work folder, so that the summary names the call's file and not where it was kept.
    (cd "$work" && "$PTRUN" compare "call-$n.json" --fail-above "$fail_above" --format md -o "call-$n.md") ||
        status=$?
}

call 1 || exit 2
outcome=$status calls=1
if [ "$status" -eq 1 ]; then
    echo "pr-compare: the first call failed the gate; a second call confirms before the job fails" >&2
    call 2 || exit 2
    calls=2
    # Fails only when both calls fail: a false alarm then needs two.
    [ "$status" -eq 1 ] && outcome=1 || outcome=$status
fi

summary() {
    case $outcome in
        0) echo "**Passed**: the head is not shown slower than the merge base by more than $fail_above %." ;;
        1) echo "**Failed**: both calls show the head slower than the merge base by more than $fail_above %." ;;
        *) echo "**Undecided**: too few rounds to decide (exit $outcome)." ;;
    esac
    if [ "$calls" -eq 2 ] && [ "$outcome" -ne 1 ]; then
        echo "The first call failed the gate; the second, which confirms, did not."
    fi
    echo
    echo "A is the merge base, B the head; $runs rounds of each, interleaved on one runner."
    for n in $(seq "$calls"); do
        echo
        echo "<details$([ "$n" -eq "$calls" ] && echo ' open')><summary>call $n of $calls</summary>"
        echo
        sed 's/^# ptrun compare$//' "$work/call-$n.md"
        echo
        echo "</details>"
    done
}
{ echo "## Speed: the head against the merge base"; echo; summary; } >"$work/summary.md"
if [ -n "${GITHUB_STEP_SUMMARY:-}" ]; then
    cat "$work/summary.md" >>"$GITHUB_STEP_SUMMARY"
else
    cp "$work/summary.md" "$report"
fi
exit "$outcome"
