"""A thousand malformed or oversized requests on raw sockets: the server
answers each or drops it, keeps running, and no axis moves."""
import json
import random
import socket

from conftest import ctl

ACTIONS = ["servo", "alarm-reset", "jog", "move", "home", "stop", "stop-all", "output", "speed",
           "param-save"]
# Values a field may not take; boards and axes the library refuses as missing.
BAD = ["0", 0.5, -1, 65536, 1e30, None, [], {}, True, 2 ** 64, -2 ** 63, "", "\u0000",
       [0, 1], {"board": 0}]
MISSING_BOARD_OR_AXIS = [7, 15, 4, 99, 65535]


def bad_body(rng, port):
    """An action whose body is wrong in at least one field it needs."""
    action = rng.choice(ACTIONS)
    body = {"board": rng.choice([0, 1]), "axis": rng.choice([0, 1, 2, 3]), "value": 1000,
            "on": 1, "direction": 1, "channel": 2, "kind": "pos", "values": [1, 2, 3, 4]}
    spoiled = "board" if action in ("stop-all", "output", "param-save") else rng.choice(
        ["board", "axis"] + {"servo": ["on"], "jog": ["direction"], "move": ["value"],
                             "output": ["value", "channel"], "speed": ["values"]}.get(action, []))
    if spoiled in ("board", "axis") and rng.random() < 0.3:
        body[spoiled] = rng.choice(MISSING_BOARD_OR_AXIS if spoiled == "board" else [4, 5, 99])
    elif spoiled == "values":
        body["values"] = rng.choice([[1, 2], "1,2,3,4", [1, 2, 3, "x"], [1, 2, 3, -5], None])
    elif spoiled == "value" and action == "output":
        body["value"] = rng.choice([2, -1, "1", 0.5, None])
    else:
        body[spoiled] = rng.choice(BAD)
    if rng.random() < 0.2:
        del body[spoiled]
    data = json.dumps(body).encode()
    return (b"POST /api/%s HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nContent-Type: application/json\r\n"
            b"Content-Length: %d\r\n\r\n" % (action.encode(), port, len(data)) + data)


def malformed(rng, port):
    """(whether it asks for an action, the request's bytes)."""
    kind = rng.randrange(12)
    return kind not in (0, 1, 2, 7, 8), request(rng, port, kind)


def request(rng, port, kind):
    host = b"Host: 127.0.0.1:%d\r\n" % port
    if kind == 0:  # noise
        return bytes(rng.randrange(256) for _ in range(rng.randrange(1, 2000)))
    if kind == 1:  # a request line far too long
        return b"GET /" + b"a" * rng.randrange(9000, 40000) + b" HTTP/1.1\r\n" + host + b"\r\n"
    if kind == 2:  # one header far too long, or very many
        if rng.random() < 0.5:
            return b"GET /api/state HTTP/1.1\r\n" + host + b"X: " + b"b" * 70000 + b"\r\n\r\n"
        return b"GET /api/state HTTP/1.1\r\n" + host + b"X: y\r\n" * 3000 + b"\r\n"
    if kind == 3:  # a body over the limit
        size = rng.choice([65 * 1024, 1 << 20, 1 << 22])
        return (b"POST /api/move HTTP/1.1\r\n" + host + b"Content-Type: application/json\r\n"
                b"Content-Length: %d\r\n\r\n" % size + b"{" * min(size, 200000))
    if kind == 4:  # lengths that lie
        length = rng.choice([b"-1", b"abc", b"99999999999999999999", b"1000000000000", b"10"])
        return (b"POST /api/servo HTTP/1.1\r\n" + host + b"Content-Type: application/json\r\n"
                b"Content-Length: " + length + b"\r\n\r\n{\"board\":")
    if kind == 5:  # broken chunks
        return (b"POST /api/move HTTP/1.1\r\n" + host + b"Content-Type: application/json\r\n"
                b"Transfer-Encoding: chunked\r\n\r\n" +
                rng.choice([b"zz\r\n{}\r\n0\r\n\r\n", b"ffffffffffffffff\r\n{", b"5\r\n{\"board\"",
                            b"-3\r\n{}\r\n"]))
    if kind == 6:  # JSON nested deeper than anyone writes it
        depth = rng.choice([1000, 20000, 30000])
        body = b"[" * depth + b"]" * depth
        return (b"POST /api/move HTTP/1.1\r\n" + host + b"Content-Type: application/json\r\n"
                b"Content-Length: %d\r\n\r\n" % len(body) + body)
    if kind == 7:  # paths and queries that lead nowhere
        path = rng.choice([b"/../../etc/passwd", b"/%00", b"/api/scope.svg?board=abc&axis=",
                           b"/api/speed?board=99999999999999&axis=-1", b"/api/scope?board=0&axis=9",
                           b"/api/%2e%2e/%2e%2e/x", b"/api/move", b"//", b"/api/events?x=" + b"%" * 50])
        return b"GET " + path + b" HTTP/1.1\r\n" + host + b"\r\n"
    if kind == 8:  # methods and versions the server does not take
        return rng.choice([b"BREW /api/move HTTP/1.1\r\n", b"POST /api/move HTTP/9.9\r\n",
                           b"GET\r\n", b"POST /api/move\r\n", b"\r\n\r\n"]) + host + b"\r\n"
    if kind == 9:  # bodies that are not JSON objects
        data = rng.choice([b"", b"null", b"[]", b"42", b"\"move\"", b"{", b"{\"board\":0,}",
                           b"\xff\xfe\x00", bytes(rng.randrange(256) for _ in range(64))])
        return (b"POST /api/%s HTTP/1.1\r\n" % rng.choice(ACTIONS).encode() + host +
                b"Content-Type: application/json\r\nContent-Length: %d\r\n\r\n" % len(data) + data)
    if kind == 10:  # a request cut short
        return bad_body(rng, port)[:rng.randrange(1, 60)]
    return bad_body(rng, port)


def send_raw(port, data):
    """Sends `data` and reads what comes back: the status line, or b""."""
    with socket.create_connection(("127.0.0.1", port), timeout=5) as s:
        try:
            s.sendall(data)
        except OSError:  # the server closed first, having seen enough
            pass
        # A whole request is answered at once; one cut short waits for the
        # rest until this side closes.
        s.settimeout(0.1)
        reply = b""
        try:
            while b"\r\n" not in reply:
                chunk = s.recv(4096)
                if not chunk:
                    break
                reply += chunk
        except OSError:
            pass
    return reply.split(b"\r\n", 1)[0]


def positions(panel):
    status, state = panel.request("/api/state")
    assert status == 200
    return [(a["board"], a["axis"], a["command"], a["actual"], a["status"] & (1 << 8))
            for b in state["boards"] for a in b["axes"]], [b["outputs"] for b in state["boards"]]


def test_a_thousand_malformed_requests_move_nothing(panel, env):
    port = int(panel.url.rsplit(":", 1)[1].strip("/"))
    before = positions(panel)
    assert not any(busy for *_, busy in before[0]), "an axis is still moving before the fuzz"
    rng = random.Random(406)
    answered = {}
    for _ in range(1000):
        action, data = malformed(rng, port)
        line = send_raw(port, data)
        code = line.split(b" ")[1].decode() if line.startswith(b"HTTP/1.1 ") else "none"
        key = ("action " if action else "other ") + code
        answered[key] = answered.get(key, 0) + 1
    assert panel.proc.poll() is None, "the server ended: " + panel.stderr()
    # Every action was refused: as malformed (400), too large (413), or by the
    # library for a board or axis it does not have (409).
    assert not [k for k in answered if k.startswith("action 2")], answered
    assert answered.get("action 400", 0) > 250 and answered.get("action 409", 0) > 10 and answered.get("action 413", 0) > 10, answered
    assert positions(panel) == before
    # The library still answers other programs, and the server its pages.
    assert "ERR_SUCCESS" in ctl(env, "status", "0", "0")[1]
    status, _ = panel.request("/api/speed?board=0&axis=0")
    assert status == 200
