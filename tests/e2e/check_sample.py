"""The toolkit sample under Wine, driven through uidrive: every kind of step
the program checks use (controls, texts, combo, list rows, ticks, cell colours,
message box, screenshot) against a dialog whose contents are known."""
from e2e import Session

LIST, NAME, COMBO, PERIOD, ADDRESS, CHECK = 1005, 1004, 1006, 1009, 1008, 1001

with Session("sample") as s:
    s.network([])
    s.start_program(s.win32 / "tests/toolkit/sample/tk_sample.exe")
    ui = s.ui()
    w = ui.wait("Toolkit Sample")

    by_id = {c["id"]: c for c in ui.controls(w)}
    s.equal(by_id[1000]["text"], "Search", "button text")
    s.equal((by_id[CHECK]["class"], by_id[CHECK]["checked"]), ("Button", True), "check box")
    s.equal(ui.text(w, ADDRESS), "192.168.5.1", "IP control")

    s.equal([c["text"] for c in ui.columns(w, LIST)], ["No", "Device Name", "IP Address", "Status"], "columns")
    rows = ui.rows(w, LIST)
    s.equal([r["texts"] for r in rows][1], ["2", "QN-Lab-2", "192.168.5.21", "Idle"], "second row")
    s.equal([r["checked"] for r in rows], [True, False, True, False], "ticks")
    ui.tick(w, LIST, 1)
    s.equal(ui.rows(w, LIST)[1]["checked"], True, "ticked row")

    # Posted mouse input reaches the list as a user's click would.
    ui.click_cell(w, LIST, 3, 1)
    ui.until("row 4 selected by a click", lambda: ui.rows(w, LIST)[3]["selected"])
    ui.press(w, 1003)
    s.equal([ui.control(w, i)["checked"] for i in (1002, 1003)], [False, True], "radio buttons")

    # Custom-drawn colours as the screen shows them.
    s.equal(ui.cell(w, LIST, 0, 3)["background"], "008000", "connected cell")
    s.equal(ui.cell(w, LIST, 1, 1)["background"], "EBF5FF", "odd row")

    s.equal(ui.set_text(w, NAME, "Line 7"), "Line 7", "edit text")
    s.equal(ui.set_text(w, ADDRESS, "10.1.2.3"), "10.1.2.3", "IP text")
    s.equal(ui.choose(w, COMBO, "19200"), 1, "combo entry")
    s.equal(ui.text(w, COMBO), "19200", "combo text")

    # Out of range: OK brings the toolkit's range message, the dialog stays.
    ui.set_text(w, PERIOD, "5")
    ui.press(w, 1)
    box = ui.message_box()
    s.expect("10" in box["text"] and "1000" in box["text"], f"range message: {box['text']!r}")
    s.equal((box["icon"], [(b["text"], b["default"]) for b in box["buttons"]]), ("warning", [("OK", True)]),
            "message box icon and buttons")
    ui.answer(box, "OK")
    ui.gone(box["hwnd"])

    shot = s.screenshot(ui, w, "sample")
    s.expect(shot.stat().st_size > 100000, "screenshot written")
    ui.close(w)
    ui.gone(w)
    s.step("passed")
