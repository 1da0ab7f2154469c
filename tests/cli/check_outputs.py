#!/usr/bin/env python3
"""What zrfgrab writes and where: no output is an input or another output, every run ends with
what it held, nothing is left behind and nothing foreign is removed, everything checkable is
checked before work. Each row is a command, the exit status it must end with, a regular
expression its output must match, and what the files must hold afterwards.

usage: check_outputs.py ZRFGRAB WORKDIR [EXPORTS_OPEN_FORMATS]"""
import fcntl
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import xml.dom.minidom

ZRFGRAB, WORK = sys.argv[1], sys.argv[2]
OPEN_FORMATS = len(sys.argv) > 3 and sys.argv[3] in ("1", "ON", "TRUE")
problems = []


def path(name):
    return os.path.join(WORK, name)


def run(args, env=None, timeout=120):
    full = dict(os.environ, **(env or {}))
    p = subprocess.run([ZRFGRAB] + args, capture_output=True, cwd=WORK, timeout=timeout, env=full)
    return p.returncode, p.stdout.decode(errors="replace") + p.stderr.decode(errors="replace"), p.stdout


def expect(args, status, pattern, env=None):
    got, out, _ = run(args, env)
    if got != status or not re.search(pattern, out):
        problems.append(f"{' '.join(args)}: exited {got} (not {status}) or did not say /{pattern}/:\n{out}")
    return out


def same_bytes(name, data, why):
    held = open(path(name), "rb").read() if os.path.exists(path(name)) else None
    if held != data:
        problems.append(f"{why}: '{name}' was changed or removed")


def frames_in(name):
    _, out, _ = run(["info", name])
    found = re.search(r"frames +(\d+)", out)
    return int(found.group(1)) if found else -1


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    expect(["grab", "--fast", "--frames", "3", "--quiet", "--record", "rec.zrec"], 0, "")
    rec = open(path("rec.zrec"), "rb").read()

    # No output is an input or another output: refused before work, the files as they were.
    shutil.copy(path("rec.zrec"), path("self.tif"))
    os.symlink("rec.zrec", path("link.mkv"))
    rows = [
        (["grab", "--frames", "3", "--fast", "--record", "same.out", "--png", "same.out"],
         "--png 'same.out' names the same file as --record"),
        (["grab", "--camera", "usb-ir", "--camera", "usb-ir", "--frames", "2", "--fast", "--record", "two.zrec",
          "--png", "two.zrec"], "--png of camera 1 'two-1.zrec' names the same file as --record of camera 1"),
        (["grab", "--replay", "rec.zrec", "--frames", "2", "--fast", "--record", "./rec.zrec"],
         "--record './rec.zrec' names the same file as --replay 'rec.zrec'"),
        (["decode", "--subtype", "F7M0", "--source", "usb", "--size", "640x480", "rec.zrec", "rec.zrec"], "is the SAMPLE itself"),
    ]
    if OPEN_FORMATS:
        rows += [(["export", "self.tif", "--tiff", "self.tif"], "--tiff 'self.tif' names the same file as the recording"),
                 (["export", "rec.zrec", "--video", "link.mkv"], "--video 'link.mkv' names the same file as the recording")]
    # Names an output picks only as it writes: a frame's file, a record folder's next number, a
    # split output's numbered run.
    os.makedirs(path("frames"))
    shutil.copy(path("rec.zrec"), path("frames/frame_000001.zrf"))
    os.makedirs(path("recs"))
    shutil.copy(path("rec.zrec"), path("s-2.tif"))
    rows += [
        (["export", "frames/frame_000001.zrf", "--zrf", "frames"], "is a name the export may write in 'frames'"),
        (["grab", "--record", "recs", "--png", "recs/recording_0001.zrec", "--frames", "2", "--fast"],
         "is a name the recordings in 'recs' may take"),
    ]
    if OPEN_FORMATS:
        rows.append((["export", "s-2.tif", "--tiff", "s.tif"], "'s-2.tif' is a name the export may write in '.'"))
    for args, pattern in rows:
        expect(args, 2, pattern)
    same_bytes("frames/frame_000001.zrf", rec, "a refused export into the recording's folder")
    same_bytes("s-2.tif", rec, "a refused split export")
    same_bytes("rec.zrec", rec, "a refused run")
    same_bytes("self.tif", rec, "a refused export")
    if os.path.exists(path("same.out")) or os.path.exists(path("two-1.zrec")):
        problems.append("a refused grab left an output")

    # Every run ends with what it held: a pre-recording cut short by a signal or by time.
    proc = subprocess.Popen([ZRFGRAB, "grab", "--pre-record", "100", "--frames", "300", "--record", "pre.zrec",
                             "--quiet"], cwd=WORK, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    time.sleep(2)
    proc.send_signal(signal.SIGTERM)
    proc.wait(timeout=60)
    if proc.returncode != 128 + signal.SIGTERM or frames_in("pre.zrec") < 10:
        problems.append(f"SIGTERM during a pre-recording: exit {proc.returncode}, {frames_in('pre.zrec')} frames kept")
    expect(["grab", "--seconds", "2", "--pre-record", "100", "--record", "pre2.zrec", "--quiet"], 0, "")
    if frames_in("pre2.zrec") < 30:
        problems.append(f"--seconds 2 --pre-record 100 kept {frames_in('pre2.zrec')} frames")

    # Nothing left behind, nothing foreign removed: a killed export's temporary (ours by name and
    # content, unlocked) goes; a foreign file of that name, or one still locked, stays.
    os.makedirs(path("out"))
    with open(path("out/.out-99999-0.tmp"), "wb") as f:
        f.write(b"II*\0" + bytes(100))
    with open(path("out/.out-99999-1.tmp"), "wb") as f:
        f.write(b"not ours at all")
    with open(path("out/.out-mynotes.tmp"), "wb") as f:  # ours by content, not by name
        f.write(b"\x89PNG\r\n\x1a\n" + bytes(10))
    open(path("out/.out-99999-3.tmp"), "wb").close()      # empty and new: perhaps a writer's
    old = path("out/.out-99999-4.tmp")                     # empty and an hour old: abandoned
    open(old, "wb").close()
    os.utime(old, (time.time() - 3600, time.time() - 3600))
    locked = open(path("out/.out-99999-2.tmp"), "wb")
    locked.write(b"\x89PNG\r\n\x1a\n" + bytes(10))
    locked.flush()
    fcntl.flock(locked, fcntl.LOCK_EX)
    expect(["export", "rec.zrec", "--zrf", "out"], 0, "3 images written")
    left = sorted(n for n in os.listdir(path("out")) if n.startswith(".out-"))
    if left != [".out-99999-1.tmp", ".out-99999-2.tmp", ".out-99999-3.tmp", ".out-mynotes.tmp"]:
        problems.append(f"temporaries after an export: {left}")
    locked.close()
    # A killed export's own temporary is removed by the next export into the folder.
    if OPEN_FORMATS:
        big = subprocess.Popen([ZRFGRAB, "export", "rec.zrec", "--csv", "killed"], cwd=WORK,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for _ in range(200):
            if os.path.isdir(path("killed")) and any(n.startswith(".out-") for n in os.listdir(path("killed"))):
                break
            time.sleep(0.01)
        big.send_signal(signal.SIGKILL)
        big.wait()
        # As if a while passed: an empty temporary (killed before its first write) is taken for
        # abandoned only once it is a minute old.
        for n in os.listdir(path("killed")):
            if n.startswith(".out-"):
                os.utime(path("killed/" + n), (time.time() - 3600, time.time() - 3600))
        expect(["export", "rec.zrec", "--frames", "1", "--csv", "killed"], 0, "1 CSV file")
        left = [n for n in os.listdir(path("killed")) if n.startswith(".out-")]
        if left:
            problems.append(f"a killed export's temporaries stayed: {left}")

    # A numbered recording's leftover is recognised by its content, never its size alone.
    os.makedirs(path("recdir"))
    with open(path("recdir/recording_0001.zrec"), "wb") as f:
        f.write(b"x" * 32)
    expect(["grab", "--frames", "2", "--fast", "--quiet", "--record", "recdir"], 0, "")
    same_bytes("recdir/recording_0001.zrec", b"x" * 32, "a 32-byte foreign file in a record folder")
    with open(path("recdir/recording_0003.zrec"), "wb") as f:
        f.write(rec[:32])  # a header alone: what a killed run leaves
    expect(["grab", "--frames", "2", "--fast", "--quiet", "--record", "recdir"], 0, "")
    if frames_in("recdir/recording_0003.zrec") != 2:
        problems.append("a header-only leftover in a record folder was not taken again")

    # A split stack leaves no older file of the name it replaces.
    if OPEN_FORMATS:
        expect(["grab", "--camera", "fw-ir", "--frames", "2", "--quiet", "--record", "full.zrec"], 0, "")
        expect(["grab", "--camera", "fw-ir", "--windowing", "2", "--frames", "2", "--quiet", "--record", "half.zrec"], 0, "")
        with open(path("switch.zrec"), "wb") as f:
            f.write(open(path("full.zrec"), "rb").read() + open(path("half.zrec"), "rb").read()[32:])
        with open(path("st.tif"), "wb") as f:
            f.write(b"an older export")
        expect(["export", "switch.zrec", "--tiff", "st.tif"], 0, "written to 2 files")
        if os.path.exists(path("st.tif")) or not os.path.exists(path("st-2.tif")):
            problems.append("a split stack left the older st.tif, or wrote no st-2.tif")

    # Everything checkable is checked before work, naming the camera when several run.
    for option in ("--png16", "--zrf", "--png", "--csv", "--sample") + (("--tiff",) if OPEN_FORMATS else ()):
        expect(["export", "rec.zrec", option, "/proc/sys"], 2, "cannot create files in '/proc/sys'")
    out = expect(["grab", "--camera", "usb-ir", "--camera", "webcam", "--frames", "2", "--fast", "--record", "w.zrec"], 2,
                 "webcam: the camera does not offer the format IR")
    if "recording to" in out:
        problems.append("a refused run said it would record")

    # A reply document is well-formed whatever a parameter holds.
    got, _, stdout = run(["command", "90", "Filename=a\x01b\udcffc".encode("utf-8", "surrogateescape").decode(
        "utf-8", "surrogateescape")])
    try:
        xml.dom.minidom.parseString(stdout)
    except Exception as e:  # noqa: BLE001 - any parse error is the failure
        problems.append(f"command 90's reply is not well-formed XML ({e}): {stdout!r}")
    # A malformed configuration is said, whatever the command.
    with open(path("bad.cfg"), "w") as f:
        f.write("garbage line\n")
    expect(["grab", "--frames", "1", "--fast", "--quiet"], 0, r"bad.cfg' line 1: expected 'name = value'",
           env={"ZRF_CONFIG": path("bad.cfg")})
    # A camera that delivers and then stops is given up within seconds, not waited on.
    started = time.monotonic()
    expect(["grab", "--stall", "29000/30", "--frames", "2000", "--quiet"], 1,
           "the camera (stopped delivering images|delivers no images)")
    if time.monotonic() - started > 30:
        problems.append(f"a stopped camera was waited on {time.monotonic() - started:.0f} s")

    for p in problems:
        print("FAIL:", p)
    print("ok" if not problems else f"{len(problems)} failed")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
