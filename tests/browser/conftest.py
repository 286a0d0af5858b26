"""rvxctl serve against simulated boards in real time, seen through headless
Chromium and through a second rvxctl that joins the same boards."""
import json
import os
import re
import shutil
import signal
import subprocess
import tempfile
import time
import urllib.error
import urllib.request

import pytest
from selenium import webdriver
from selenium.webdriver.chrome.service import Service

RVXCTL = os.environ.get("RVX_CTL", "build/rvxctl")
SHOTS = os.environ.get("RVX_PANEL_SHOTS", "")


class Panel:
    """A running `rvxctl serve` and the environment that reaches its boards."""

    def __init__(self, env, args, log_dir):
        self.env = env
        self.stderr_path = os.path.join(log_dir, "serve-%d.err" % time.monotonic_ns())
        self.err = open(self.stderr_path, "w")
        self.proc = subprocess.Popen([RVXCTL] + args, env=env, stdout=subprocess.PIPE,
                                     stderr=self.err, text=True)
        line = self.proc.stdout.readline()
        found = re.search(r"(http://\S+?/)(\?token=(\S+))?[ ,]", line)
        assert found, "rvxctl serve printed: %r (stderr: %s)" % (line, self.stderr())
        self.url = found.group(1)
        self.token = found.group(3)

    def stderr(self):
        self.err.flush()
        with open(self.stderr_path) as f:
            return f.read()

    def request(self, path, body=None, headers=None, method=None):
        """(status, JSON reply) of one request; actions are POSTs of JSON."""
        data = None if body is None else json.dumps(body).encode()
        h = {"Content-Type": "application/json"} if body is not None else {}
        h.update(headers or {})
        req = urllib.request.Request(self.url + path.lstrip("/"), data=data, headers=h,
                                     method=method)
        try:
            with urllib.request.urlopen(req, timeout=5) as r:
                return r.status, json.loads(r.read() or b"null")
        except urllib.error.HTTPError as e:
            return e.code, json.loads(e.read() or b"null")

    def axis(self, board, axis):
        status, state = self.request("/api/state", headers=self.auth())
        assert status == 200, state
        return state["boards"][board]["axes"][axis]

    def auth(self):
        return {"Authorization": "Bearer " + self.token} if self.token else {}

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.err.close()


def ctl(env, *args, check=True):
    """rvxctl --sim ARGS joined to the panel's boards: (exit status, stdout + stderr)."""
    r = subprocess.run([RVXCTL, "--sim"] + list(args), env=env, capture_output=True, text=True,
                       timeout=60)
    if check:
        assert r.returncode == 0, r.stdout + r.stderr
    return r.returncode, r.stdout + r.stderr


def status_row(env, board, axis):
    """What `rvxctl status B A` reports: command, actual, speed and the flags."""
    _, out = ctl(env, "status", str(board), str(axis))
    for line in out.splitlines():
        f = line.split()
        if len(f) >= 6 and f[0] == str(board) and f[1] == str(axis):
            flags = line[line.rindex(")") + 1:].split()
            return {"command": int(f[3]), "actual": int(f[4]), "speed": int(f[5]),
                    "cause": " ".join(f[6:8]), "flags": [] if flags == ["-"] else flags}
    raise AssertionError("no row for board %d axis %d in:\n%s" % (board, axis, out))


def wait_for(what, timeout=5.0, every=0.02):
    """Polls `what` until it returns a true value; that value."""
    end = time.monotonic() + timeout
    while True:
        value = what()
        if value or time.monotonic() > end:
            return value
        time.sleep(every)


@pytest.fixture(scope="session")
def workdir():
    d = tempfile.mkdtemp(prefix="rvx-panel-")
    yield d
    shutil.rmtree(d, ignore_errors=True)


@pytest.fixture(scope="session")
def env(workdir):
    e = dict(os.environ)
    e["RVX_IPC_NAMESPACE"] = "rvxpanel%d" % os.getpid()
    e["RVX_INSTALL_DIR"] = workdir
    e.pop("RVX_SIM", None)
    return e


@pytest.fixture(scope="session")
def panel(env, workdir):
    p = Panel(env, ["--sim=2", "serve", "--port", "0"], workdir)
    yield p
    p.stop()


@pytest.fixture
def start_panel(env, workdir):
    """Further servers over the same boards, stopped after the test."""
    started = []

    def start(*args):
        p = Panel(env, ["--sim", "serve", "--port", "0"] + list(args), workdir)
        started.append(p)
        return p

    yield start
    for p in started:
        p.stop()


def new_browser():
    options = webdriver.ChromeOptions()
    for a in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--disable-gpu",
              "--window-size=1400,1000"):
        options.add_argument(a)
    if os.path.exists("/usr/bin/chromium"):
        options.binary_location = "/usr/bin/chromium"
    service = Service(shutil.which("chromedriver") or "/usr/bin/chromedriver")
    return webdriver.Chrome(service=service, options=options)


@pytest.fixture
def browsers():
    """Opens browsers; each is quit after the test (unless the test killed it)."""
    opened = []

    def open_browser():
        b = new_browser()
        opened.append(b)
        return b

    yield open_browser
    for b in opened:
        try:
            b.quit()
        except Exception:  # a browser the test pulled the plug on
            pass


@pytest.fixture
def page(panel, browsers):
    b = browsers()
    b.get(panel.url)
    wait_for(lambda: b.execute_script("return document.querySelectorAll('.axes tr').length"))
    return b
