#!/usr/bin/env python3
"""Times the Windows quillory-extract under Wine against the Linux one over the same files, each option in turn, the
two alternating within every round, and prints the best of the rounds and the ratio Wine / Linux. Wine is not
Windows: the ratio is an indication only.

usage: bench/windows-bench.py LINUX-EXTRACT WINDOWS-EXTRACT FOLDER [ROUNDS [JOBS]]"""
import os
import subprocess
import sys
import tempfile
import time

linux, windows, folder = (os.path.realpath(a) for a in sys.argv[1:4])
rounds = int(sys.argv[4]) if len(sys.argv) > 4 else 3
jobs = sys.argv[5] if len(sys.argv) > 5 else "1"
wine = ["/usr/lib/wine/wine64"]
env = dict(os.environ, WINEDEBUG="-all")
names = sorted(n for n in os.listdir(folder) if n != "big.html" and not n.startswith("."))
with tempfile.NamedTemporaryFile("w", delete=False) as listing:
    listing.write("".join(n + "\n" for n in names))


def seconds(command):
    start = time.monotonic()
    with open(os.devnull, "wb") as sink, tempfile.TemporaryFile() as out:
        # A real file, not /dev/null: a program may notice /dev/null and skip the writing being measured.
        subprocess.run(command, cwd=folder, env=env, stdout=out, stderr=sink, check=False)
    return time.monotonic() - start


# Wine's own start is paid once here, not in the first round.
subprocess.run(wine + [windows, "--version"], env=env, capture_output=True, check=False)
print("%d files; best of %d rounds, -j %s" % (len(names), rounds, jobs))
print("%-8s %10s %10s %11s" % ("option", "linux s", "wine s", "wine/linux"))
for mode in "1234":
    arguments = ["-m", mode, "-t", "td", "-s", "one", "-j", jobs, "--no-progress", "--files-from", listing.name]
    best_linux = best_wine = float("inf")
    for _ in range(rounds):
        best_linux = min(best_linux, seconds([linux] + arguments))
        best_wine = min(best_wine, seconds(wine + [windows] + arguments))
    print("%-8s %10.3f %10.3f %11.2f" % ("-m " + mode, best_linux, best_wine, best_wine / best_linux))
os.unlink(listing.name)
