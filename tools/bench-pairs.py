#!/usr/bin/python3
"""Times two commands against each other in interleaved pairs, in one run.

    tools/bench-pairs.py LABEL-A LABEL-B LIMIT RUNS WHAT -- CMD-A... -- CMD-B...

Each pair runs A, then B (output to /dev/null), so that a burst of load from
elsewhere hits both. The ratio is the median of the pairs' A/B ratios of CPU
time (user + system, from wait4): on a shared machine the wall clock also
counts the time a run waits for a free core, while a tool that reads a cached
file never waits for anything else. The wall-clock medians are printed beside
it, and the quartiles of the pairs' ratios show how noisy the run was.
"""
import os
import statistics
import sys
import time


def run(cmd):
    start = time.perf_counter()
    pid = os.fork()
    if pid == 0:
        null = os.open(os.devnull, os.O_WRONLY)
        os.dup2(null, 1)
        try:
            os.execvp(cmd[0], cmd)
        finally:
            os._exit(127)
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
    if not os.WIFEXITED(status) or os.WEXITSTATUS(status) not in (0, 1, 64, 69):
        sys.exit(f"bench-pairs: {' '.join(cmd)} failed ({status:#x})")
    return wall, usage.ru_utime + usage.ru_stime


def main(argv):
    label_a, label_b, limit, runs, what = argv[1:6]
    rest = argv[6:]
    if rest[:1] != ["--"] or "--" not in rest[1:]:
        sys.exit(__doc__)
    split = rest.index("--", 1)
    cmd_a, cmd_b = rest[1:split], rest[split + 1:]
    limit, runs = float(limit), int(runs)
    run(cmd_a), run(cmd_b)  # warm-up: page cache, dynamic loader
    pairs = [(run(cmd_a), run(cmd_b)) for _ in range(runs)]
    ratios = sorted(a[1] / b[1] for a, b in pairs if b[1] > 0)
    ratio = statistics.median(ratios)
    q1, _, q3 = statistics.quantiles(ratios, n=4)
    ms = lambda xs: statistics.median(xs) * 1000
    cpu_a, cpu_b = ms([a[1] for a, _ in pairs]), ms([b[1] for _, b in pairs])
    wall_a, wall_b = ms([a[0] for a, _ in pairs]), ms([b[0] for _, b in pairs])
    verdict = "ok" if ratio <= limit else "OVER"
    print(f"{label_a} {cpu_a:.1f} ms, {label_b} {cpu_b:.1f} ms CPU ({what}, median of {runs} "
          f"interleaved pairs; wall {wall_a:.1f} / {wall_b:.1f} ms): ratio {ratio:.2f} "
          f"(pairs {q1:.2f}-{q3:.2f}; limit {limit:.2f}, {verdict})")


if __name__ == "__main__":
    main(sys.argv)
