"""Restore of one device under Wine with its acknowledgement and the refresh
that follows, then a device that does not answer the state query."""
from e2e import Session
from corvane import *  # noqa: F401,F403 (ids and steps)

with Session("corvane_restore") as s:
    ui, main, sim = start(s)
    set_periods(s, ui, main, reboot=10)
    check_rows(s, ui, main, search(s, ui, main), THREE_ROWS)

    s.step("restore with acknowledgement")
    tick_by_click(ui, main, 0)  # dev-a
    ui.press(main, RESTORE)
    box = ui.message_box("Reset")
    s.equal(box["text"], "This operation will return the device's default setting and reboot.\r\n"
                         "Do you want to proceed ?", "restore confirmation")
    ui.answer(box, "Yes")
    ui.until("Resetting status", lambda: status(ui, main) == " NO 1 Resetting ...")
    sim.wait_log("dev-a: answered code 9", timeout=15)
    s.equal(sim.count(": factory settings restored"), 1, "devices restored")
    wait_idle(ui, main, timeout=40)
    check_rows(s, ui, main, ui.rows(main, LIST), THREE_ROWS)

    s.step("device that does not answer")
    sim.process.terminate()
    sim.process.wait(5)
    tick_by_click(ui, main, 3)  # dev-c, now silent
    ui.press(main, RESTORE)
    ui.answer(ui.message_box("Reset"), "Yes")
    box = ui.message_box("Warning !!", 20000)
    s.equal(box["text"], "Device NO.4 is disconnected.", "no-answer message")
    ui.answer(box, "OK")
    wait_idle(ui, main)
    s.equal(ui.rows(main, LIST)[3]["texts"][8], "Disconnected", "status of the silent device")
    s.step("passed")
