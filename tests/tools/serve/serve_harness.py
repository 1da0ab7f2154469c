"""Starting and ending `zrfgrab serve` for the end-to-end tests, and the rule they share: a test
that cannot run skips (77), except under CI, where it fails and says why."""
import json
import os
import re
import signal
import subprocess
import sys
import time
import urllib.request

SKIP = 77


def cannot_run(why):
    if os.environ.get("CI"):
        print(f"FAIL: cannot run: {why} (CI runs every test)")
        sys.exit(1)
    print(f"SKIPPED: {why}")
    sys.exit(SKIP)


class Checks:
    """Checks that each print their verdict and are all counted: one failure hides no other."""

    def __init__(self):
        self.failed = []

    def __call__(self, condition, what):
        print(("ok    " if condition else "FAIL  ") + what)
        if not condition:
            self.failed.append(what)

    def exit(self):
        print("all checks passed" if not self.failed else f"{len(self.failed)} checks failed")
        sys.exit(1 if self.failed else 0)


class Server:
    """A `zrfgrab serve` on a port of its own choosing; its address is read from what it prints."""

    def __init__(self, zrfgrab, args, cwd, env=None):
        self.log_path = os.path.join(cwd, "serve-stderr.txt")
        self.out_path = os.path.join(cwd, "serve-stdout.txt")
        self.process = subprocess.Popen(
            [zrfgrab, "serve", "--listen", "127.0.0.1:0", *args], cwd=cwd,
            stdout=open(self.out_path, "w"), stderr=open(self.log_path, "w"),
            env={**os.environ, **(env or {})})
        self.address = None
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline and self.process.poll() is None:
            found = re.search(r"^open (http://\S+)$", open(self.out_path).read(), re.M)
            if found:
                self.address = found.group(1)
                break
            time.sleep(0.1)
        if not self.address:
            self.stop()
            raise AssertionError("zrfgrab serve printed no address:\n" + self.output())
        self.base = self.address.split("?")[0].rstrip("/")
        self.port = int(self.base.rsplit(":", 1)[1])

    def api(self, method, path, body=None):
        data = None if body is None else json.dumps(body).encode()
        request = urllib.request.Request(self.base + path, data=data, method=method)
        with urllib.request.urlopen(request, timeout=10) as reply:
            return json.loads(reply.read())

    def cameras(self):
        return self.api("GET", "/api/cameras")

    def wait_for(self, what, check, seconds=20):
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            value = check()
            if value:
                return value
            time.sleep(0.1)
        raise AssertionError(f"timed out waiting for {what}")

    def resident_kib(self):
        with open(f"/proc/{self.process.pid}/status") as status:
            for line in status:
                if line.startswith("VmRSS:"):
                    return int(line.split()[1])
        raise AssertionError("no VmRSS")

    def stop(self, sig=signal.SIGINT, seconds=20):
        if self.process.poll() is None:
            self.process.send_signal(sig)
            try:
                self.process.wait(seconds)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
                raise AssertionError("zrfgrab serve did not end after " + signal.Signals(sig).name)
        return self.process.returncode

    def output(self):
        return open(self.out_path).read() + open(self.log_path).read()
