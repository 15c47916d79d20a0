#!/usr/bin/env python3
"""The pages scripts/test-report.sh opens in headless Chromium: what they are
made of, and how their layout is measured there.

usage: report_pages.py builds DIR [NIGHTS CALLS]
         each host's file of scripts/fleet-results.py gains a second build
         (B: -O3, its parsing faster) and every run the milliseconds per
         module; with NIGHTS, each host's file is also written there as CALLS
         nightly calls, one a day, the first host's kernel updated on the
         eighth night, when its rate falls 6 %
       report_pages.py check-page OUT WIDTH,... PAGE...
         a page that opens each PAGE at each WIDTH and measures it as it loads
       report_pages.py verdict DOM PAGE=CHARTS...
         what that page found, as chromium --dump-dom wrote it: fails where a
         word in a table, a caption or a fact is split over two lines, a
         figure's cell takes more than one, a page is wider than the window,
         a chart's label is cut at its edge or runs into another, a page has
         not CHARTS charts (besides the time by module of each profiled
         host), or no table was ever wider than its box"""
import copy
import html
import json
import os
import re
import sys

MODULES = {"copy": 0.06, "dates": 0.26, "words": 0.15, "parse": 0.25, "library": 0.016, "database": 0.063}


def builds(directory):
    for name in sorted(os.listdir(directory)):
        path = os.path.join(directory, name)
        with open(path, encoding="utf-8") as f:
            doc = json.load(f)
        b = copy.deepcopy(doc["builds"][0])
        b.update(id="B", path="/opt/pt-O3/bin/pt", sha256="cd" * 32, build="pt 1.0 x86_64-linux-gnu GNU 12.2.0 -O3")
        b["build_info"]["flags"] = "-O3 -march=native"
        doc["builds"].append(b)
        for i, run in enumerate(list(doc["runs"])):
            wobble = 1 + ((i * 7) % 5 - 2) / 100
            run["module_ms"] = {m: round(ms * wobble, 5) for m, ms in MODULES.items()}
            other = copy.deepcopy(run)
            other.update(build="B", score=round(run["score"] * 1.04))
            other["module_ms"]["parse"] = round(other["module_ms"]["parse"] * 0.8, 5)
            doc["runs"].append(other)
        with open(path, "w", encoding="utf-8") as out:
            json.dump(doc, out)


def nights(source, directory, calls):
    os.makedirs(directory, exist_ok=True)
    for index, name in enumerate(sorted(os.listdir(source))):
        with open(os.path.join(source, name), encoding="utf-8") as f:
            made = json.load(f)
        for night in range(calls):
            doc = copy.deepcopy(made)
            day = f"2026-11-{night + 1:02d}"
            doc["call_id"] = f"{index:08x}{night:08x}"
            doc["started_utc"], doc["ended_utc"] = day + "T02:00:00Z", day + "T03:00:00Z"
            later = index == 0 and night >= 7
            if later:
                doc["machine"]["kernel"] = "Linux 6.1.0-21 x86_64"
                doc["hosts"][0]["machine"] = doc["machine"]
            for i, run in enumerate(doc["runs"]):
                noise = 1 + ((night * 37 + i * 11) % 7 - 3) / 300
                run.update(call_id=doc["call_id"], started_utc=doc["started_utc"], ended_utc=doc["started_utc"],
                           score=round(run["score"] * noise * (0.94 if later else 1), 1))
            with open(os.path.join(directory, f"{name[:-5]}-{day}.json"), "w", encoding="utf-8") as out:
                json.dump(doc, out)


# Runs in the check page once every frame has loaded, and writes what it
# found into the page, which chromium --dump-dom then prints.
MEASURE = r"""
const lines = range => {
  const tops = [...range.getClientRects()].filter(r => r.width > 0).map(r => r.top).sort((a, b) => a - b);
  return tops.filter((top, i) => i == 0 || top - tops[i - 1] > 3).length;
};
// A cell of figures: numbers and the words that join them ("1.04 (1.00 to
// 1.08 at 95.0 %)", "-6.0 % from 2026-11-08", "4.4e-12"), each word's first
// letter or digit a digit.
const figure = text => /\d/.test(text) && text.split(/\s+/).every(word =>
  ['to', 'at', 'by', 'of', 'from'].includes(word) || /^[^A-Za-z0-9]*(\d|$)/.test(word));
const found = {split: [], cut: [], crowded: [], wide: [], pages: {}};
for (const frame of document.querySelectorAll('iframe')) {
  const doc = frame.contentDocument, name = frame.dataset.page + ' at ' + frame.width + ' px';
  for (const cell of doc.querySelectorAll('td, th, caption, dt, dd, h2, figcaption')) {
    const walk = doc.createTreeWalker(cell, NodeFilter.SHOW_TEXT);
    for (let node; (node = walk.nextNode());) {
      for (const word of node.data.matchAll(/\S+/g)) {
        const range = doc.createRange();
        range.setStart(node, word.index);
        range.setEnd(node, word.index + word[0].length);
        if (lines(range) > 1) found.split.push(name + ': ' + cell.tagName + ' "' + word[0] + '"');
      }
    }
    const whole = doc.createRange();
    whole.selectNodeContents(cell);
    if (cell.tagName == 'TD' && figure(cell.textContent) && lines(whole) > 1) {
      found.split.push(name + ': figure "' + cell.textContent + '"');
    }
  }
  if (doc.documentElement.scrollWidth > doc.documentElement.clientWidth) found.wide.push(name);
  const svgs = [...doc.querySelectorAll('svg')];
  svgs.forEach((svg, n) => {
    const view = svg.viewBox.baseVal;
    const boxes = [...svg.querySelectorAll('text')].map(t => [t.textContent, t.getBBox()]);
    for (const [text, b] of boxes) {
      const right = b.x + b.width, bottom = b.y + b.height;
      const outside = b.x < -0.5 || b.y < -0.5 || right > view.width + 0.5 || bottom > view.height + 0.5;
      if (outside || text.includes('\u2026')) {
        found.cut.push(name + ', chart ' + (n + 1) + ': "' + text + '"');
      }
    }
    boxes.forEach(([text, a], i) => boxes.slice(i + 1).forEach(([other, b]) => {
      const across = Math.min(a.x + a.width, b.x + b.width) - Math.max(a.x, b.x);
      const down = Math.min(a.y + a.height, b.y + b.height) - Math.max(a.y, b.y);
      if (across > 1 && down > 1) {
        found.crowded.push(name + ', chart ' + (n + 1) + ': "' + text + '" and "' + other + '"');
      }
    }));
  });
  found.pages[name] = {
    charts: svgs.length,
    captions: [...doc.querySelectorAll('figcaption')].map(c => c.textContent),
    scrolling: [...doc.querySelectorAll('.scroll')].filter(box => box.scrollWidth > box.clientWidth).length,
    cells: doc.querySelectorAll('td').length,
  };
}
document.querySelectorAll('iframe').forEach(frame => frame.remove());
document.getElementById('found').textContent = JSON.stringify(found);
"""


def check_page(out, widths, pages):
    frames = ""
    for page in pages:
        with open(page, encoding="utf-8") as f:
            text = f.read()
        for width in widths.split(","):
            frames += (f'<iframe data-page="{html.escape(os.path.basename(page))}" width="{width}" height="900" '
                       f'srcdoc="{html.escape(text)}"></iframe>\n')
    with open(out, "w", encoding="utf-8") as f:
        f.write('<!DOCTYPE html>\n<html><head><meta charset="utf-8"></head><body>\n' + frames +
                '<pre id="found">not measured</pre>\n<script>addEventListener("load", () => {' + MEASURE +
                '});</script></body></html>\n')


def verdict(dom, expected):
    with open(dom, encoding="utf-8") as f:
        match = re.search(r'<pre id="found">(.*?)</pre>', f.read(), re.S)
    if not match or not match.group(1).startswith("{"):
        sys.exit("the check page measured nothing")
    found = json.loads(html.unescape(match.group(1)))
    charts = dict(item.split("=") for item in expected)
    for name, page in found["pages"].items():
        print(f"{name}: {page['charts']} charts, {page['cells']} table cells, "
              f"{page['scrolling']} tables scrolling in their box")
        # The time by module is drawn for each host whose runs were profiled.
        wanted = int(charts[name.split(" ")[0]]) + page["captions"].count("Time per work unit by module")
        if page["charts"] != wanted:
            found["charts"] = found.get("charts", []) + [f"{name}: {page['charts']} charts, not {wanted}"]
    if not any(page["scrolling"] for page in found["pages"].values()):
        found["no table wider than its box"] = ["the check never saw a table scroll in its box"]
    faults = [(what, where) for what, where in found.items() if what != "pages" and where]
    for what, where in faults:
        print(f"{what}: {len(where)}", *where[:20], sep="\n  ", file=sys.stderr)
    if faults:
        sys.exit("the pages fail: " + ", ".join(what for what, _ in faults))


if __name__ == "__main__":
    command, args = sys.argv[1], sys.argv[2:]
    if command == "builds":
        builds(args[0])
        if len(args) == 3:
            nights(args[0], args[1], int(args[2]))
    elif command == "check-page":
        check_page(args[0], args[1], args[2:])
    elif command == "verdict":
        verdict(args[0], args[1:])
    else:
        sys.exit(__doc__)
