"""Who may use the panel: the token, --read-only, and requests from other
origins, each refused before anything reaches the boards."""
import re
import time

import pytest
from selenium.webdriver.common.by import By

from conftest import ctl, status_row, wait_for

MOVE = {"board": 1, "axis": 3, "value": 1000}


def port_of(panel):
    return int(panel.url.rsplit(":", 1)[1].strip("/"))


# One row for each header the server hands to the access rules, whose every
# case the rules' own tests go through.
@pytest.mark.parametrize("headers, status, why", [
    ({"Origin": "http://evil.example"}, 403, "cross-origin request from 'http://evil.example'"),
    ({"Host": "evil.example"}, 403, "Host 'evil.example' is not this server's"),
    ({"Sec-Fetch-Site": "cross-site"}, 403, "cross-origin request (cross-site)"),
    ({"Content-Type": "text/plain"}, 415, "an action is sent as application/json"),
])
def test_requests_from_elsewhere_are_refused(panel, env, headers, status, why):
    before = status_row(env, 1, 3)["command"]
    got, reply = panel.request("/api/move", MOVE, headers)
    assert (got, reply) == (status, {"error": why})
    time.sleep(0.2)
    assert status_row(env, 1, 3)["command"] == before
    # The same request from the panel's own origin is carried out.
    got, reply = panel.request("/api/move", MOVE, {"Origin": "http://127.0.0.1:%d" % port_of(panel)})
    assert got == 200 and reply["call"] == "Inc_Move", reply
    assert wait_for(lambda: status_row(env, 1, 3)["command"] == before + 1000, 3)


def test_token_is_asked_of_every_request(start_panel, env, browsers):
    p = start_panel("--token", "s3cret-tok3n")
    assert p.token == "s3cret-tok3n"
    refusal = (401, {"error": "no valid token: open the address rvxctl serve printed, with its ?token="})
    for headers in ({}, {"Authorization": "Bearer wrong-token"}, {"Cookie": "rvx_token=s3cret"},
                    {"Authorization": "s3cret-tok3n"}):
        assert p.request("/api/state", headers=headers) == refusal
        assert p.request("/api/servo", {"board": 0, "axis": 0, "on": 1}, headers) == refusal
    assert "servo off" in ctl(env, "servo", "0", "0")[1]
    assert p.request("/api/state", headers={"Authorization": "Bearer s3cret-tok3n"})[0] == 200
    assert p.request("/api/state?token=s3cret-tok3n")[0] == 200
    # A page opened without the token gets nothing; with it, it works on (cookie).
    b = browsers()
    b.get(p.url)
    assert "no valid token" in b.page_source
    b.get(p.url + "?token=s3cret-tok3n")
    assert wait_for(lambda: b.find_elements(By.ID, "do-0-9"), 3)
    b.find_element(By.ID, "do-0-9").click()
    assert wait_for(lambda: "on" in b.find_element(By.ID, "do-0-9").get_attribute("class").split())
    assert "0x0200" in ctl(env, "io", "0")[1]
    b.find_element(By.ID, "do-0-9").click()
    assert wait_for(lambda: "0x0000" in ctl(env, "io", "0")[1])


def test_other_addresses_get_a_token_made_for_them(start_panel):
    p = start_panel("--bind", "0.0.0.0")
    assert p.token and re.fullmatch(r"[0-9a-f]{32}", p.token)
    assert "0.0.0.0 reaches other machines, so every request must carry a token; this run's is " \
        + p.token in p.stderr()
    assert p.request("/api/state")[0] == 401
    assert p.request("/api/state", headers=p.auth())[0] == 200


def test_read_only_refuses_every_action(start_panel, env, browsers):
    p = start_panel("--read-only")
    before = status_row(env, 1, 3)
    for action, body in [("move", MOVE), ("jog", {"board": 1, "axis": 3, "direction": 1}),
                         ("servo", {"board": 1, "axis": 3, "on": 1}),
                         ("output", {"board": 1, "channel": 0, "value": 1}),
                         ("speed", {"board": 1, "axis": 3, "kind": "shape", "shape": 1}),
                         ("param-save", {"board": 1}), ("stop-all", {"board": 1}),
                         ("home", {"board": 1, "axis": 3})]:
        assert p.request("/api/" + action, body) == (
            403, {"error": "read-only: rvxctl serve --read-only takes no actions"}), action
    time.sleep(0.2)
    assert status_row(env, 1, 3) == before
    assert "0x0000" in ctl(env, "io", "1")[1]
    # The overview is there; its buttons are not.
    assert p.request("/api/state")[1]["read_only"] is True
    b = browsers()
    b.get(p.url)
    assert wait_for(lambda: b.find_element(By.ID, "mode").text == "read-only", 3)
    assert b.find_element(By.ID, "move-rel").get_attribute("disabled")
    assert b.find_element(By.ID, "stop-all-0").get_attribute("disabled")
    assert b.find_element(By.ID, "axis-1-3").find_element(
        By.CSS_SELECTOR, '[data-field="command"]').text == str(before["command"])
