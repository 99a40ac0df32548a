#!/usr/bin/env python3
"""Lists every message id of the "PELMORA" resource module that the design
documents use, with the text around each use, and writes the sorted id list
to data/messages/ids.txt (one id a line) for the catalogue check.

Usage: tools/collect_message_ids.py DOCS_DIR [--context N] [--quiet]

DOCS_DIR holds the design documents (*.md). Message ids are 16-bit numbers;
every one in use has five digits, so a five-digit number up to 32767 counts
as an id unless it sits inside a {GUID}, follows a minus sign or a hex
prefix, or is one of the few numbers below that are limits, not ids. A
range of ids ("21071-21076", "23549 to 23574") stands for every id in it.
"""
import argparse
import pathlib
import re
import sys

# Five-digit numbers the documents use that are not message ids.
NOT_IDS = {
    10000,  # default value-list length
    14119,  # the user-interrupted error number (paired with its own message)
    22000,  # value-list length of the other database kind
    29978, 29979, 29997, 29998, 30000,  # value-list lengths in the room checks
    32767,  # the all-components retrieval mode and 16-bit limits
}

GUID = re.compile(r"\{[0-9A-Fa-f-]{36}\}")
NUMBER = re.compile(r"(?<![0-9A-Za-z.])([0-9]{5})(?![0-9]|\.[0-9])")
RANGE = re.compile(r"(?<![0-9A-Za-z.])([0-9]{5})\s*(?:-|\u2013|to)\s*([0-9]{5})(?![0-9]|\.[0-9])")


def collect(docs_dir, context):
    found = {}
    for path in sorted(pathlib.Path(docs_dir).glob("*.md")):
        heading = ""
        for line in path.read_text(encoding="utf-8").splitlines():
            if line.startswith("# "):
                heading = line[2:].strip()
            text = GUID.sub(lambda m: " " * len(m.group(0)), line)
            uses = []
            for m in RANGE.finditer(text):
                low, high = int(m.group(1)), int(m.group(2))
                if low < high <= low + 100:
                    uses += [(v, m) for v in range(low, high + 1)]
            for m in NUMBER.finditer(text):
                minus = m.start() > 0 and text[m.start() - 1] == "-" and (
                    m.start() < 2 or not text[m.start() - 2].isdigit())
                if not minus:
                    uses.append((int(m.group(1)), m))
            for value, m in uses:
                if value > 32767 or value in NOT_IDS:
                    continue
                start = max(0, m.start() - context)
                snippet = line[start:m.end() + context]
                found.setdefault(value, []).append((path.name, heading, snippet))
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("docs_dir")
    parser.add_argument("--context", type=int, default=120)
    parser.add_argument("--quiet", action="store_true")
    args = parser.parse_args()

    found = collect(args.docs_dir, args.context)
    if not found:
        sys.exit("no message ids found under " + args.docs_dir)
    if not args.quiet:
        for value in sorted(found):
            print(f"== {value}")
            for name, heading, snippet in found[value]:
                print(f"   [{name} / {heading}] ...{snippet}...")
    out = pathlib.Path(__file__).resolve().parent.parent / "data" / "messages" / "ids.txt"
    out.write_text("".join(f"{v}\n" for v in sorted(found)), encoding="utf-8")
    print(f"{len(found)} ids written to {out}", file=sys.stderr)


if __name__ == "__main__":
    main()
