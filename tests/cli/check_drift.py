#!/usr/bin/env python3
"""A camera whose clock runs 2 % fast, then 2 % slow, for 20 s of real time: zrfgrab info reads
its own rate back from the recording (30.6 and 29.4 fps within 0.1 %), and the recording's stamps
span the run's wall time within a second.

usage: check_drift.py ZRFGRAB WORKDIR"""
import os
import re
import shutil
import subprocess
import sys
import time
from datetime import datetime

ZRFGRAB, WORK = sys.argv[1], sys.argv[2]
SECONDS = 20


def stamp(text):
    return datetime.strptime(text, "%Y-%m-%d %H:%M:%S.%f").timestamp()


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    problems = []
    for drift, rate in (("+20000", 30.6), ("-20000", 29.4)):
        rec = os.path.join(WORK, "x.zrec")
        started = time.monotonic()
        grab = subprocess.run([ZRFGRAB, "grab", "--camera", "usb-ir", "--drift", drift, "--seconds", str(SECONDS),
                               "--record", rec, "--quiet"], capture_output=True, text=True)
        wall = time.monotonic() - started
        if grab.returncode != 0:
            problems.append(f"grab --drift {drift} exited {grab.returncode}: {grab.stderr}")
            continue
        info = subprocess.run([ZRFGRAB, "info", rec], capture_output=True, text=True).stdout
        os.remove(rec)
        found = re.search(r"frame rate\s+([0-9.]+) fps", info)
        first = re.search(r"first frame\s+#\d+\s+(\S+ \S+)", info)
        last = re.search(r"last frame\s+#\d+\s+(\S+ \S+)", info)
        if not (found and first and last):
            problems.append(f"--drift {drift}: info says\n{info}")
            continue
        measured = float(found.group(1))
        span = stamp(last.group(1)) - stamp(first.group(1))
        print(f"--drift {drift}: {measured:.3f} fps (camera {rate}), stamps span {span:.3f} s of a {wall:.3f} s run")
        if abs(measured - rate) > rate * 0.001:
            problems.append(f"--drift {drift}: info reads {measured} fps for a camera at {rate}")
        # The run's wall time holds the start and the end around the stamped frames: within a second.
        if not (wall - 1.0 <= span <= wall):
            problems.append(f"--drift {drift}: the stamps span {span:.3f} s of a {wall:.3f} s run")
    shutil.rmtree(WORK, ignore_errors=True)
    for p in problems:
        print("FAIL:", p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
