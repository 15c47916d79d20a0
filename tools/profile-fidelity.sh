#!/usr/bin/env bash
# Does the profile add up to pt's own work unit? Runs, N times in turn on one
# processor, pt unattended and then ptverify --profile of the same build, and
# prints for each pair pt's time per unit (1000 / score), the sum of the
# profile's modules, their ratio and how long each program took; then the
# median, minimum and maximum of the ratios. On a busy machine both figures
# carry other programs' time: each pair's second ratio compares processor
# time per unit instead (each side's figure times its share of the
# processor: pt's from its warning, else from its whole run's times; the
# profile's from its output).
#   tools/profile-fidelity.sh [N] [build dir] [ptverify options...]
#       (defaults: 5, build/release; the profile's own defaults)
# PT_CPU names the processor (default 1); PT_EMULATOR runs both programs in
# an emulator, e.g. PT_EMULATOR="qemu-aarch64 -L /usr/aarch64-linux-gnu".
set -euo pipefail
runs="${1:-5}"
build="${2:-$(dirname "$0")/../build/release}"
shift $(($# < 2 ? $# : 2))
cpu="${PT_CPU:-1}"
read -r -a emulator <<<"${PT_EMULATOR:-}"
[[ "$runs" =~ ^[1-9][0-9]*$ ]] || { echo "N must be a positive whole number" >&2; exit 2; }
for program in "$build/src/pt" "$build/tools/ptverify"; do
    [ -x "$program" ] || { echo "no $program: build pt and ptverify first" >&2; exit 2; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
ratios=()
cpu_ratios=()
for ((i = 1; i <= runs; i++)); do
    /usr/bin/time -o "$work/time.txt" -f "%e %U %S" taskset -c "$cpu" "${emulator[@]}" "$build/src/pt" \
        "$work/r.ini" </dev/null 2>"$work/pt-stderr.txt" ||
        { echo "pt run $i failed:" >&2; cat "$work/r.ini" >&2; exit 1; }
    score=$(sed -n 's/^Result=\([0-9.e+-]*\) *$/\1/p' "$work/r.ini")
    pt_share=$(sed -n 's/.*processor share \([0-9.]*\) % in the timed section.*/\1/p' "$work/pt-stderr.txt")
    pt_share=$(awk -v w="$pt_share" '{ print w != "" ? w / 100 : ($2 + $3) / $1 }' "$work/time.txt")
    rm -f "$work/r.ini"
    start=$(date +%s.%N)
    taskset -c "$cpu" "${emulator[@]}" "$build/tools/ptverify" --profile "$@" >"$work/profile.json"
    end=$(date +%s.%N)
    unit_ms=$(sed -n 's/.*"unit_ms":\([0-9.e+-]*\),.*/\1/p' "$work/profile.json")
    units=$(sed -n 's/.*"units":\([0-9]*\),.*/\1/p' "$work/profile.json")
    share=$(sed -n 's/.*"processor_share":\([0-9.]*\),.*/\1/p' "$work/profile.json")
    ratio=$(awk -v s="$score" -v u="$unit_ms" 'BEGIN { printf "%.4f", u / (1000 / s) }')
    cpu_ratio=$(awk -v r="$ratio" -v a="$pt_share" -v b="$share" 'BEGIN { printf "%.4f", b ? r * b / a : 0 }')
    awk -v i="$i" -v s="$score" -v u="$unit_ms" -v r="$ratio" -v n="$units" -v t0="$start" -v t1="$end" \
        -v load="$(cut -d' ' -f1 /proc/loadavg)" -v a="$pt_share" -v b="$share" -v c="$cpu_ratio" \
        -v pt_s="$(cut -d' ' -f1 "$work/time.txt")" \
        'BEGIN { printf "pair %d: pt %.4f ms/unit (score %s, share %.3f), profile %.4f ms/unit over %d units " \
                       "(share %.3f), ratio %s, processor-time ratio %s; " \
                       "pt took %.1f s, the profile %.2f s (%.1f %%), " \
                       "load %s\n", i, 1000 / s, s, a, u, n, b, r, c, pt_s, t1 - t0, 100 * (t1 - t0) / pt_s, load }'
    ratios+=("$ratio")
    cpu_ratios+=("$cpu_ratio")
done
spread() {
    printf '%s\n' "${@:2}" | sort -g | awk -v what="$1" '
        { v[NR] = $1 }
        END {
            n = NR
            median = n % 2 ? v[(n + 1) / 2] : (v[n / 2] + v[n / 2 + 1]) / 2
            printf "pairs %d  %s profile/pt: median %.4f  min %.4f  max %.4f\n", n, what, median, v[1], v[n]
        }'
}
spread "ratio" "${ratios[@]}"
spread "processor-time ratio" "${cpu_ratios[@]}"
