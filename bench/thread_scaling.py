"""parse_file with one thread against several, side by side: each setting runs in its own
process (MOPSEL_THREADS), which reads every file `--calls` times in a row; the rounds
alternate the settings. Prints, per file and setting, the median MB/s of the first call
(a fresh process: first-touch costs included) and of the later calls (warm), with the
load average before and after, since wall-clock figures on a shared machine are noisy.

    .venv/bin/python bench/thread_scaling.py FILE... [--threads 1 2] [--rounds 3] [--calls 3]
"""

from __future__ import annotations

import argparse
import json
import os
import statistics
import subprocess
import sys
from pathlib import Path

CHILD = """
import json, sys, time, numpy, mopsel
path, calls = sys.argv[1], int(sys.argv[2])
times = []
for _ in range(calls):
    start = time.perf_counter()
    model = mopsel.parse_file(path)
    times.append(time.perf_counter() - start)
    del model
print(json.dumps(times))
"""


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("files", nargs="+", type=Path)
    parser.add_argument("--threads", nargs="+", type=int, default=[1, 2])
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--calls", type=int, default=3)
    args = parser.parse_args()
    print(f"load average before: {os.getloadavg()}")
    for path in args.files:
        mb = path.stat().st_size / 1e6
        fresh = {t: [] for t in args.threads}
        warm = {t: [] for t in args.threads}
        for _ in range(args.rounds):
            for threads in args.threads:
                env = dict(os.environ, MOPSEL_THREADS=str(threads))
                out = subprocess.run([sys.executable, "-c", CHILD, str(path), str(args.calls)], env=env,
                                     check=True, capture_output=True, text=True).stdout
                times = json.loads(out)
                fresh[threads].append(mb / times[0])
                warm[threads].extend(mb / t for t in times[1:])
        for threads in args.threads:
            later = f"{statistics.median(warm[threads]):6.0f}" if warm[threads] else "     -"
            print(f"{path.name:24} threads {threads}: fresh {statistics.median(fresh[threads]):6.0f} MB/s "
                  f"(min {min(fresh[threads]):.0f}, max {max(fresh[threads]):.0f}), warm {later} MB/s")
    print(f"load average after: {os.getloadavg()}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
