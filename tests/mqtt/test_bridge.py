"""rvxctl bridge against a local mosquitto: state, events, commands, a broker
that goes away, and payloads it must not act on."""
import json
import os
import random
import signal
import subprocess
import time

import pytest
from conftest import ROOT, RVXCTL, wait_for

AXIS = ROOT + "/board/0/axis/{}"


def last(messages):
    return messages[-1][1] if messages else None


def test_state_follows_a_move(rig):
    rig.start_bridge()
    sub = rig.subscribe(AXIS.format(1) + "/state", AXIS.format(0) + "/state")
    wait_for(lambda: sub.on(AXIS.format(0) + "/state"), 5, "the retained state")
    still = len(sub.on(AXIS.format(0) + "/state"))
    start = time.monotonic()
    done = rig.rvxctl("--sim", "move", "0", "1", "12000")
    took = time.monotonic() - start
    assert "ERR_SUCCESS" in done.stdout
    wait_for(lambda: last(sub.on(AXIS.format(1) + "/state"))["actual"] == 12000, 5,
             "the end of the move")
    states = sub.on(AXIS.format(1) + "/state")
    moving = [s for _, s in states if "BUSY" in s["flags"]]
    assert len(moving) >= 3, states
    # Positions only grow on the way, and the speed is the drive's.
    positions = [s["actual"] for _, s in states]
    assert positions == sorted(positions)
    assert max(s["speed"] for s in moving) > 0
    end = last(states)
    assert (end["command"], end["actual"], end["speed"], end["flags"]) == (12000, 12000, 0, [])
    assert end["stop_cause"] == {"code": 0, "name": "ERR_SUCCESS", "text": ""}
    # At most one state every --period (100 ms), give or take the delivery.
    assert len(states) <= took / 0.1 + 3, len(states)
    # An axis that did not move was not published again.
    assert len(sub.on(AXIS.format(0) + "/state")) == still
    # What a newcomer sees is where the axis stands now.
    assert rig.retained(AXIS.format(1) + "/state")["actual"] == 12000
    board = rig.retained(ROOT + "/board/0/state")
    assert (board["axes"], board["inputs"], board["outputs"]) == (4, [0], [0])


def test_events_arrive_once_each_and_every_payload_follows_the_schema(rig):
    rig.start_bridge(allow="compare")
    sub = rig.subscribe(ROOT + "/#")
    rig.publish(AXIS.format(0) + "/command",
                '{"command":"compare","start":1000,"interval":1000,"count":3,"id":"c"}')
    rig.publish(ROOT + "/board/0/command", '{"command":"output","channel":0,"on":true}')
    wait_for(lambda: sub.on(AXIS.format(0) + "/reply"), 5, "the compare reply")
    assert last(sub.on(AXIS.format(0) + "/reply"))["result"]["name"] == "ERR_SUCCESS"
    for axis in ("0", "2", "3"):
        rig.rvxctl("--sim", "move", "0", axis, "4000")
    rig.rvxctl("--sim", "--sim-di=0:1:0xFFFB", "io", "0")

    def kinds():
        return [e["kind"] for _, e in sub.on(ROOT + "/board/0/event")]

    wait_for(lambda: kinds().count("motion") >= 3 and "inputs" in kinds(), 10, "the events")
    time.sleep(0.5)  # long enough for any second copy to arrive
    events = [e for _, e in sub.on(ROOT + "/board/0/event")]
    kinds = [e["kind"] for e in events]
    assert kinds.count("motion") == 3, events
    assert all(e["status"] & 1 and "drive ended" in e["events"]
               for e in events if e["kind"] == "motion")
    # Windows at 1000, 2000, 3000 of axis 0's first move, each served once.
    assert sum(e["count"] for e in events if e["kind"] == "compare") == 3, events
    inputs = [e for e in events if e["kind"] == "inputs"]
    assert [(e["low"], e["high"], e["channels"]) for e in inputs] == [(4, 0, [2])]
    assert [e["seq"] for e in events] == list(range(events[0]["seq"], events[0]["seq"] +
                                                    len(events)))
    rig.stop_bridge()
    wait_for(lambda: sub.on(ROOT + "/presence")[-1][1]["online"] is False, 5, "the last word")
    seen = set()
    for _, topic, payload in list(sub.messages):
        seen.add(schema_of(topic)["$ref"])
        assert schema_errors(topic, json.loads(payload)) == [], (topic, payload)
    assert seen == {"#/$defs/" + k for k in (
        "presence", "axis_state", "board_state", "event", "reply", "axis_command",
        "board_command")}, seen


# Topic (under the machine's root), payload, what the reply says.
REFUSED = [
    ("board/0/axis/1/command", '{"command":"home"}',
     "'home' is not allowed on this bridge (--allow-commands)"),
    ("board/0/axis/1/command", '{"command":"fly"}',
     "'fly' is not a command the bridge takes "
     "(stop, servo, output, move, jog, home, compare)"),
    ("board/0/axis/1/command", '{"command":"output","channel":3,"on":true}',
     "'output' is a board command: send it to rvx/cell7/board/0/command"),
    ("board/0/command", '{"command":"servo","on":true}',
     "'servo' is an axis command: send it to rvx/cell7/board/0/axis/0/command (axis 0)"),
    ("board/0/axis/1/command", '{"command":"servo"}', "'servo' needs 'on'"),
    ("board/0/axis/1/command", '{"command":"servo","on":"yes"}', "'on' must be true or false"),
    ("board/0/axis/1/command", '{"command":"move","distance":100,"speed":5}',
     "'speed' is not a field of 'move'"),
    ("board/0/axis/1/command", '{"command":"move","distance":100,"distance":-100}',
     "'distance' is given twice"),
    ("board/0/axis/1/command", '{"command":"move","distance":"100"}',
     "'distance' must be a whole number -2147483648..2147483647"),
    ("board/0/command", '{"command":"output","channel":16,"on":true}',
     "'channel' must be a whole number 0..15"),
    ("board/0/axis/9/command", '{"command":"stop"}', "axis 9 does not exist on board 0"),
    ("board/3/command", '{"command":"output","channel":1,"on":true}', "board 3 does not exist"),
    ("board/0/axis/1/command", '{"command":"stop","id":[1]}',
     "'id' must be a string or a whole number"),
    ("board/0/axis/1/command", "stop", "the payload is not JSON"),
    ("board/0/axis/1/command", '["stop"]', "the payload is not a JSON object"),
]


def test_commands_allowed_refused_and_answered(rig):
    rig.start_bridge()
    sub = rig.subscribe(ROOT + "/board/+/reply", ROOT + "/board/+/axis/+/reply")
    # Allowed: each runs, and its reply carries the library's result.
    rig.rvxctl("--sim", "jog", "0", "2", "+")
    rig.publish(AXIS.format(2) + "/command", '{"command":"stop","sudden":true,"id":"s1"}')
    rig.publish(AXIS.format(1) + "/command", '{"command":"servo","on":true,"id":2}')
    rig.publish(ROOT + "/board/0/command", '{"command":"output","channel":3,"on":true}')
    rig.publish(AXIS.format(3) + "/command", '{"command":"move","distance":300000000}')
    wait_for(lambda: sub.count() == 4, 5, "four replies")
    stop = last(sub.on(AXIS.format(2) + "/reply"))
    assert stop == {"id": "s1", "command": "stop", "accepted": True,
                    "result": {"code": 0, "name": "ERR_SUCCESS", "text": ""}}
    assert last(sub.on(AXIS.format(1) + "/reply"))["id"] == 2
    wait_for(lambda: "BUSY" not in rig.retained(AXIS.format(2) + "/state")["flags"], 5,
             "the jog to stop")
    assert "servo on" in rig.rvxctl("--sim", "servo", "0", "1").stdout
    assert "DO word 0 (channels  0-15): 0x0008" in rig.rvxctl("--sim", "io", "0").stdout
    # A distance the library refuses: accepted by the bridge, refused below.
    refused = last(sub.on(AXIS.format(3) + "/reply"))
    assert refused["accepted"] is True and refused["result"]["code"] < 0, refused
    assert refused["result"]["text"], refused
    assert f"{AXIS.format(3)}/command: move: {refused['result']['name']}" in rig.log()

    for topic, payload, reason in REFUSED:
        rig.publish(f"{ROOT}/{topic}", payload)
    wait_for(lambda: sub.count() == 4 + len(REFUSED), 10, "a reply to each refusal")
    replies = {}
    for _, topic, payload in sub.messages[4:]:
        replies.setdefault(topic, []).append(json.loads(payload))
    log = rig.log()
    for topic, payload, reason in REFUSED:
        reply_topic = f"{ROOT}/{topic}"[:-len("command")] + "reply"
        reply = replies[reply_topic].pop(0)
        assert (reply["accepted"], reply["reason"]) == (False, reason), (topic, payload)
        assert f"refused {ROOT}/{topic} '{payload}': {reason}\n" in log
    # Nothing refused moved an axis or set anything.
    status = rig.rvxctl("--sim", "status", "0", "1").stdout
    assert "         0          0        0" in status, status


def test_broker_restarted_mid_move(rig):
    rig.start_bridge()
    move = subprocess.Popen([RVXCTL, "--sim", "move", "0", "3", "40000"], env=rig.env,
                            stdout=subprocess.PIPE, text=True)
    time.sleep(1.0)
    rig.broker.kill()
    time.sleep(1.0)
    # Other programs' calls go on while the broker is away.
    start = time.monotonic()
    moving = rig.rvxctl("--sim", "status", "0", "3").stdout
    assert "BUSY" in moving and time.monotonic() - start < 5, moving
    rig.broker.start()
    out, _ = move.communicate(timeout=30)
    assert move.returncode == 0 and "ERR_SUCCESS" in out, out
    wait_for(lambda: rig.log().count("connected to") == 2, 20, "the bridge to reconnect")
    assert "lost the broker; reconnecting" in rig.log()
    # The new broker knew nothing; the bridge has told it all again.
    presence = rig.retained(ROOT + "/presence")
    assert presence["online"] is True and presence["boards"][0]["axes"] == 4
    wait_for(lambda: rig.retained(AXIS.format(3) + "/state")["actual"] == 40000, 5,
             "the state after the move")
    state = rig.retained(AXIS.format(3) + "/state")
    assert (state["command"], state["flags"], state["speed"]) == (40000, [], 0)
    assert rig.retained(AXIS.format(0) + "/state")["actual"] == 0


def test_presence_when_the_bridge_ends(rig):
    # Killed: the broker's last will; stopped: its own last word.
    for sig, reason, status in ((signal.SIGKILL, "connection lost", -9),
                                (signal.SIGTERM, "stopped", 0)):
        rig.start_bridge()
        assert rig.retained(ROOT + "/presence")["online"] is True
        assert rig.stop_bridge(sig) == status
        wait_for(lambda: rig.retained(ROOT + "/presence")["online"] is False, 5,
                 "presence offline")
        assert rig.retained(ROOT + "/presence") == {"online": False, "machine": "cell7",
                                                     "reason": reason}


def malformed(rng):
    """A payload no command may be read from."""
    valid = ['{"command":"move","distance":100}', '{"command":"jog","direction":"-"}',
             '{"command":"servo","on":true}', '{"command":"stop"}',
             '{"command":"compare","start":1,"interval":1,"count":2}']
    base = rng.choice(valid)
    kind = rng.randrange(8)
    if kind == 0:  # cut short
        return base[:rng.randrange(len(base) - 1)]
    if kind == 1:  # bytes
        return bytes([rng.choice(b"[]\"'0123456789abcxyz:,.-+ \t\xff\x80")
                      for _ in range(rng.randrange(1, 80))]).decode("latin-1")
    if kind == 2:  # a field too many
        return base[:-1] + ',"x%d":1}' % rng.randrange(100)
    if kind == 3:  # a field twice
        return base[:-1] + "," + base[1:]
    if kind == 4:  # a value of the wrong type
        return rng.choice(['{"command":"move","distance":%s}', '{"command":"servo","on":%s}',
                           '{"command":"jog","direction":%s}']) % rng.choice(
            ['"1"', "1.5", "1e3", "null", "[1]", '{"v":1}', "99999999999999999999", '"up"'])
    if kind == 5:  # not an object
        return rng.choice(["[" + base + "]", '"move"', "42", "null", "true", "{}"])
    if kind == 6:  # the command misnamed
        return base.replace('"command"', rng.choice(['"Command"', '"cmd"', '"command "']))
    return base.replace(base.split('"')[3], base.split('"')[3].upper())


def test_malformed_payloads_change_nothing(rig):
    rig.start_bridge(allow="stop,servo,output,move,jog,home,compare")
    sub = rig.subscribe(ROOT + "/board/0/axis/+/state", ROOT + "/board/0/state")
    wait_for(lambda: sub.count() == 5, 5, "the retained states")
    before = rig.rvxctl("--sim", "status").stdout
    rng = random.Random(29)
    payloads = [malformed(rng).encode("latin-1").replace(b"\n", b" ") for _ in range(1000)]
    replies = rig.subscribe(ROOT + "/board/0/reply", ROOT + "/board/0/axis/+/reply")
    for i, topic in enumerate(["board/0/command"] + [f"board/0/axis/{a}/command"
                                                     for a in range(4)]):
        rig.publish_lines(f"{ROOT}/{topic}", payloads[i * 200:(i + 1) * 200])
    wait_for(lambda: replies.count() == 1000, 30, "a refusal for each of 1000 payloads")
    assert rig.bridge.poll() is None
    assert all(json.loads(p)["accepted"] is False for _, _, p in replies.messages)
    assert rig.log().count("rvxctl bridge: refused ") == 1000
    time.sleep(0.3)
    assert rig.rvxctl("--sim", "status").stdout == before
    assert "0x0000" in rig.rvxctl("--sim", "io", "0").stdout.splitlines()[2]
    assert sub.count() == 5, sub.messages[5:8]  # no state changed
    # Still listening, still acting on a command it can read.
    rig.publish(AXIS.format(0) + "/command", '{"command":"move","distance":10,"id":"ok"}')
    wait_for(lambda: replies.count() == 1001, 5, "the reply to a good command")
    assert json.loads(replies.messages[-1][2])["result"]["name"] == "ERR_SUCCESS"
    wait_for(lambda: rig.retained(AXIS.format(0) + "/state")["actual"] == 10, 5, "the move")


def schema_of(topic):
    """The definition of docs/mqtt.schema.json a topic's payloads follow."""
    kinds = [("/presence", "presence"), ("/state", "axis_state"), ("/event", "event"),
             ("/reply", "reply"), ("/command", "axis_command")]
    name = next(k for suffix, k in kinds if topic.endswith(suffix))
    board_level = topic.split("/")[-3] == "board" if "/board/" in topic else False
    if board_level:
        name = {"axis_state": "board_state", "axis_command": "board_command"}.get(name, name)
    return {"$ref": "#/$defs/" + name}


def schema_errors(topic, payload):
    jsonschema = pytest.importorskip("jsonschema")
    with open(os.path.join(os.path.dirname(__file__), "../../docs/mqtt.schema.json")) as f:
        schema = dict(json.load(f), **schema_of(topic))
    return [e.message for e in jsonschema.Draft202012Validator(schema).iter_errors(payload)]


def test_the_schema_refuses_what_the_bridge_refuses_for_its_form():
    for topic, payload, reason in REFUSED:
        try:
            message = json.loads(payload)
        except ValueError:
            continue
        if any(word in reason for word in ("twice", "not allowed", "exist", "'channel'")):
            continue  # the board's or the bridge's to judge, not the payload's form
        assert schema_errors(f"{ROOT}/{topic}", message), (topic, payload)
