"""The panel in headless Chromium: each action changes what the library
reports (seen by a second rvxctl on the same boards) and what the page shows."""
import os
import re
import signal
import time

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By

from conftest import SHOTS, ctl, new_browser, status_row, wait_for

BUSY, HOME_OK, SERVO_ON = 1 << 8, 1 << 11, 1 << 14


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


def test_servo_switches_the_output_the_library_reports(panel, page, env):
    select(page, 1, 0)
    click(page, "servo-on")
    assert wait_for(lambda: lamp(page, 1, 0, "SERVO_ON"))
    assert "servo on" in ctl(env, "servo", "1", "0")[1]
    assert panel.axis(1, 0)["status"] & SERVO_ON
    click(page, "servo-off")
    assert wait_for(lambda: not lamp(page, 1, 0, "SERVO_ON"))
    assert "servo off" in ctl(env, "servo", "1", "0")[1]


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
    field = page.find_element(By.ID, "move-value")
    field.clear()
    field.send_keys("20000")
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


def test_home_search_ends_homed(panel, page, env):
    select(page, 0, 3)
    click(page, "home")
    assert wait_for(lambda: lamp(page, 0, 3, "BUSY"), 2)
    assert wait_for(lambda: "BUSY" not in status_row(env, 0, 3)["flags"], 30, 0.2)
    row = status_row(env, 0, 3)
    assert "HOME_OK" in row["flags"] and row["cause"] == "ERR_SUCCESS (0)"
    assert wait_for(lambda: lamp(page, 0, 3, "HOME_OK"))
    assert cell(page, 0, 3, "command") == str(row["command"])


def test_output_click_switches_the_channel(panel, page, env):
    button = page.find_element(By.ID, "do-1-3")
    button.click()
    assert wait_for(lambda: "on" in button.get_attribute("class").split())
    assert "DO word 0 (channels  0-15): 0x0008" in ctl(env, "io", "1")[1]
    button.click()
    assert wait_for(lambda: "on" not in button.get_attribute("class").split())
    assert "DO word 0 (channels  0-15): 0x0000" in ctl(env, "io", "1")[1]


def test_refused_call_shows_the_code_and_the_tools_text(panel, page, env):
    select(page, 1, 1)
    before = ctl(env, "speed", "1", "1")[1]
    field = page.find_element(By.ID, "speed-pos")
    field.clear()
    field.send_keys("100,99999999,100,100")
    page.find_element(By.CSS_SELECTOR, '.speed-set[data-kind="pos"]').click()
    assert wait_for(lambda: "refused" in message(page))
    # The same words rvxctl prints for the same refusal.
    status, out = ctl(env, "speed", "1", "1", "pos", "100,99999999,100,100", check=False)
    assert status == 1
    said = re.search(r"rvxctl: (SetPosSpeed: ERR_\w+ \(-\d+\): .+)", out).group(1)
    assert message(page) == "refused " + said
    assert "refused" in page.find_element(By.ID, "message").get_attribute("class")
    assert ctl(env, "speed", "1", "1")[1] == before


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
    assert wait_for(lambda: "jog not renewed" in panel.stderr(), 2)
    noticed = time.monotonic() - killed
    assert noticed < 1.0
    assert "board 1 axis 2: jog not renewed for 300 ms, decelerating stop: ERR_SUCCESS (0)" in panel.stderr()
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
    field = b.find_element(By.ID, "move-value")
    field.clear()
    field.send_keys("-3000")
    click(b, "move-rel")
    assert wait_for(lambda: lamp(a, 1, 3, "BUSY"), 2)
    assert wait_for(lambda: "BUSY" not in status_row(env, 1, 3)["flags"], 5)
    end = str(status_row(env, 1, 3)["command"])
    assert wait_for(lambda: cell(a, 1, 3, "command") == end and cell(b, 1, 3, "command") == end)
    a.find_element(By.ID, "do-0-7").click()
    assert wait_for(lambda: "on" not in b.find_element(By.ID, "do-0-7").get_attribute("class").split(), 2)


def test_settings_are_saved_to_the_parameter_file(panel, page, env, workdir):
    path = os.path.join(workdir, "Parameter", "RVXPRM1.DAT")
    assert not os.path.exists(path)
    # A speed set through the page is what the file keeps.
    select(page, 1, 0)
    field = page.find_element(By.ID, "speed-jog")
    field.clear()
    field.send_keys("700,7700,77")
    page.find_element(By.CSS_SELECTOR, '.speed-set[data-kind="jog"]').click()
    assert wait_for(lambda: "SetJogSpeed: ERR_SUCCESS (0)" in message(page))
    assert "jog    start 700 PPS, drive 7700 PPS, acc 77 ms" in ctl(env, "speed", "1", "0")[1]
    click(page, "param-save-1")
    assert wait_for(lambda: message(page) == "board 1: settings saved to " + path)
    with open(path) as f:
        axis0 = f.read().split("[0-AXIS]")[1].split("[1-AXIS]")[0].split()
    for line in ("JOG_START[PPS]=700", "JOG_DRIVE[PPS]=7700", "JOG_ACC[ms]=77"):
        assert line in axis0
