"""zrfgrab export's open formats read back by software we did not write: tifffile and Pillow
read the TIFF stacks, the TIFF files and the 16-bit PNGs, numpy and Python's csv module the CSV
files, ffmpeg decodes the video and ffprobe lists its times and tags. One row per format and
recording kind; every page, frame and cell must equal `export --zrf` of the same frames, and
every time the recording's own.

usage: check_open_formats.py ZRFGRAB WORKDIR
Exit 77 (skipped) when a reader is missing, except under CI, where that fails."""
import csv
import datetime
import json
import os
import shutil
import struct
import subprocess
import sys
import zlib

ZRFGRAB, WORK = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])


def missing_readers():
    missing = []
    for module in ("numpy", "tifffile", "PIL"):
        try:
            __import__(module)
        except ImportError:
            missing.append("Python module " + module)
    missing += ["program " + p for p in ("ffmpeg", "ffprobe") if shutil.which(p) is None]
    return missing


missing = missing_readers()
if missing:
    reason = "no " + ", no ".join(missing) + " (scripts/setup.sh installs them)"
    if os.environ.get("CI"):
        print("FAILED: " + reason)
        sys.exit(1)
    print("SKIPPED: " + reason)
    sys.exit(77)

import numpy as np  # noqa: E402
import tifffile  # noqa: E402
from PIL import Image  # noqa: E402


def run(*args, ok=(0,)):
    p = subprocess.run([str(a) for a in args], cwd=WORK, capture_output=True)
    if p.returncode not in ok:
        raise RuntimeError(f"{' '.join(map(str, args))} exited with {p.returncode}: {p.stderr.decode()}")
    return p


# The recording file, read on its own: a 32-byte header, then records of a 32-byte header
# (magic, length, frame number, ticks, checksum, reserved) and the image.
RECORD = struct.Struct("<IIQqII")


def records(path):
    data = open(path, "rb").read()
    out, at = [], 32
    while at + RECORD.size <= len(data):
        magic, length, number, ticks, _, _ = RECORD.unpack_from(data, at)
        if magic != 0x4D524652 or at + RECORD.size + length > len(data):
            break
        out.append([number, ticks, data[at + RECORD.size:at + RECORD.size + length]])
        at += RECORD.size + length
    return data[:32], out


def write_records(path, header, recs, tail=b""):
    with open(path, "wb") as f:
        f.write(header)
        for number, ticks, image in recs:
            h = struct.pack("<IIQq", 0x4D524652, len(image), number, ticks)
            f.write(h + struct.pack("<II", zlib.crc32(image, zlib.crc32(h)), 0) + image)
        f.write(tail)


def time_text(ticks):
    ms = ticks // 10000 - 62135596800000
    t = datetime.datetime(1970, 1, 1) + datetime.timedelta(milliseconds=ms)
    return t.strftime("%Y-%m-%d %H:%M:%S.") + f"{ms % 1000:03d}"


# A ZRF image as --zrf writes it: header and index big-endian, blocks little-endian.
def zrf_counts_and_zone(path):
    b = open(path, "rb").read()
    entries = struct.unpack_from(">I", b, 28)[0]
    counts = zone = None
    for i in range(entries):
        kind, = struct.unpack_from(">H", b, 64 + 32 * i)
        offset, length = struct.unpack_from(">II", b, 64 + 32 * i + 12)
        if kind == 1:
            width, height = struct.unpack_from("<HH", b, offset + 2)
            counts = np.frombuffer(b, "<u2", width * height, offset + 32).reshape(height, width)
        elif kind == 32:
            zone, = struct.unpack_from("<h", b, offset + 908)
    return counts, zone


def zone_label(west):
    east = -west
    return ("local time of the capturing host, standard zone "
            f"UTC{'-' if east < 0 else '+'}{abs(east) // 60:02d}:{abs(east) % 60:02d}")


class Frame:
    def __init__(self, number, ticks, counts, zone):
        self.number, self.ticks, self.counts = number, ticks, counts
        self.time, self.times = time_text(ticks), zone_label(zone)
        self.zone = zone_label(zone).rsplit(" ", 1)[1]


# A recording cut short inside its last record leaves that frame out: its exports end with 1.
def exit_of(kind):
    return (1,) if kind == "lost" else (0,)


def reference(kind):
    """The frames of a recording kind: its counts from export --zrf, its times from the file."""
    rec = f"{kind}.zrec"
    out = f"{kind}-zrf"
    run(ZRFGRAB, "export", rec, "--zrf", out, ok=exit_of(kind))
    frames = []
    for number, ticks, _ in records(os.path.join(WORK, rec))[1]:
        counts, zone = zrf_counts_and_zone(os.path.join(WORK, out, f"frame_{number:06d}.zrf"))
        frames.append(Frame(number, ticks, counts, zone))
    return frames


def runs(frames):
    """Frames in runs of equal size, as stacks and videos are split."""
    out = []
    for f in frames:
        if out and out[-1][-1].counts.shape == f.counts.shape:
            out[-1].append(f)
        else:
            out.append([f])
    return out


def split_names(path, count):
    if count == 1:
        return [path]
    stem, ext = os.path.splitext(path)
    return [f"{stem}-{i}{ext}" for i in range(1, count + 1)]


def same(problems, what, got, want):
    if isinstance(want, np.ndarray):
        if got is None or np.asarray(got).shape != want.shape or not np.array_equal(np.asarray(got), want):
            problems.append(f"{what}: counts differ")
    elif got != want:
        problems.append(f"{what}: {got!r}, not {want!r}")


def check_tiff_page(problems, what, page, f, many):
    same(problems, what, page.asarray(), f.counts)
    tags = {t.name: t.value for t in page.tags.values()}
    same(problems, what + " PageName", tags.get("PageName"), f"frame {f.number}")
    same(problems, what + " DateTime", tags.get("DateTime"), f.time[:19].replace("-", ":", 2))
    same(problems, what + " ImageDescription", tags.get("ImageDescription", "").strip(),
         f"frame={f.number}\ntime={f.time}\nzone={f.times}")
    same(problems, what + " NewSubfileType", int(tags.get("NewSubfileType", 0)), 2 if many else 0)


def check_pillow_frames(problems, what, path, frames):
    with Image.open(os.path.join(WORK, path)) as im:
        same(problems, what + " Pillow frames", getattr(im, "n_frames", 1), len(frames))
        for i, f in enumerate(frames):
            im.seek(i)
            same(problems, f"{what} Pillow page {i}", np.array(im).astype(np.uint16), f.counts)


def tiff_stack(kind, frames, problems):
    p = run(ZRFGRAB, "export", f"{kind}.zrec", "--tiff", f"{kind}.tif", ok=exit_of(kind))
    parts = runs(frames)
    if len(parts) > 1 and b"one per run of equal frame size" not in p.stdout:
        problems.append("a split stack was not said so: " + p.stdout.decode())
    for name, part in zip(split_names(f"{kind}.tif", len(parts)), parts):
        with tifffile.TiffFile(os.path.join(WORK, name)) as t:
            same(problems, name + " pages", len(t.pages), len(part))
            same(problems, name + " byte order", t.byteorder, "<")
            for page, f in zip(t.pages, part):
                check_tiff_page(problems, f"{name} #{f.number}", page, f, True)
        check_pillow_frames(problems, name, name, part)


def tiff_files(kind, frames, problems):
    run(ZRFGRAB, "export", f"{kind}.zrec", "--tiff", f"{kind}-tiffs", ok=exit_of(kind))
    for f in frames:
        name = f"{kind}-tiffs/frame_{f.number:06d}.tif"
        with tifffile.TiffFile(os.path.join(WORK, name)) as t:
            same(problems, name + " pages", len(t.pages), 1)
            check_tiff_page(problems, name, t.pages[0], f, False)
        check_pillow_frames(problems, name, name, [f])
    same(problems, "TIFF files", sorted(os.listdir(os.path.join(WORK, f"{kind}-tiffs"))),
         [f"frame_{f.number:06d}.tif" for f in frames])


def png16(kind, frames, problems):
    run(ZRFGRAB, "export", f"{kind}.zrec", "--png16", f"{kind}-png", ok=exit_of(kind))
    for f in frames:
        name = f"{kind}-png/frame_{f.number:06d}.png"
        with Image.open(os.path.join(WORK, name)) as im:
            same(problems, name + " bit depth", im.mode in ("I", "I;16", "I;16B"), True)
            same(problems, name, np.array(im).astype(np.uint16), f.counts)
            text = {k: im.info.get(k) for k in ("Frame", "Creation Time", "Time Zone")}
            same(problems, name + " text", text,
                 {"Frame": str(f.number), "Creation Time": f.time, "Time Zone": f.times})


def csv_files(kind, frames, problems):
    run(ZRFGRAB, "export", f"{kind}.zrec", "--csv", f"{kind}-csv", ok=exit_of(kind))
    folder = os.path.join(WORK, f"{kind}-csv")
    for f in frames:
        name = f"frame_{f.number:06d}.csv"
        cells = np.loadtxt(os.path.join(folder, name), delimiter=",", dtype=np.int64, ndmin=2)
        same(problems, f"{kind}-csv/{name}", cells.astype(np.uint16) if cells.max() < 65536 else None, f.counts)
    with open(os.path.join(folder, "frames.csv"), newline="") as index:
        rows = list(csv.reader(index))
    same(problems, "frames.csv", rows,
         [["number", "time", "file", "zone"]] +
         [[str(f.number), f.time, f"frame_{f.number:06d}.csv", f.zone] for f in frames])


def ffprobe(path, *entries):
    p = run("ffprobe", "-v", "error", *entries, "-of", "json", path)
    return json.loads(p.stdout)


def video(kind, frames, problems):
    run(ZRFGRAB, "export", f"{kind}.zrec", "--video", f"{kind}.mkv", ok=exit_of(kind))
    parts = runs(frames)
    for name, part in zip(split_names(f"{kind}.mkv", len(parts)), parts):
        h, w = part[0].counts.shape
        raw = run("ffmpeg", "-v", "error", "-i", name, "-map", "0:v:0", "-fps_mode", "passthrough",
                  "-f", "rawvideo", "-pix_fmt", "gray16le", "-").stdout
        decoded = np.frombuffer(raw, "<u2")
        same(problems, name + " frames decoded", decoded.size // (w * h), len(part))
        for i, f in enumerate(part[:decoded.size // (w * h)]):
            same(problems, f"{name} #{f.number}", decoded[i * w * h:(i + 1) * w * h].reshape(h, w), f.counts)
        # Times: each frame's own stamp after the first, to the millisecond.
        probe = ffprobe(name, "-select_streams", "v:0", "-show_entries", "frame=pts_time:stream=codec_name,pix_fmt")
        same(problems, name + " codec", (probe["streams"][0]["codec_name"], probe["streams"][0]["pix_fmt"]),
             ("ffv1", "gray16le"))
        start = part[0].ticks // 10000
        same(problems, name + " times (ms)", [round(float(fr["pts_time"]) * 1000) for fr in probe["frames"]],
             [f.ticks // 10000 - start for f in part])
        tags = ffprobe(name, "-show_entries", "format_tags")["format"]["tags"]
        same(problems, name + " tags", {k: tags.get(k) for k in ("DATE_RECORDED", "TIME_ZONE", "FIRST_FRAME")},
             {"DATE_RECORDED": part[0].time, "TIME_ZONE": part[0].times, "FIRST_FRAME": str(part[0].number)})
        captions = run("ffmpeg", "-v", "error", "-i", name, "-map", "0:s:0", "-f", "srt", "-").stdout.decode()
        same(problems, name + " captions",
             [line for line in captions.splitlines() if line.startswith("frame ")],
             [f"frame {f.number}  {f.time}" for f in part])


FORMATS = {"TIFF stack": tiff_stack, "TIFF files": tiff_files, "16-bit PNG": png16, "CSV": csv_files,
           "video": video}


def make_recordings():
    grab = [ZRFGRAB, "grab", "--quiet", "--seed", "3"]
    run(*grab, "--camera", "usb-ir", "--frames", "8", "--record", "usb.zrec")
    run(*grab, "--camera", "usb-ir-jls", "--frames", "6", "--record", "jls.zrec")
    run(*grab, "--camera", "fw-ir", "--windowing", "2", "--frames", "8", "--record", "fw2.zrec")
    run(*grab, "--camera", "fw-ir", "--frames", "3", "--record", "fw0.zrec")
    # Lost frames: #3 and #4 taken out, and the file cut short inside the record after the last.
    header, usb = records(os.path.join(WORK, "usb.zrec"))
    kept = [r for r in usb if r[0] not in (3, 4)]
    write_records(os.path.join(WORK, "lost.zrec"), header, kept[:-1],
                  tail=RECORD.pack(0x4D524652, len(kept[-1][2]), kept[-1][0], kept[-1][1], 0, 0) + kept[-1][2][:999])
    # The frame size changes: full frames, then two fields a frame, numbered and timed on.
    header, full = records(os.path.join(WORK, "fw0.zrec"))
    fields = records(os.path.join(WORK, "fw2.zrec"))[1]
    number, ticks = full[-1][0], full[-1][1]
    for i, r in enumerate(fields, 1):
        r[0], r[1] = number + i, ticks + i * 83333
    write_records(os.path.join(WORK, "switch.zrec"), header, full + fields)


# Visual frames (a webcam's YUY2 or I420 behind a 28-byte header) go to video only: a recording
# of both kinds, made here, with a stamp equal to the one before it.
VISUAL_W, VISUAL_H = 64, 48


def visual_recording():
    rng = np.random.default_rng(5)
    recs, planes = [], []
    start = 639000000000000000
    for i, (four_cc, step) in enumerate([(b"YUY2", 0), (b"YUY2", 333333), (b"YUY2", 0), (b"I420", 333333),
                                         (b"I420", 333333)]):
        start += step
        if four_cc == b"YUY2":
            packed = rng.integers(0, 256, VISUAL_W * VISUAL_H * 2, dtype=np.uint8)
            pairs = packed.reshape(VISUAL_H, VISUAL_W // 2, 4)
            planes.append(np.concatenate([pairs[:, :, [0, 2]].reshape(-1), pairs[:, :, 1].reshape(-1),
                                          pairs[:, :, 3].reshape(-1)]))
            picture = packed
        else:
            picture = rng.integers(0, 256, VISUAL_W * VISUAL_H * 3 // 2, dtype=np.uint8)
            planes.append(picture)
        header = four_cc + struct.pack("<iiiiII", VISUAL_W, VISUAL_H, VISUAL_W * 2, -60, 0, 0)
        recs.append([i + 1, start, header + picture.tobytes()])
    header = b"ZRECORD1" + struct.pack("<IIqII", 1, 32, start, len(recs[0][2]), 0)
    write_records(os.path.join(WORK, "visual.zrec"), header, recs)
    return recs, planes


def visual_video(problems):
    recs, planes = visual_recording()
    p = run(ZRFGRAB, "export", "visual.zrec", "--video", "visual.mkv")
    if (b"frame 3's time stamp is not later than the one before; it and the frames after it are shown "
            b"from 1 ms after that one") not in p.stderr:
        problems.append("a stamp not later than the one before was not said so: " + p.stderr.decode())
    for name, pix_fmt, part, times in (("visual-1.mkv", "yuv422p", slice(0, 3), [0, 33, 34]),
                                       ("visual-2.mkv", "yuv420p", slice(3, 5), [0, 33])):
        raw = run("ffmpeg", "-v", "error", "-i", name, "-map", "0:v:0", "-fps_mode", "passthrough",
                  "-f", "rawvideo", "-pix_fmt", pix_fmt, "-").stdout
        want = planes[part]
        same(problems, name + " frames decoded", len(raw) // want[0].size, len(want))
        for i, plane in enumerate(want):
            same(problems, f"{name} frame {i}", np.frombuffer(raw, np.uint8, plane.size, i * plane.size), plane)
        probe = ffprobe(name, "-select_streams", "v:0", "-show_entries", "frame=pts_time:stream=pix_fmt")
        same(problems, name + " pixels", probe["streams"][0]["pix_fmt"], pix_fmt)
        same(problems, name + " times (ms)", [round(float(f["pts_time"]) * 1000) for f in probe["frames"]], times)
        tags = ffprobe(name, "-show_entries", "format_tags")["format"]["tags"]
        same(problems, name + " zone", tags.get("TIME_ZONE"),
             "local time of the capturing host, standard zone UTC+01:00")
    # The other formats take radiometric frames only: each frame named as it is left out, then
    # the count, exit 1.
    for option, out in (("--tiff", "v.tif"), ("--png16", "vp"), ("--csv", "vc")):
        p = run(ZRFGRAB, "export", "visual.zrec", option, out, ok=(1,))
        same(problems, option + " of a visual frame", p.stderr.decode(),
             "".join(f"zrfgrab export: frame {n} holds no radiometric counts ({option} takes radiometric frames);"
                     " left out\n" for n in range(1, 6)) +
             "zrfgrab export: no frame of 'visual.zrec' could be exported (5 frames left out)\n")


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    make_recordings()
    failed = 0
    for kind in ("usb", "jls", "fw2", "lost", "switch"):
        frames = reference(kind)
        for name, check in FORMATS.items():
            problems = []
            try:
                check(kind, frames, problems)
            except Exception as e:  # a reader refusing the file is a failure of the row
                problems.append(f"{type(e).__name__}: {e}")
            failed += bool(problems)
            print(f"{'ok  ' if not problems else 'FAIL'} {name:11} {kind:7} {len(frames)} frames")
            for p in problems[:5]:
                print("     " + p)
    problems = []
    visual_video(problems)
    failed += bool(problems)
    print(f"{'ok  ' if not problems else 'FAIL'} video       visual  5 frames (YUY2 and I420)")
    for p in problems[:5]:
        print("     " + p)
    # A recording that ends early is exported as far as it goes, and the tool says so and counts
    # the frame cut short (exit 1).
    p = run(ZRFGRAB, "export", "lost.zrec", "--tiff", "early.tif", ok=(1,))
    if b"ends early, after frame 7: it is cut short" not in p.stderr or b"1 frame left out" not in p.stderr:
        failed += 1
        print("FAIL the cut-short recording was not said to end early: " + p.stderr.decode())
    print(f"{failed} row(s) failed")
    return 1 if failed else 0


sys.exit(main())
