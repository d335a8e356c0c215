#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Replays the same seeded random key sequences through `quillo-keys --state`
of several builds and fails, naming the first sequence whose output differs,
unless every build prints the same bytes.

usage: compare_keys.py [--sequences N] [--seed S] [--keep DIR] TOOL...

The sequences go through one process per build, one after the other, each
starting with "C": what "C" leaves from the sequence before (DisplayValue) is
written before any key reads it, so a difference found in a sequence shows
again when it is replayed alone.
"""

import argparse
import os
import random
import subprocess
import sys
import tempfile

LENGTH = 80
# The weights keep typed numbers several digits long, so that squares and
# cubes of long integers (where rounding reaches a halfway case) come up often.
KEYS = {
    **{digit: 3 for digit in "0123456789"},
    ".": 0.5, "+": 0.6, "-": 0.6, "X": 0.6, "/": 0.6, "=": 0.6, "%": 0.1,
    "x^y": 0.06, "x^2": 0.12, "x^3": 0.08, "Sqrt": 0.1, "C": 0.05, "CE": 0.1,
}
POWERS = ("x^y", "x^2", "x^3")


def sequences(seed, count):
    rng = random.Random(seed)
    captions, weights = list(KEYS), list(KEYS.values())
    return [["C"] + rng.choices(captions, weights, k=LENGTH - 1) for _ in range(count)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--sequences", type=int, default=10_000)
    parser.add_argument("--seed", type=int, default=2026)
    parser.add_argument("--keep", help="folder for the first differing sequence's keys")
    parser.add_argument("tools", nargs="+", metavar="TOOL")
    args = parser.parse_args()

    seqs = sequences(args.seed, args.sequences)
    powers = sum(key in POWERS for seq in seqs for key in seq)
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "keys")
        with open(path, "w") as keys:
            keys.write("".join(key + "\n" for seq in seqs for key in seq))
        runs = []
        for tool in args.tools:
            with open(path) as keys:
                runs.append(subprocess.Popen([tool, "--state"], stdin=keys,
                                             stdout=subprocess.PIPE, text=True))
        difference = None
        for n in range(len(seqs) * LENGTH):
            lines = [run.stdout.readline() for run in runs]
            if any(line != lines[0] for line in lines) or not lines[0]:
                difference = n, lines
                break
        for run in runs:
            run.stdout.close()
            run.wait()

    failed = [tool for tool, run in zip(args.tools, runs) if run.returncode != 0]
    if difference is None and not failed:
        print(f"compare: {len(seqs)} sequences of {LENGTH} keys ({powers} of them powers), "
              f"the same output from {len(args.tools)} builds")
        return 0
    if difference is None:
        print(f"compare: {', '.join(failed)} failed", file=sys.stderr)
        return 1
    n, lines = difference
    seq = seqs[n // LENGTH]
    print(f"compare: the builds differ first in sequence {n // LENGTH + 1} (seed {args.seed}), "
          f"at its key {n % LENGTH + 1} '{seq[n % LENGTH]}'", file=sys.stderr)
    for tool, line in zip(args.tools, lines):
        print(f"  {tool}:\n    {line.rstrip() or '(no output)'}", file=sys.stderr)
    print("  keys: " + " ".join(seq), file=sys.stderr)
    if args.keep:
        path = os.path.join(args.keep, "first-difference.keys")
        with open(path, "w") as f:
            f.write("".join(key + "\n" for key in seq))
        print(f"  replay it with: TOOL --state < {path}", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
