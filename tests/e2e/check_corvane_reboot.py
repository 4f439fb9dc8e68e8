"""Reboot of two ticked devices under Wine: the confirmation, both simulated
devices reached (their logs), and the list refreshed in its old order."""
from e2e import Session
from corvane import *  # noqa: F401,F403 (ids and steps)

with Session("corvane_reboot") as s:
    ui, main, sim = start(s)
    set_periods(s, ui, main, reboot=10)
    check_rows(s, ui, main, search(s, ui, main), THREE_ROWS)
    searches = sim.count("code 0")

    tick_by_click(ui, main, 0)  # dev-a
    tick_by_click(ui, main, 3)  # dev-c
    ui.press(main, REBOOT)
    box = ui.message_box("Reboot")
    s.equal((box["text"], box["icon"]), ("Do you really want to REBOOT device(s) ?", "information"),
            "reboot confirmation")
    ui.answer(box, "Yes")
    ui.until("Rebooting status", lambda: status(ui, main).endswith(" Rebooting ..."))
    for name in ("dev-a", "dev-c"):
        sim.wait_log(f"{name}: answered code 12", timeout=15)
    s.equal(sim.count("dev-b: answered code 12"), 0, "reboots of the unticked device")

    # Reboot wait, then the refresh search rewrites the rows in place.
    wait_idle(ui, main, timeout=40)
    s.expect(sim.count("code 0") > searches, "a search after the reboot")
    check_rows(s, ui, main, ui.rows(main, LIST), THREE_ROWS)
    s.step("passed")
