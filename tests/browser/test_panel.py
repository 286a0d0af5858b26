"""The panel in headless Chromium: each action changes what the library
reports (seen by a second rvxctl on the same boards) and what the page shows."""
import os
import re
import signal
import time

import pytest
from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By

from conftest import SHOTS, ctl, new_browser, status_row, wait_for

def cell(b, board, axis, field):
    return b.find_element(By.CSS_SELECTOR, '#axis-%d-%d [data-field="%s"]' % (board, axis, field)).text


def lamp(b, board, axis, flag):
    e = b.find_element(By.CSS_SELECTOR, '#axis-%d-%d [data-flag="%s"]' % (board, axis, flag))
    return "on" in e.get_attribute("class").split()


def select(b, board, axis):
    b.find_element(By.ID, "axis-%d-%d" % (board, axis)).click()
    assert wait_for(lambda: b.find_element(By.ID, "axis-title").text == "Board %d axis %d" % (board, axis))


def click(b, element_id):
    b.find_element(By.ID, element_id).click()


def message(b):
    return b.find_element(By.ID, "message").text


def fill(b, field_id, text):
    field = b.find_element(By.ID, field_id)
    field.clear()
    field.send_keys(text)



def on(b, element_id):
    return "on" in b.find_element(By.ID, element_id).get_attribute("class").split()


def test_overview_shows_every_board_axis_and_channel(panel, page, env):
    _, out = ctl(env, "load")
    counts = re.search(r"boards: (\d+), axes: (\d+), DI: (\d+), DO: (\d+)", out)
    boards, axes, di, do = (int(n) for n in counts.groups())
    assert boards == 2
    assert len(page.find_elements(By.CSS_SELECTOR, ".board")) == boards
    assert len(page.find_elements(By.CSS_SELECTOR, ".axes tr[id]")) == axes
    assert len(page.find_elements(By.CSS_SELECTOR, "[id^=di-]")) == di
    assert len(page.find_elements(By.CSS_SELECTOR, "[id^=do-]")) == do
    assert len(page.find_elements(By.CSS_SELECTOR, ".stop-all")) == boards
    # A change made by another program reaches the page through the live feed.
    ctl(env, "position", "1", "2", "12345")
    start = time.monotonic()
    assert wait_for(lambda: cell(page, 1, 2, "command") == "12345", 2)
    assert time.monotonic() - start < 1.0
    assert cell(page, 1, 2, "actual") == "12345"


def saved_axis0(workdir):
    path = os.path.join(workdir, "Parameter", "RVXPRM1.DAT")
    if not os.path.exists(path):
        return ""
    with open(path) as f:
        return f.read().split("[0-AXIS]")[1].split("[1-AXIS]")[0]


# Steps of one action: the button clicked (or the speed set) on the page, then
# what a second rvxctl on the same boards (or the parameter file) holds, then
# what the page shows (given that text).
ACTIONS = {
    "servo": (1, 0, [
        ("servo-on", ("servo", "1", "0"), ["servo on"], lambda b, _: lamp(b, 1, 0, "SERVO_ON")),
        ("servo-off", ("servo", "1", "0"), ["servo off"], lambda b, _: not lamp(b, 1, 0, "SERVO_ON")),
    ]),
    "home": (0, 3, [
        ("home", ("status", "0", "3"), ["HOME_OK", "ERR_SUCCESS (0)"],
         lambda b, _: lamp(b, 0, 3, "HOME_OK") and not lamp(b, 0, 3, "BUSY")),
    ]),
    "output": (1, 0, [
        ("do-1-3", ("io", "1"), ["DO word 0 (channels  0-15): 0x0008"], lambda b, _: on(b, "do-1-3")),
        ("do-1-3", ("io", "1"), ["DO word 0 (channels  0-15): 0x0000"], lambda b, _: not on(b, "do-1-3")),
    ]),
    # A refusal is shown in the words rvxctl prints for it.
    "refused call": (1, 1, [
        (("pos", "100,99999999,100,100"), ("speed", "1", "1", "pos", "100,99999999,100,100"),
         ["rvxctl: SetPosSpeed: ERR_"],
         lambda b, out: message(b) == "refused " + out.split("rvxctl: ", 1)[1].strip()
         and "refused" in b.find_element(By.ID, "message").get_attribute("class")),
    ]),
    # A speed set through the page is what the parameter file keeps.
    "parameter save": (1, 0, [
        (("jog", "700,7700,77"), ("speed", "1", "0"), ["jog    start 700 PPS, drive 7700 PPS, acc 77 ms"],
         lambda b, _: message(b) == "SetJogSpeed: ERR_SUCCESS (0)"),
        ("param-save-1", saved_axis0, ["JOG_START[PPS]=700", "JOG_DRIVE[PPS]=7700", "JOG_ACC[ms]=77"],
         lambda b, _: message(b).startswith("board 1: settings saved to ")
         and message(b).endswith(os.path.join("Parameter", "RVXPRM1.DAT"))),
    ]),
}


@pytest.mark.parametrize("name", list(ACTIONS))
def test_action_reaches_the_library_and_the_page(name, page, env, workdir):
    board, axis, steps = ACTIONS[name]
    select(page, board, axis)
    for n, (do, probe, texts, shown) in enumerate(steps):
        if isinstance(do, tuple):
            fill(page, "speed-" + do[0], do[1])
            page.find_element(By.CSS_SELECTOR, '.speed-set[data-kind="%s"]' % do[0]).click()
        else:
            click(page, do)

        def text():
            return probe(workdir) if callable(probe) else ctl(env, *probe, check=False)[1]

        assert wait_for(lambda: all(t in text() for t in texts), 30, 0.1), "%s step %d: %s" % (name, n, text())
        assert wait_for(lambda: shown(page, text()), 5), "%s step %d: %s" % (name, n, message(page))


def test_jog_runs_while_held_and_stops_when_released(panel, page, env):
    select(page, 0, 1)
    button = page.find_element(By.ID, "jog-plus")
    ActionChains(page).click_and_hold(button).perform()
    try:
        assert wait_for(lambda: lamp(page, 0, 1, "BUSY"), 2)
        # Held past several heartbeats, it keeps running on the renewals.
        time.sleep(1.0)
        row = status_row(env, 0, 1)
        assert "BUSY" in row["flags"] and row["speed"] > 0
    finally:
        ActionChains(page).release(button).perform()
    assert wait_for(lambda: "BUSY" not in status_row(env, 0, 1)["flags"], 3)
    assert wait_for(lambda: not lamp(page, 0, 1, "BUSY"))
    row = status_row(env, 0, 1)
    assert row["command"] > 0
    assert wait_for(lambda: cell(page, 0, 1, "command") == str(row["command"]))
    # Released by the page, not stopped for want of renewals.
    assert "jog not renewed" not in panel.stderr()


def test_move_is_shown_live_and_plotted(panel, page, env, workdir):
    select(page, 0, 2)
    before = status_row(env, 0, 2)["command"]
    fill(page, "move-value", "20000")
    click(page, "move-rel")
    assert wait_for(lambda: lamp(page, 0, 2, "BUSY"), 2)
    # The plot follows the move while it runs.
    assert wait_for(lambda: page.find_element(By.ID, "plot").is_displayed(), 2)
    mid = int(cell(page, 0, 2, "command"))
    assert before < mid < before + 20000
    time.sleep(0.9)
    page.save_screenshot(os.path.join(SHOTS or workdir, "panel.png"))
    assert wait_for(lambda: "BUSY" not in status_row(env, 0, 2)["flags"], 10)
    assert status_row(env, 0, 2)["command"] == before + 20000
    assert wait_for(lambda: cell(page, 0, 2, "command") == str(before + 20000))
    assert "Inc_Move: ERR_SUCCESS (0)" in message(page)
    # The plot's samples are the move's: from the start to the end position.
    status, scope = panel.request("/api/scope?board=0&axis=2")
    samples = scope["samples"]
    assert status == 200 and len(samples) > 10
    assert samples[0][1] <= mid and samples[-1][1] == before + 20000
    assert max(s[3] for s in samples) > 0 and samples[-1][3] == 0


def chrome_processes(driver):
    """The browser's processes: chromedriver's descendants."""
    children = {}
    for pid in os.listdir("/proc"):
        if pid.isdigit():
            try:
                with open("/proc/%s/stat" % pid) as f:
                    ppid = int(f.read().rsplit(")", 1)[1].split()[1])
            except OSError:
                continue
            children.setdefault(ppid, []).append(int(pid))
    found, todo = [], [driver.service.process.pid]
    while todo:
        for c in children.get(todo.pop(), []):
            found.append(c)
            todo.append(c)
    return found


def test_jog_stops_when_the_browser_is_killed_mid_jog(panel, env, browsers):
    b = browsers()
    b.get(panel.url)
    wait_for(lambda: b.find_elements(By.ID, "axis-1-2"))
    select(b, 1, 2)
    before = status_row(env, 1, 2)["command"]
    ActionChains(b).click_and_hold(b.find_element(By.ID, "jog-minus")).perform()
    assert wait_for(lambda: "BUSY" in status_row(env, 1, 2)["flags"], 2)
    time.sleep(0.5)
    assert "BUSY" in status_row(env, 1, 2)["flags"]
    # Pull the plug: the browser ends without a word to the server.
    processes = chrome_processes(b)
    assert processes
    for pid in processes:
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass
    killed = time.monotonic()
    line = "board 1 axis 2: jog not renewed for 300 ms, decelerating stop: ERR_SUCCESS (0)"
    assert wait_for(lambda: line in panel.stderr(), 2)
    noticed = time.monotonic() - killed
    assert noticed < 1.0
    assert wait_for(lambda: "BUSY" not in status_row(env, 1, 2)["flags"], 3)
    assert status_row(env, 1, 2)["command"] < before


def test_two_pages_stay_in_step(panel, env, browsers):
    a, b = browsers(), browsers()
    for p in (a, b):
        p.get(panel.url)
        wait_for(lambda p=p: p.find_elements(By.ID, "do-0-7"))
    a.find_element(By.ID, "do-0-7").click()
    assert wait_for(lambda: "on" in b.find_element(By.ID, "do-0-7").get_attribute("class").split(), 2)
    select(b, 1, 3)
    fill(b, "move-value", "-3000")
    click(b, "move-rel")
    assert wait_for(lambda: lamp(a, 1, 3, "BUSY"), 2)
    assert wait_for(lambda: "BUSY" not in status_row(env, 1, 3)["flags"], 5)
    end = str(status_row(env, 1, 3)["command"])
    assert wait_for(lambda: cell(a, 1, 3, "command") == end and cell(b, 1, 3, "command") == end)
    a.find_element(By.ID, "do-0-7").click()
    assert wait_for(lambda: "on" not in b.find_element(By.ID, "do-0-7").get_attribute("class").split(), 2)
