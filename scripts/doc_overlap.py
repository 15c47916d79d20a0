#!/usr/bin/env python3
"""How much of a guide repeats its manual page word for word.

Prints the share of the guide's words that lie in a run of RUN consecutive
words (8 by default) that also occurs in the manual, both read without their
markup (Markdown, roff). With --max PCT it exits 1 when the share is above
PCT, so that a guide that starts restating the reference fails CI.

    python3 scripts/doc_overlap.py docs/ptrun.md docs/ptrun.1 --max 10
    python3 scripts/doc_overlap.py docs/ptrun.md docs/ptrun.1 --show
"""
import argparse
import re
import sys

# roff escapes that stand for a character; every other \X or \(XX is dropped.
ROFF_CHARACTERS = {r"\-": "-", r"\(lq": '"', r"\(rq": '"', r"\(dq": '"', r"\(em": "-", r"\ ": " ", r"\e": "\\"}


def roff_text(source):
    lines = []
    for line in source.splitlines():
        if line.startswith(('.\\"', "'\\\"")):
            continue
        if line.startswith("."):
            macro, _, arguments = line.partition(" ")
            if macro in (".TH",):
                continue
            # .B, .BR, .IR ...: the arguments are text, their quotes only group words.
            line = arguments.replace('"', " ")
        for escape, character in ROFF_CHARACTERS.items():
            line = line.replace(escape, character)
        line = re.sub(r"\\f[BIRP]|\\f\(..|\\\(..|\\[&%|^]", "", line)
        lines.append(line)
    return "\n".join(lines)


def markdown_text(source):
    text = re.sub(r"!?\[([^\]]*)\]\([^)]*\)", r"\1", source)  # links and images: their text
    return re.sub(r"[`*#>]", " ", text)


def words(text):
    return re.findall(r"[a-z0-9]+(?:[-'.+][a-z0-9]+)*", text.lower())


def shared(guide, manual, run):
    """The guide's words that lie in a run of `run` words also found in the manual, as a list of flags."""
    manual_runs = {tuple(manual[i:i + run]) for i in range(len(manual) - run + 1)}
    covered = [False] * len(guide)
    for i in range(len(guide) - run + 1):
        if tuple(guide[i:i + run]) in manual_runs:
            covered[i:i + run] = [True] * run
    return covered


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("guide", help="the guide, in Markdown")
    parser.add_argument("manual", help="the manual page, in roff")
    parser.add_argument("--run", type=int, default=8, help="words in a run (default 8)")
    parser.add_argument("--max", type=float, help="exit 1 when the share is above this percentage")
    parser.add_argument("--show", action="store_true", help="also print each shared passage")
    args = parser.parse_args()
    with open(args.guide, encoding="utf-8") as f:
        guide = words(markdown_text(f.read()))
    with open(args.manual, encoding="utf-8") as f:
        manual = words(roff_text(f.read()))
    covered = shared(guide, manual, args.run)
    if args.show:
        i = 0
        while i < len(guide):
            if covered[i]:
                j = i
                while j < len(guide) and covered[j]:
                    j += 1
                print("  " + " ".join(guide[i:j]))
                i = j
            else:
                i += 1
    share = 100 * sum(covered) / max(len(guide), 1)
    print(f"{args.guide}: {sum(covered)} of {len(guide)} words ({share:.1f} %) in runs of {args.run} words "
          f"also in {args.manual}")
    if args.max is not None and share > args.max:
        print(f"doc_overlap: above {args.max:g} %: say it once, in {args.manual}, and point to it", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
