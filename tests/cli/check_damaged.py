#!/usr/bin/env python3
"""Damaged recordings through every reader and output of zrfgrab: a damaged byte costs at most the
frame it is in. Each row is a crafted recording, a command, the exit status it must end with, a
regular expression its output must match, and the files it must leave.

usage: check_damaged.py ZRFGRAB WORKDIR [EXPORTS_OPEN_FORMATS]"""
import glob
import os
import re
import shutil
import struct
import subprocess
import sys
import zlib

ZRFGRAB, WORK = sys.argv[1], sys.argv[2]
OPEN_FORMATS = len(sys.argv) > 3 and sys.argv[3] in ("1", "ON", "TRUE")
FRAMES = 12
HEADER, RECORD = 32, 32


def records(data):
    """(offset, length) of each record of a whole recording."""
    out, at = [], HEADER
    while at < len(data):
        length = struct.unpack_from("<I", data, at + 4)[0]
        out.append((at, length))
        at += RECORD + length
    return out


def renumber(data, at, number):
    """Gives the record at `at` another number, its checksum made again (a whole record)."""
    struct.pack_into("<Q", data, at + 8, number)
    length = struct.unpack_from("<I", data, at + 4)[0]
    crc = zlib.crc32(bytes(data[at:at + 24]))
    crc = zlib.crc32(bytes(data[at + RECORD:at + RECORD + length]), crc)
    struct.pack_into("<I", data, at + 24, crc)


def craft(whole):
    recs = records(whole)
    (a5, l5), (a6, _), (a7, _) = recs[4], recs[5], recs[6]
    made = {}

    def variant(name, change):
        data = bytearray(whole)
        change(data)
        made[name] = bytes(data)

    def flip(at):
        return lambda d: d.__setitem__(at, d[at] ^ 0xFF)

    variant("pixel5", flip(a5 + RECORD + 1000))                 # inside frame 5's image
    variant("marker6", flip(a6))                                 # frame 6's record marker
    variant("length6", lambda d: struct.pack_into("<I", d, a6 + 4, 1000))  # a length that lies
    variant("first", lambda d: d.__setitem__(slice(HEADER, HEADER + RECORD), bytes(RECORD)))
    variant("zeroed", lambda d: d.__setitem__(slice(a5, a7 + 100), bytes(a7 + 100 - a5)))  # frames 5-7
    variant("headersize", lambda d: struct.pack_into("<I", d, 12, len(d)))
    variant("filemarker", flip(0))

    def false_markers(d):
        # Frame 6's image full of markers claiming plausible lengths, frame 5's marker damaged.
        pattern = b"RFRM" + struct.pack("<I", l5)
        start = a6 + RECORD
        d[start:start + 8 * 4000] = pattern * 4000
        renumber(d, a6, 6)
        d[a5] ^= 0xFF
    variant("falsemarkers", false_markers)

    def repeated(d):
        for at, _ in recs[6:9]:
            renumber(d, at, 7)
    variant("repeated", repeated)

    def extreme(d):
        renumber(d, recs[0][0], 2**64 - 1)
        renumber(d, recs[1][0], 5)
    variant("extreme", extreme)
    def numbers(*values):
        def change(d):
            for (at, _), n in zip(recs, values):
                renumber(d, at, n)
        return change
    variant("zero", numbers(0, 1, 2))                          # a frame numbered 0
    variant("backagain", numbers(1, 2, 2, 3, 1, 4))            # repeats and goes back
    def bigjump(d):  # two frames, numbered as no camera runs
        numbers(1, 2**64 - 1)(d)
        del d[recs[2][0]:]
    variant("bigjump", bigjump)
    variant("lastmarker", flip(recs[-1][0]))                   # the last frame's marker
    made["headeronly"] = whole[:HEADER]
    return made


def run(args):
    p = subprocess.run([ZRFGRAB] + args, capture_output=True, text=True, cwd=WORK, timeout=300)
    return p.returncode, p.stdout + p.stderr, p.stderr


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    status, out, _ = run(["grab", "--fast", "--frames", str(FRAMES), "--quiet", "--record", "whole.zrec"])
    if status != 0:
        print(out)
        return 1
    whole = open(os.path.join(WORK, "whole.zrec"), "rb").read()
    for name, data in craft(whole).items():
        with open(os.path.join(WORK, name + ".zrec"), "wb") as f:
            f.write(data)

    rows = [
        # info: every damaged stretch listed, the frames around it whole, exit 1.
        ("info pixel5.zrec", 1, r"frames +12 \(checksums: 11 good, 1 bad\)(?s:.*)frame at byte \d+ +checksum mismatch"
                               r"(?s:.*)not whole: 1 frame fails its checksum\n$", None),
        ("info marker6.zrec", 1, r"frames +11 (?s:.*)lost frames +6\n(?s:.*)damaged +1 stretch passed over, about 1 frame"
                                r"(?s:.*)ending +clean(?s:.*)#12 .* ok(?s:.*)1 damaged stretch passed over", None),
        ("info length6.zrec", 1, r"frames +11 (?s:.*)damaged +1 stretch(?s:.*)#7 ", None),
        ("info first.zrec", 1, r"frames +11 (?s:.*)first frame +#2 (?s:.*)damaged +1 stretch", None),
        ("info zeroed.zrec", 1, r"frames +9 (?s:.*)lost frames +5-7\n(?s:.*)about 3 frames lost", None),
        ("info falsemarkers.zrec", 1, r"frames +11 (?s:.*)lost frames +5\n(?s:.*)ending +clean", None),
        ("info headersize.zrec", 1, r"frames +12 (?s:.*)header +damaged(?s:.*)its header is damaged", None),
        ("info filemarker.zrec", 1, r"frames +12 (?s:.*)header +damaged", None),
        ("info headeronly.zrec", 1, r"frames +0 (?s:.*)it holds no frame", None),
        ("info repeated.zrec", 1, r"frame order +2 numbers not after the one before, first at #7"
                                  r"(?s:.*)frame numbers that repeat or go back", None),
        ("info extreme.zrec", 1, r"lost frames +none\n(?s:.*)frame order +2 numbers not after the one before, first at #5", None),
        ("info backagain.zrec", 1, r"lost frames +5-6\n(?s:.*)frame order +2 numbers not after", None),
        ("info bigjump.zrec", 0, r"frame rate +unknown", None),
        # Exports: every good frame, the others named and counted, exit 1.
        ("export pixel5.zrec --zrf z1", 1, r"11 images written(?s:.*)the frame after #4 \(at byte \d+\) fails its checksum; left out"
                                           r"(?s:.*)1 frame left out", ("z1/*.zrf", 11)),
        ("export marker6.zrec --png p1", 1, r"11 pictures written(?s:.*)passed over \d+ damaged bytes at byte \d+ \(about 1 frame\)",
         ("p1/*.png", 11)),
        ("export zeroed.zrec --png16 q1", 1, r"9 16-bit PNG files written(?s:.*)about 3 frames(?s:.*)3 frames left out",
         ("q1/*.png", 9)),
        ("export pixel5.zrec --csv c1", 1, r"11 CSV files and frames.csv written", ("c1/*.csv", 12)),
        ("export repeated.zrec --zrf z2", 0, r"12 images written", ("z2/*.zrf", 12)),
        ("export repeated.zrec --csv c2", 0, r"12 CSV files and frames.csv", ("c2/*.csv", 13)),
        ("export first.zrec --sample s1", 1, r"11 samples written", ("s1/*.raw", 11)),
        ("export pixel5.zrec --frames 6-8 --zrf z3", 0, r"3 images written", ("z3/*.zrf", 3)),
        ("export marker6.zrec --frames 1-3 --zrf z5", 0, r"3 images written", ("z5/*.zrf", 3)),
        ("export zero.zrec --zrf z6", 0, r"12 images written", ("z6/*.zrf", 12)),
        ("export lastmarker.zrec --zrf z7", 1, r"11 images written(?s:.*)1 frame left out", ("z7/*.zrf", 11)),
        ("export pixel5.zrec --frames 4-6 --zrf z4", 1, r"2 images written(?s:.*)1 frame left out", ("z4/*.zrf", 2)),
        # Replay passes over what is damaged and says so.
        ("grab --replay marker6.zrec --frames 11 --fast", 0, r"(?s)(?=.*1 damaged frame skipped)(?=.*frames delivered +11)", None),
        ("grab --replay zeroed.zrec --frames 9 --fast", 0, r"3 damaged frames skipped", None),
    ]
    if OPEN_FORMATS:
        rows += [
            ("export pixel5.zrec --tiff t1.tif", 1, r"11 frames written to t1.tif(?s:.*)1 frame left out", ("t1.tif", 1)),
            ("export marker6.zrec --tiff t2", 1, r"11 16-bit TIFF files written", ("t2/*.tif", 11)),
            ("export pixel5.zrec --video v1.mkv", 1, r"11 frames written to v1.mkv(?s:.*)1 frame left out", ("v1.mkv", 1)),
        ]
    problems = []
    for command, want, pattern, files in rows:
        status, out, err = run(command.split())
        bad_lines = [line for line in err.splitlines() if not line.startswith(("zrfgrab", "'"))]
        if status != want or not re.search(pattern, out):
            problems.append(f"{command}: exited {status} (not {want}) or did not say /{pattern}/:\n{out}")
        elif status != 0 and bad_lines:
            problems.append(f"{command}: stderr lines not from zrfgrab:\n{err}")
        if files:
            found = len(glob.glob(os.path.join(WORK, files[0])))
            if found != files[1]:
                problems.append(f"{command}: {found} files {files[0]}, not {files[1]}")
    for p in problems:
        print("FAIL:", p)
    print(f"{len(rows) - len(problems)} of {len(rows)} rows pass")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
