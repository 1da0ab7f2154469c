#!/usr/bin/env python3
"""A camera whose clock runs 2 % fast, then 2 % slow, for 20 s of real time: zrfgrab info reads
its own rate back from the recording (30.6 and 29.4 fps within 0.1 %), and the recording's stamps
span the camera's own time between its first and last frames within a quarter second, inside the
run's wall time (a bound on the wall's lower side would measure how long the run took to start).

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
        first = re.search(r"first frame\s+#(\d+)\s+(\S+ \S+)", info)
        last = re.search(r"last frame\s+#(\d+)\s+(\S+ \S+)", info)
        if not (found and first and last):
            problems.append(f"--drift {drift}: info says\n{info}")
            continue
        measured = float(found.group(1))
        span = stamp(last.group(2)) - stamp(first.group(2))
        camera = (int(last.group(1)) - int(first.group(1))) / rate
        print(f"--drift {drift}: {measured:.3f} fps (camera {rate}), stamps span {span:.3f} s "
              f"of the camera's {camera:.3f} s, in a {wall:.3f} s run")
        if abs(measured - rate) > rate * 0.001:
            problems.append(f"--drift {drift}: info reads {measured} fps for a camera at {rate}")
        if not (abs(span - camera) <= 0.25 and span <= wall):
            problems.append(f"--drift {drift}: the stamps span {span:.3f} s of the camera's {camera:.3f} s "
                            f"in a {wall:.3f} s run")
    shutil.rmtree(WORK, ignore_errors=True)
    for p in problems:
        print("FAIL:", p)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
