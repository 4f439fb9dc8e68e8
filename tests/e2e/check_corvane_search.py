"""corvane under Wine against three simulated devices (one two-port): start-up
state, broadcast, multicast and IP search with exact rows and colours, the
subnet warning's No sending nothing, and a search that finds no device."""
import time

from e2e import Session
from corvane import *  # noqa: F401,F403 (ids and steps)

FAR = "203.0.113.5"  # outside the PC's segment

with Session("corvane_search") as s:
    ui, main, sim = start(s, THREE, ADDRESSES + [FAR])

    s.step("start-up state")
    s.equal([w["title"] for w in ui.windows()], [TITLE], "windows at start-up (no adapter message)")
    by_id = {c["id"]: c for c in ui.controls(main)}
    state = {i: (by_id[i]["visible"], by_id[i]["enabled"]) for i in
             (SEARCH, IP_SEARCH, DEVICE_SETUP, RESTORE, REBOOT, SETTING, UPGRADE, WEB_BROWSER, CLOCK, ELAPSED)}
    s.equal(state, {SEARCH: (True, True), IP_SEARCH: (True, True), DEVICE_SETUP: (True, False),
                    RESTORE: (True, False), REBOOT: (True, False), SETTING: (True, True),
                    UPGRADE: (False, True), WEB_BROWSER: (False, False), CLOCK: (False, True),
                    ELAPSED: (False, True)}, "buttons and hidden fields (visible, enabled)")
    s.equal(by_id[SEARCH]["text"], "Search", "Search button")
    s.equal(status(ui, main), " Idle", "status text")
    s.equal([(c["text"], c["width"]) for c in ui.columns(main, LIST)], COLUMNS, "list columns")
    s.equal(ui.rows(main, LIST), [], "rows before a search")
    ui.until("the clock runs", lambda: ui.text(main, CLOCK).startswith((" AM ", " PM ")))

    ui.press(main, IP_SEARCH)  # the host address shows as the IP search default
    dlg = ui.wait("IP Searching")
    s.equal(ui.text(dlg, IP_ADDRESS), "198.51.100.1", "IP search default from the host address")
    ui.press(dlg, 2)
    ui.gone(dlg)

    set_periods(s, ui, main)

    s.step("broadcast search")
    check_rows(s, ui, main, search(s, ui, main, METHOD_BROADCAST), THREE_ROWS)
    s.equal([ui.control(main, i)["enabled"] for i in (DEVICE_SETUP, RESTORE, REBOOT)], [True] * 3,
            "commands enabled once devices are listed")

    s.step("multicast search")
    check_rows(s, ui, main, search(s, ui, main, METHOD_MULTICAST), THREE_ROWS)
    s.expect(sim.count("by multicast") >= 3, "the devices heard the multicast search")

    s.step("IP search of one address")
    ip_search(s, ui, main, "198.51.100.12")
    wait_idle(ui, main)
    s.equal(texts(ui.rows(main, LIST)), [["1"] + THREE_ROWS[3][1:]], "the one device's row")

    s.step("subnet warning, No")
    far = s.listen(FAR, 25124)
    ip_search(s, ui, main, FAR)
    box = ui.message_box("Warning")
    s.equal(box["text"], "The device's  ip network segment isn't same as host, Please confirm that the "
                         "device can access through Router&Gateway.", "subnet warning")
    s.equal((box["icon"], [(b["text"].replace("&", ""), b["default"]) for b in box["buttons"]]),
            ("information", [("Yes", False), ("No", True)]), "warning's icon and buttons")
    ui.answer(box, "No")
    ui.gone(box["hwnd"])
    time.sleep(1)  # a request would have arrived by now
    s.equal(far(), 0, "datagrams sent to the address outside the segment")

    s.step("search with no device")
    sim.process.terminate()
    sim.process.wait(5)
    ui.press(main, SEARCH)
    dlg = ui.wait("Searching")
    ui.press(dlg, 1)
    box = ui.message_box("Searching Result", 20000)
    s.equal((box["text"], box["icon"]), ("No device has found.", "information"), "no-device message")
    ui.answer(box, "OK")
    wait_idle(ui, main)
    s.equal(ui.rows(main, LIST), [], "rows after a search without devices")
    s.equal([ui.control(main, i)["enabled"] for i in (SEARCH, IP_SEARCH, SETTING)], [True] * 3,
            "search commands enabled again")
    s.step("passed")
