"""A local mosquitto broker on a free port, a kept simulated board and
rvxctl bridge between them, for each test; mosquitto_sub and mosquitto_pub
as the other side."""
import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import threading
import time

import pytest

RVXCTL = os.environ.get("RVXCTL", "rvxctl")
MOSQUITTO = shutil.which("mosquitto") or "/usr/sbin/mosquitto"
MACHINE = "cell7"
ROOT = "rvx/" + MACHINE


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def wait_for(predicate, seconds, what):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if predicate():
            return
        time.sleep(0.02)
    raise AssertionError("timed out waiting for " + what)


class Broker:
    def __init__(self, folder):
        self.port = free_port()
        self.config = os.path.join(folder, "mosquitto.conf")
        self.configure("allow_anonymous true\n")
        self.log = open(os.path.join(folder, "mosquitto.log"), "w")
        self.process = None
        self.client = []  # what mosquitto_sub and mosquitto_pub need besides host and port

    def configure(self, lines):
        with open(self.config, "w") as f:
            # No persistence: a restarted broker has lost every retained message.
            f.write(f"listener {self.port} 127.0.0.1\npersistence false\n" + lines)
            # Run as root (as CI is), it would turn into the user mosquitto,
            # who cannot read the test's files.
            if os.geteuid() == 0:
                f.write("user root\n")

    def start(self):
        self.process = subprocess.Popen([MOSQUITTO, "-c", self.config], stdout=self.log,
                                        stderr=subprocess.STDOUT)

        def listening():
            try:
                socket.create_connection(("127.0.0.1", self.port), 0.2).close()
                return True
            except OSError:
                return False

        wait_for(listening, 10, "mosquitto to listen")

    def kill(self):
        self.process.kill()
        self.process.wait()

    def args(self):
        return ["-h", "localhost", "-p", str(self.port), *self.client]


class Subscriber:
    """mosquitto_sub in the background; messages as (arrival, topic, payload)."""

    def __init__(self, broker, *filters):
        words = ["mosquitto_sub", *broker.args(), "-v", "-q", "1"]
        for f in filters:
            words += ["-t", f]
        self.process = subprocess.Popen(words, stdout=subprocess.PIPE, text=True)
        self.messages = []
        self.lock = threading.Lock()
        threading.Thread(target=self._read, daemon=True).start()
        time.sleep(0.3)  # subscribed before the test acts

    def _read(self):
        for line in self.process.stdout:
            topic, _, payload = line.rstrip("\n").partition(" ")
            with self.lock:
                self.messages.append((time.monotonic(), topic, payload))

    def on(self, topic):
        with self.lock:
            return [(t, json.loads(p)) for t, top, p in self.messages if top == topic]

    def count(self):
        with self.lock:
            return len(self.messages)

    def stop(self):
        self.process.terminate()
        self.process.wait()


class Rig:
    def __init__(self, folder):
        self.folder = folder
        install = os.path.join(folder, "install") + "/"
        os.makedirs(install + "Parameter")
        os.makedirs(install + "Debug")
        self.env = dict(os.environ, RVX_IPC_NAMESPACE=f"mqtt-{os.getpid()}-{id(self)}-",
                        RVX_INSTALL_DIR=install)
        self.env.pop("RVX_SIM", None)
        self.broker = Broker(folder)
        self.bridge = None
        self.bridge_log = os.path.join(folder, "bridge.log")
        self.subscribers = []

    def rvxctl(self, *words, check=True):
        done = subprocess.run([RVXCTL, *words], env=self.env, capture_output=True, text=True,
                              timeout=60)
        if check:
            assert done.returncode == 0, done.stdout + done.stderr
        return done

    def start_bridge(self, *extra, allow="stop,servo,output,move", wait=True):
        words = [RVXCTL, "--sim", "bridge", "--mqtt", f"localhost:{self.broker.port}",
                 "--machine", MACHINE, "--period", "100"]
        if allow:
            words += ["--allow-commands", allow]
        self.bridge = subprocess.Popen(words + list(extra), env=self.env,
                                       stderr=open(self.bridge_log, "w"))
        if not wait:
            return
        wait_for(lambda: "connected to" in self.log(), 10, "the bridge to connect")
        # The first full state is out once presence is retained.
        wait_for(lambda: self.retained(ROOT + "/presence"), 10, "the bridge's presence")

    def log(self):
        if not os.path.exists(self.bridge_log):
            return ""
        with open(self.bridge_log) as f:
            return f.read()

    def subscribe(self, *filters):
        s = Subscriber(self.broker, *filters)
        self.subscribers.append(s)
        return s

    def publish(self, topic, payload):
        subprocess.run(["mosquitto_pub", *self.broker.args(), "-q", "1", "-t", topic, "-m",
                        payload], check=True, timeout=10)

    def publish_lines(self, topic, payloads):
        """Each payload (no newline in it) one message, from one client."""
        data = b"".join(p + b"\n" for p in payloads)
        subprocess.run(["mosquitto_pub", *self.broker.args(), "-q", "1", "-t", topic, "-l"],
                       input=data, check=True, timeout=60)

    def retained(self, topic):
        """The retained payload of a topic, parsed; None when there is none."""
        done = subprocess.run(["mosquitto_sub", *self.broker.args(), "-t", topic,
                               "--retained-only", "-C", "1", "-W", "1"],
                              capture_output=True, text=True, timeout=10)
        return json.loads(done.stdout) if done.stdout.strip() else None

    def stop_bridge(self, sig=signal.SIGTERM):
        self.bridge.send_signal(sig)
        status = self.bridge.wait(timeout=15)
        self.bridge = None
        return status

    def close(self):
        """Ends everything; the bridge, if still running, must end cleanly."""
        for s in self.subscribers:
            s.stop()
        status = self.stop_bridge() if self.bridge is not None else 0
        self.rvxctl("sim", "stop", check=False)
        if self.broker.process is not None and self.broker.process.poll() is None:
            self.broker.kill()
        assert status == 0, self.log()
        assert "Sanitizer" not in self.log() and "runtime error" not in self.log(), self.log()


@pytest.fixture
def rig():
    folder = tempfile.mkdtemp(prefix="rvx-mqtt-")
    r = Rig(folder)
    try:
        r.broker.start()
        r.rvxctl("sim", "start")
        yield r
    finally:
        r.close()
        shutil.rmtree(folder, ignore_errors=True)
