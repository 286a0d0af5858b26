"""rvxctl bridge's command line, login and TLS."""
import os
import subprocess
import time

from conftest import ROOT, RVXCTL, wait_for

# Words after "bridge", what stderr says.
REFUSED = [
    ([], "rvxctl: bridge needs --mqtt HOST[:PORT], the broker"),
    (["--mqtt", ":1883"], "rvxctl: --mqtt: ':1883' names no host"),
    (["--mqtt", "h:"], "rvxctl: --mqtt: 'h:' has a : but no port after it"),
    (["--mqtt", "h:0"], "rvxctl: --mqtt PORT: '0' is out of range: 1..65535"),
    (["--mqtt", "[::1"], "rvxctl: --mqtt: '[::1' has no ] after the address"),
    (["--mqtt", "[::1]x"], "rvxctl: --mqtt: '[::1]x' has more than :PORT after the address"),
    (["--mqtt", "h", "--period", "5"],
     "rvxctl: --period: '5' is out of range: 10..60000, milliseconds"),
    (["--mqtt", "h", "--allow-commands", "stop,fly"],
     "rvxctl: --allow-commands: 'fly' is not a command the bridge takes "
     "(stop, servo, output, move, jog, home, compare)"),
    (["--mqtt", "h", "--prefix", "plant/#"],
     "rvxctl: bridge: the prefix 'plant/#' must be topic levels that are not empty, "
     "without + or #"),
    (["--mqtt", "h", "--prefix", "plant//a"],
     "rvxctl: bridge: the prefix 'plant//a' must be topic levels that are not empty, "
     "without + or #"),
    (["--mqtt", "h", "--machine", "a/b"],
     "rvxctl: bridge: the machine name 'a/b' must be one topic level: not empty, no /, + or #"),
    (["--mqtt", "h", "--cert", "c.pem"], "rvxctl: bridge: --cert and --key go together"),
    (["--mqtt", "h", "--cert", "c.pem", "--key", "k.pem"],
     "rvxctl: bridge: --cert and --key need --tls or --cafile"),
    (["--mqtt", "h", "--password-file", "pw"], "rvxctl: bridge: --password-file needs --user"),
    (["--mqtt", "h", "--user", "u", "--password-file", "/nonexistent/pw"],
     "rvxctl: bridge: cannot read the password file /nonexistent/pw"),
]


def test_a_bad_command_line_is_refused_before_anything_happens(rig):
    for words, message in REFUSED:
        done = rig.rvxctl("--sim", "bridge", *words, check=False)
        assert (done.returncode, done.stderr) == (2, message + "\n"), words
        assert done.stdout == ""
    # No broker was asked: none of them got as far as connecting.
    with open(os.path.join(rig.folder, "mosquitto.log")) as f:
        assert "New client connected" not in f.read()


def test_login_from_a_password_file(rig):
    users = os.path.join(rig.folder, "users")
    subprocess.run(["mosquitto_passwd", "-c", "-b", users, "plant", "s3cret"], check=True)
    rig.broker.kill()
    rig.broker.configure(f"allow_anonymous false\npassword_file {users}\n")
    rig.broker.start()
    rig.broker.client = ["-u", "plant", "-P", "s3cret"]
    for line, connects in (("wrong\n", False), ("s3cret\r\n", True)):
        password = os.path.join(rig.folder, "password")
        with open(password, "w") as f:
            f.write(line + "other lines are not read\n")
        rig.start_bridge("--user", "plant", "--password-file", password, wait=connects)
        if not connects:
            wait_for(lambda: "refused the connection" in rig.log(), 10, "the refusal")
            assert "rvxctl bridge: the broker refused the connection: " in rig.log()
            assert "not authorised" in rig.log().lower()
            assert rig.retained(ROOT + "/presence") is None
            assert rig.bridge.poll() is None  # it keeps trying
        assert rig.stop_bridge() == 0
    assert rig.retained(ROOT + "/presence")["reason"] == "stopped"


def test_tls_with_the_brokers_certificate(rig):
    cert, key = (os.path.join(rig.folder, name) for name in ("broker.pem", "broker.key"))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key,
                    "-out", cert, "-days", "1", "-subj", "/CN=localhost", "-addext",
                    "subjectAltName=DNS:localhost"], check=True, capture_output=True)
    rig.broker.kill()
    rig.broker.configure(f"allow_anonymous true\ncertfile {cert}\nkeyfile {key}\n")
    rig.broker.start()
    rig.broker.client = ["--cafile", cert]
    # The system's certificates do not vouch for it; its own does.
    rig.start_bridge("--tls", wait=False)
    time.sleep(2)
    assert "connected to" not in rig.log()
    assert rig.retained(ROOT + "/presence") is None
    rig.stop_bridge()
    rig.start_bridge("--cafile", cert)
    presence = rig.retained(ROOT + "/presence")
    assert presence["online"] is True
    assert rig.rvxctl("--sim", "move", "0", "2", "700").returncode == 0
    wait_for(lambda: rig.retained(ROOT + "/board/0/axis/2/state")["actual"] == 700, 5,
             "the state over TLS")
    assert f"connected to localhost:{rig.broker.port}" in rig.log()
