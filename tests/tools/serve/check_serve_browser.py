"""The live view in a real browser (Debian's Chromium, headless, driven by chromedriver): two
cameras served, one of them a replayed recording whose counts are known. The page must show
frames from both; the pointer on a pixel reads the count the recording holds there in the frame
shown; a dragged box reads that frame's minimum, maximum and mean; the hottest and coldest
pixels named are the frame's; a recording made from the page is whole; a snapshot downloads as
the frame's PNG and its counts as a 16-bit TIFF; Ctrl-C ends the server, and the page says so.
A screenshot of the page is kept. Usage: check_serve_browser.py ZRFGRAB WORKDIR"""
import os
import resource
import shutil
import signal
import subprocess
import sys
import time

from serve_harness import Checks, Server, cannot_run

ZRFGRAB, WORK = sys.argv[1], sys.argv[2]
try:
    import numpy
    import tifffile
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
except ImportError as missing:
    cannot_run(f"{missing.name} is missing (scripts/setup.sh installs python3-selenium, python3-tifffile)")
CHROMIUM = shutil.which("chromium")
DRIVER = shutil.which("chromedriver")
if not CHROMIUM or not DRIVER:
    cannot_run("Chromium or its driver is missing (scripts/setup.sh installs chromium, chromium-driver)")

shutil.rmtree(WORK, ignore_errors=True)
os.makedirs(WORK)
DOWNLOADS = os.path.join(WORK, "downloads")
os.makedirs(DOWNLOADS)
check = Checks()


def run(*args):
    result = subprocess.run([ZRFGRAB, *args], cwd=WORK, capture_output=True, text=True)
    if result.returncode != 0:
        raise AssertionError(f"zrfgrab {' '.join(args)}: {result.stderr}")
    return result.stdout


# The replayed recording and its counts, read by software other than ours.
run("grab", "--frames", "24", "--fast", "--seed", "11", "--quiet", "--record", "replayed.zrec")
run("export", "replayed.zrec", "--tiff", "replayed.tif")
recorded = tifffile.imread(os.path.join(WORK, "replayed.tif"))
frames, height, width = recorded.shape


def recorded_frame(number):
    # The replay plays the recording from its first frame and again from the start.
    return recorded[(number - 1) % frames]


server = Server(ZRFGRAB, ["--replay", "replayed.zrec", "--camera", "fw-ir", "--record-dir", "recordings"], WORK)
options = webdriver.ChromeOptions()
options.binary_location = CHROMIUM
for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1480,1000",
                 "--disable-dev-shm-usage"):
    options.add_argument(argument)
options.add_experimental_option("prefs", {"download.default_directory": DOWNLOADS,
                                          "download.prompt_for_download": False})
driver = webdriver.Chrome(service=Service(DRIVER), options=options)
try:
    driver.execute_cdp_cmd("Page.setDownloadBehavior", {"behavior": "allow", "downloadPath": DOWNLOADS})
    driver.get(server.address)

    def dataset(camera, selector):
        # All of an element's values in one call: the page changes them with every frame.
        return driver.execute_script(
            "const e = document.querySelector(arguments[0]); return e ? Object.assign({}, e.dataset) : {};",
            f"#camera-{camera} {selector}")

    def data(camera, selector, key):
        return dataset(camera, selector).get(key)

    def shown(camera):
        return data(camera, ".extremes", "frame")

    first = [server.wait_for(f"a frame from camera {c}", lambda c=c: shown(c)) for c in (0, 1)]
    later = [server.wait_for(f"a later frame from camera {c}",
                             lambda c=c: int(shown(c) or 0) > int(first[c]) and shown(c)) for c in (0, 1)]
    check(all(int(b) > int(a) for a, b in zip(first, later)), f"frames arrive from both cameras ({first} then {later})")

    canvas = driver.find_element(By.CSS_SELECTOR, "#camera-0 canvas.frame")

    def offset_of(x, y):
        # Selenium offsets count from the element's centre, in CSS pixels.
        rect = driver.execute_script("const r = arguments[0].getBoundingClientRect(); return [r.width, r.height];", canvas)
        return (round((x + 0.5) * rect[0] / width - rect[0] / 2), round((y + 0.5) * rect[1] / height - rect[1] / 2))

    # Spot readouts at pixels whose count changes from frame to frame, so a readout from
    # another frame than the one shown cannot pass.
    for x, y in ((200, 150), (33, 400), (600, 17)):
        check(len(set(recorded[:, y, x])) > 1, f"the recording's count at ({x}, {y}) changes between frames")
        ActionChains(driver).move_to_element_with_offset(canvas, *offset_of(x, y)).perform()
        # Screen pixels round: the page may name a neighbour of the pixel aimed at.
        server.wait_for("the spot readout", lambda: data(0, ".spot", "count") and
                        abs(int(data(0, ".spot", "x")) - x) <= 1 and abs(int(data(0, ".spot", "y")) - y) <= 1)
        time.sleep(0.3)  # a few frames later the readout is still the shown frame's
        spot = dataset(0, ".spot")
        frame, count, px, py = (int(spot[k]) for k in ("frame", "count", "x", "y"))
        expected = int(recorded_frame(frame)[py, px])
        check(count == expected, f"pointer at ({px}, {py}) in frame #{frame} reads {count}; the recording holds {expected}")

    # A box dragged from one corner to the other.
    ActionChains(driver).move_to_element_with_offset(canvas, *offset_of(100, 80)).click_and_hold() \
        .move_to_element_with_offset(canvas, *offset_of(300, 240)).release().perform()
    server.wait_for("the box readout", lambda: data(0, ".box", "min"))
    time.sleep(0.3)
    box = dataset(0, ".box")
    frame = int(box["frame"])
    x0, y0, x1, y1 = (int(v) for v in box["region"].split(","))
    check(max(abs(a - b) for a, b in zip((x0, y0, x1, y1), (100, 80, 300, 240))) <= 1,
          f"the box dragged covers (100, 80)-(300, 240): {(x0, y0, x1, y1)}")
    region = recorded_frame(frame)[min(y0, y1):max(y0, y1) + 1, min(x0, x1):max(x0, x1) + 1]
    got = [int(box["min"]), int(box["max"]), float(box["mean"])]
    check(got[0] == region.min() and got[1] == region.max() and abs(got[2] - region.mean()) < 0.006,
          f"box in frame #{frame} reads min {got[0]} max {got[1]} mean {got[2]:.2f}; the recording: "
          f"{region.min()} {region.max()} {region.mean():.2f}")

    # The hottest and coldest pixels marked are the frame's.
    extremes = dataset(0, ".extremes")
    frame = int(extremes["frame"])
    whole = recorded_frame(frame)
    hx, hy = (int(v) for v in extremes["hottest"].split(","))
    cx, cy = (int(v) for v in extremes["coldest"].split(","))
    check(whole[hy, hx] == whole.max() == int(extremes["max"]) and whole[cy, cx] == whole.min() == int(extremes["min"]),
          f"frame #{frame}: hottest ({hx}, {hy}) = {whole[hy, hx]} of max {whole.max()}, "
          f"coldest ({cx}, {cy}) = {whole[cy, cx]} of min {whole.min()}")

    # A snapshot: the false-colour PNG and the counts of the same frame as a 16-bit TIFF.
    driver.find_element(By.CSS_SELECTOR, "#camera-0 button.snapshot").click()
    # Done when both are there and whole: the browser makes each file empty under its own name
    # first, and writes it under a temporary one until it is complete.
    def downloaded():
        names = os.listdir(DOWNLOADS)
        tiffs = sorted(f for f in names if f.endswith(".tif"))
        try:
            whole = all(os.path.getsize(os.path.join(DOWNLOADS, f)) > 0 for f in names)
        except FileNotFoundError:  # renamed as it completed: look again
            return None
        done = tiffs and any(f.endswith(".png") for f in names) and whole and not any(
            f.endswith(".crdownload") for f in names)
        return tiffs if done else None
    tiffs = server.wait_for("the snapshot's downloads", downloaded)
    snapshot = tifffile.imread(os.path.join(DOWNLOADS, tiffs[0]))
    number = int(tiffs[0].rsplit("-frame-", 1)[1].split(".")[0])
    check(snapshot.dtype == numpy.uint16 and numpy.array_equal(snapshot, recorded_frame(number)),
          f"the snapshot's TIFF ({tiffs[0]}) holds frame #{number}'s counts")

    # Record from the page on the second camera, stop, and the recording is whole.
    record = driver.find_element(By.CSS_SELECTOR, "#camera-1 button.record")
    record.click()
    server.wait_for("the recording to run", lambda: data(1, ".recording", "active") == "true" and
                    int(data(1, ".recording", "frames")) >= 15)
    record.click()
    server.wait_for("the recording to stop", lambda: data(1, ".recording", "active") == "false")
    file = data(1, ".recording", "file")
    info = subprocess.run([ZRFGRAB, "info", file], capture_output=True, text=True, cwd=WORK)
    check(info.returncode == 0 and "ending       clean" in info.stdout,
          f"zrfgrab info finds {os.path.basename(file)} whole:\n{info.stdout[:330]}{info.stderr}")

    # The disk fills up (the server's file-size limit, lowered while it runs): the recording ends
    # by itself, whole, and the page says how many images it could not record, in red.
    pid = server.process.pid
    limits = resource.prlimit(pid, resource.RLIMIT_FSIZE)
    resource.prlimit(pid, resource.RLIMIT_FSIZE, (3_000_000, limits[1]))
    try:
        record.click()
        server.wait_for("the recording to end on the full disk", lambda: data(1, ".recording", "file") != file and
                        data(1, ".recording", "active") == "false")
    finally:
        resource.prlimit(pid, resource.RLIMIT_FSIZE, limits)
    full = dataset(1, ".recording")
    text = driver.find_element(By.CSS_SELECTOR, "#camera-1 .recording").text
    classes = driver.find_element(By.CSS_SELECTOR, "#camera-1 .recording").get_attribute("class").split()
    dropped = int(full.get("dropped") or 0)
    check(dropped > 0 and f"{dropped} not recorded" in text and "warn" in classes,
          f"the page shows the images not recorded ({dropped}), marked: {text!r} {classes}")
    # The start's reply may come after the status that ended the recording: the next status mends it.
    message = lambda: driver.find_element(By.CSS_SELECTOR, "#camera-1 .message").text
    server.wait_for("the page to stop saying the ended recording runs", lambda: "recording to" not in message())
    info = subprocess.run([ZRFGRAB, "info", full["file"]], capture_output=True, text=True, cwd=WORK)
    check(info.returncode == 0 and "ending       clean" in info.stdout and int(full["frames"]) > 0,
          f"the recording the full disk ended is whole ({full['frames']} frames):\n{info.stdout[:330]}{info.stderr}")

    # The plug-in lost none; what a camera dropped depends on how busy the machine is (said, not checked).
    cameras = server.cameras()
    lost = [c["lost"] for c in cameras]
    check(lost == [0, 0], f"no frame lost: {lost} (the cameras dropped {[c['camera_dropped'] for c in cameras]})")
    ActionChains(driver).move_to_element_with_offset(canvas, *offset_of(420, 300)).perform()
    time.sleep(0.5)
    screenshot = os.path.join(WORK, "live-view.png")
    driver.save_screenshot(screenshot)
    print("screenshot " + screenshot)

    # Ctrl-C ends the server; the page says so.
    status = server.stop(signal.SIGINT)
    check(status == 130, f"Ctrl-C ends zrfgrab serve with 130 ({status})")
    banner = server.wait_for("the page to say the server ended", lambda: driver.execute_script(
        "const b = document.getElementById('banner'); return b.hidden ? '' : b.textContent;"), seconds=10)
    check("Ctrl-C" in banner, f"the page says why: {banner}")
finally:
    driver.quit()
    server.stop(signal.SIGKILL)

check.exit()
