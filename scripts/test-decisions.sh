#!/usr/bin/env bash
# Where decisions leave ptrun: the dashboards' formats and the pull-request
# check. A call of the test suite's stand-in pt, reported and compared as
# OpenMetrics, is checked by Prometheus's own promtool, and as Bencher's
# JSON by its shape; then contrib/ci/pr-compare.sh judges stand-ins of a
# slowed, an unchanged and a sped-up head against their base, each a
# wrapper that plays its own plan of scores beside the real ptverify.
set -euo pipefail
cd "$(dirname "$0")/.."
deps=(prometheus python3)
. scripts/ptrun-stand-in.sh
cd "$work"
fail() { echo "test-decisions: $*" >&2; exit 1; }

# Scores near 1000 spread by about 1 %, times a factor: n lines, spread in
# another order where a step other than 37 is given.
plan() {
    local factor=$1 n=$2 step=${3:-37}
    for i in $(seq "$n"); do echo "$(( (1000 + (i * step % 11 - 5) * 2) * factor / 100 ))"; done
}

# A/A with the stand-in alone, two copy counts: each format from it.
plan 100 60 >plan
PT_STAND_IN_PLAN=$work/plan "$ptrun" run --runs 6 --copies 1,2 --pt "$stand_in" --pt "$stand_in" \
    --json call.json >/dev/null 2>&1
"$ptrun" report --format openmetrics call.json >report.prom
"$ptrun" compare --format openmetrics --fail-above 2 call.json >compare.prom
for file in report.prom compare.prom; do
    promtool check metrics <"$file" || fail "promtool finds fault with $file"
    [ "$(tail -n 1 "$file")" = "# EOF" ] || fail "$file does not end with # EOF"
done
grep -q '^pt_rate_score_median{host="[^"]*",build="B",copies="2"} ' report.prom || fail "no series in report.prom"
grep -q '^pt_detectable_slowdown{' compare.prom || fail "no detectable slowdown in compare.prom"
"$ptrun" report --format bencher call.json >report.bmf.json
"$ptrun" compare --format bencher call.json >compare.bmf.json
python3 - report.bmf.json compare.bmf.json <<'PY'
import json, sys
for name in sys.argv[1:]:
    benchmarks = json.load(open(name))
    assert benchmarks, name
    for benchmark, measures in benchmarks.items():
        for slug, m in measures.items():
            assert isinstance(m["value"], (int, float)), (name, benchmark, slug)
            if "lower_value" in m:
                assert m["lower_value"] <= m["value"] <= m["upper_value"], (name, benchmark, slug, m)
PY

# The pull-request check on builds given to it: base and head each a
# wrapper of the stand-in with a plan of its own (the head's spread in
# another order, or its rounds would pair up exactly), ptverify beside it. The
# summary goes to --report, or with summary=FILE added to that job summary.
pr_case() {
    local name=$1 factor=$2 want=$3
    for side in base head; do
        mkdir -p "$name/$side"
        if [ "$side" = base ]; then plan 100 60 >"$name/$side/plan"; else plan "$factor" 60 23 >"$name/$side/plan"; fi
        printf '#!/bin/sh\nPT_STAND_IN_PLAN=%s exec %s "$@"\n' "$work/$name/$side/plan" "$stand_in" >"$name/$side/pt"
        chmod +x "$name/$side/pt"
        ln -s "$root/build/release/tools/ptverify" "$name/$side/ptverify"
    done
    local got=0
    PT_BASE=$work/$name/base/pt PT_HEAD=$work/$name/head/pt PTRUN=$ptrun GITHUB_STEP_SUMMARY=${summary:-} \
        bash "$root/contrib/ci/pr-compare.sh" --runs 6 --fail-above 2 --report "$name.md" 2>"$name.err" || got=$?
    [ "$got" = "$want" ] || { cat "$name.err" "$name.md" >&2; fail "$name: exit $got, not $want"; }
}
pr_case slowed 90 1
grep -q '^\*\*Failed\*\*: both calls' slowed.md || fail "slowed: no failure in the summary"
grep -q 'a second call confirms' slowed.err || fail "slowed: failed without a second call"
pr_case unchanged 100 0
grep -q '^\*\*Passed\*\*' unchanged.md || fail "unchanged: not passed"
grep -q 'a slowdown of [0-9.]* % would have been seen 80 % of the time' unchanged.md ||
    fail "unchanged: the summary does not say what the rounds could have seen"
echo "earlier step" >step-summary.md
summary=$work/step-summary.md pr_case faster 110 0
[ ! -e faster.md ] && [ "$(head -n 1 step-summary.md)" = "earlier step" ] || fail "faster: not added to the job summary"
grep -q '^\*\*Passed\*\*' step-summary.md && grep -q 'faster by' step-summary.md || fail "faster: not passed as faster"
echo "test-decisions: promtool, Bencher's shape and the pull-request check (slowed, unchanged, faster) passed"
