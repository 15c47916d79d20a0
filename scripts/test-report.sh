#!/usr/bin/env bash
# The HTML pages in a real browser: two hosts' results (ptrun against the
# test suite's stand-in pt, which answers at once), merged and reported; two
# hosts of made-up files with two builds each, reported; and twelve nights of
# them, as a history. Headless Chromium opens every page at 1400 and at 800
# pixels wide and measures it (scripts/report_pages.py): no word or figure of
# a table split over two lines, no page wider than its window, no chart label
# cut or run into another, every chart drawn. Each page is screenshot at both
# widths, and one screenshot is checked not to be blank. Then a made-up fleet
# of 50 hosts and 1,000 runs, merged and reported, with the time each step
# took and the page's size (at most 1 MB). Last, that ptrun's guide does not
# restate its manual page (scripts/doc_overlap.py).
#   scripts/test-report.sh [DIR]   also keeps the screenshots in DIR
#                                  (report-1400.png, report-800.png, history-1400.png, history-800.png)
set -euo pipefail
cd "$(dirname "$0")/.."
deps=(chromium python3)
. scripts/ptrun-stand-in.sh
cd "$work"

# One host: a plan of scores for the stand-in, one line per copy it starts.
# The first round of each copy count is a warm-up; a "warn" line is a run pt
# warned about (flagged).
host_run() {
    local label=$1 plan=$2
    rm -f plan.log
    printf '%b' "$plan" > plan
    PT_STAND_IN_PLAN=$work/plan TMPDIR=$work \
        "$ptrun" --runs 5 --warmup-rounds 1 --copies 1,2 --pt "$stand_in" --label "$label" \
        --json "$label.json" >/dev/null
}
host_run alpha '900\n1010\nwarn 1040\n990\n1020\n1000\n900\n900\n950\n955\n940\n945\n'\
'warn 925\n930\n950\n960\n952\n948\n'
host_run beta '700\n760\n780\n770\n750\n765\n650\n650\n740\n745\n735\n730\n750\n737\n742\n740\n745\n735\n'
"$ptrun" merge alpha.json beta.json -o fleet.json
# And two hosts of made-up files, whose runs are not all flagged (the
# stand-in ends too soon for a full processor share), each of two builds
# with the time by module: the widest tables there are; and twelve nights of
# them.
pages=$root/scripts/report_pages.py
python3 "$root/scripts/fleet-results.py" two 2 24
python3 "$pages" builds two nights 12
"$ptrun" merge two/*.json -o two.json
"$ptrun" history nights --format html -o history.html
for results in fleet two; do "$ptrun" report --format html -o "$results.html" "$results.json"; done

profile=$work/profile
browser=(chromium --headless --no-sandbox --disable-gpu --user-data-dir="$profile" --no-first-run --disable-extensions)
python3 "$pages" check-page check.html 1400,800 fleet.html two.html history.html
"${browser[@]}" --virtual-time-budget=10000 --dump-dom "file://$work/check.html" > check.dom 2>/dev/null
# Side by side for each copy count (2), and per host its runs, spread and scaling (3 each); with two builds
# also their comparison and their modules' (2 more each); a chart per series of the history (8), and
# one per kind of host (each build at each copy count: 4).
python3 "$pages" verdict check.dom fleet.html=8 two.html=12 history.html=12

for shot in report=two history=history; do
    for width in 1400 800; do
        "${browser[@]}" --window-size="$width,1500" --screenshot="$work/${shot%=*}-$width.png" \
            "file://$work/${shot#*=}.html" 2>/dev/null
    done
done
python3 - "$work/report-800.png" <<'PY'
# Decodes the screenshot (8-bit RGB or RGBA PNG, as Chromium writes it) with
# the standard library alone and checks it shows more than a blank page: many
# colours, and the charts' blue; it stops at the row where it has seen both.
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
pos, idat = 8, b""
while pos < len(data):
    length, kind = struct.unpack(">I4s", data[pos:pos + 8])
    body = data[pos + 8:pos + 8 + length]
    if kind == b"IHDR":
        width, height, depth, colour = struct.unpack(">IIBB", body[:10])
    elif kind == b"IDAT":
        idat += body
    pos += 12 + length
assert depth == 8 and colour in (2, 6), f"PNG of depth {depth}, colour type {colour}"
channels = 3 if colour == 2 else 4
raw, stride = zlib.decompress(idat), width * channels
colours, blue, previous = set(), 0, bytearray(stride)
for y in range(height):
    kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
    for i in range(stride):
        a = line[i - channels] if i >= channels else 0
        b = previous[i]
        c = previous[i - channels] if i >= channels else 0
        if kind == 1: line[i] = (line[i] + a) & 255
        elif kind == 2: line[i] = (line[i] + b) & 255
        elif kind == 3: line[i] = (line[i] + (a + b) // 2) & 255
        elif kind == 4:
            p = a + b - c
            pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
            line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
    pixels = [bytes(line[i:i + 3]) for i in range(0, stride, channels)]
    colours.update(pixels)
    blue += pixels.count(b"\x00\x72\xb2")
    previous = line
    if len(colours) > 16 and blue > 50:
        break
print(f"screenshot {width}x{height}: {len(colours)} colours, {blue} pixels of the charts' blue",
      f"in its first {y + 1} rows")
assert len(colours) > 16, "the screenshot is (nearly) one colour"
assert blue > 50, "no chart drawn in the screenshot"
PY
if [ "$#" -gt 0 ]; then (cd "$root" && cp "$work"/{report,history}-{1400,800}.png "$1"); fi

echo "== a fleet of 50 hosts, 1,000 runs"
python3 "$root/scripts/fleet-results.py" many 50 20
timed() {
    local what=$1 start end
    shift
    start=$(date +%s%N)
    "$ptrun" "$@"
    end=$(date +%s%N)
    echo "$(( (end - start) / 1000000 )) ms: $what"
}
timed "merge of 50 files" merge many/*.json -o many.json
timed "html report" report --format html -o many.html many.json
timed "md report" report --format md -o many.md many.json
timed "csv report" report --format csv -o many.csv many.json
size=$(stat -c %s many.html)
echo "page of 1,000 runs from 50 hosts: $size bytes"
[ "$(python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))["runs"]))' many.json)" -eq 1000 ]
[ "$(( $(wc -l < many.csv) ))" -eq 1001 ]
[ "$size" -lt 1000000 ] || { echo "the page is over 1 MB" >&2; exit 1; }
# And ptrun's guide points to its manual rather than restating it.
python3 "$root/scripts/doc_overlap.py" "$root/docs/ptrun.md" "$root/docs/ptrun.1" --max 10
echo "== report passed"
