"""zrfgrab serve's command line end to end: arguments refused before any work (exit 2), a port
in use (exit 1), a token printed off loopback and asked for, and SIGTERM ending a recording
started through the API cleanly (exit 143), with the summary naming it.
Usage: check_serve_cli.py ZRFGRAB WORKDIR"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import urllib.error
import urllib.request

from serve_harness import Checks, Server

ZRFGRAB, WORK = sys.argv[1:3]
shutil.rmtree(WORK, ignore_errors=True)
os.makedirs(WORK)
check = Checks()


busy = socket.socket()
busy.bind(("127.0.0.1", 0))
busy.listen()
busy_port = busy.getsockname()[1]
open(os.path.join(WORK, "file"), "w").close()
cases = [
    (["--replay", "missing.zrec", "--replay", "missing.zrec"], 2, "named twice"),
    (["--camera", "nosuch"], 2, "unknown camera 'nosuch'"),
    (["--camera", "webcam", "--listen", "127.0.0.1:0"], 2, "has no radiometric format"),
    (["--replay", "missing.zrec", "--listen", "127.0.0.1:0"], 2, "missing.zrec"),
    (["--replay", "file", "--listen", "127.0.0.1:0"], 2, "'file'"),
    (["--listen", "localhost:80"], 2, "not an IP address"),
    (["--record-dir", "file/recordings", "--listen", "127.0.0.1:0"], 2, "--record-dir"),
    (["--listen", f"127.0.0.1:{busy_port}", "--record-dir", "not-made"], 1, "cannot listen on 127.0.0.1:"),
    (["--bogus"], 2, "unknown option '--bogus'"),
]
for args, status, message in cases:
    result = subprocess.run([ZRFGRAB, "serve", *args], cwd=WORK, capture_output=True, text=True, timeout=60)
    check(result.returncode == status and message in result.stderr and result.stderr.startswith("zrfgrab serve: "),
          f"serve {' '.join(args)}: exit {result.returncode}, {result.stderr.strip()}")
busy.close()
check(not os.path.exists(os.path.join(WORK, "not-made")), "a server that cannot start makes no record folder")

help_text = subprocess.run([ZRFGRAB, "serve", "--help"], capture_output=True, text=True).stdout
check("--listen ADDR:PORT" in help_text and "token" in help_text, "serve --help shows its options")

# Off loopback a token is made, printed in the address, and asked of every request.
process = subprocess.Popen([ZRFGRAB, "serve", "--listen", "0.0.0.0:0", "--quiet"], cwd=WORK,
                           stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
address = ""
for line in process.stdout:
    if line.startswith("open "):
        address = line.split()[1]
        break
check("?token=" in address and len(address.split("?token=")[1]) == 32, f"off loopback the address carries a token: {address}")
try:
    urllib.request.urlopen(address.split("?")[0] + "api/cameras", timeout=10)
    check(False, "a request without the token is refused")
except urllib.error.HTTPError as refused:
    check(refused.code == 401, f"a request without the token is refused: {refused.code}")
with urllib.request.urlopen(address.split("?")[0] + "api/cameras?" + address.split("?")[1], timeout=10) as reply:
    check(reply.status == 200, "with it, it is answered")
process.send_signal(signal.SIGINT)
process.wait(20)

# SIGTERM while recording: the recording ends whole, and the summary says so.
server = Server(ZRFGRAB, ["--camera", "fw-ir", "--record-dir", "kept"], WORK)
started = server.api("POST", "/api/cameras/0/recording/start")
server.wait_for("frames recorded", lambda: server.cameras()[0]["recording_frames"] >= 10)
status = server.stop(signal.SIGTERM)
output = server.output()
info = subprocess.run([ZRFGRAB, "info", started["file"]], cwd=WORK, capture_output=True, text=True)
check(status == 143, f"SIGTERM ends serve with 143 ({status})")
check(info.returncode == 0 and "ending       clean" in info.stdout, f"the recording it ended is whole: {started['file']}")
check("recording " + started["file"] in output and "ended by SIGTERM" in output, "the summary names it:\n" + output)

check.exit()
