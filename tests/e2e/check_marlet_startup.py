"""marlet.exe under Wine with no virtual port and no installation file: the
window and its columns, the buttons' start state, Add failing at the file with
the platform's code, and a second copy closing itself."""
from e2e import Session

LIST, ADD, REMOVE, STATUS, CONNECT, CLOSE, SETTING = 1000, 1001, 1002, 1008, 1009, 1010, 1018
TITLE = "Marlet 1.3"

with Session("marlet_startup") as s:
    s.network([])
    # The artifacts folder is the program's working directory: no QN520xx.inf there.
    s.start_program(s.win32 / "marlet/marlet.exe")
    ui = s.ui()
    main = ui.wait(TITLE)

    s.equal([c["text"] for c in ui.columns(main, LIST)],
            ["Port ID", " Port Name", " Status", " Remote IP", " Remote Port"], "columns")
    s.equal(ui.rows(main, LIST), [], "no virtual port listed")
    s.equal({i: ui.control(main, i)["enabled"] for i in (ADD, REMOVE, CONNECT, CLOSE, SETTING)},
            {ADD: True, REMOVE: False, CONNECT: False, CLOSE: False, SETTING: False}, "buttons at start")

    ui.press(main, ADD)
    box = ui.message_box("Marlet")
    prefix = "SetupOpenInfFile error, "
    text = box["text"].rstrip("\r\n")
    s.expect(text.startswith(prefix), f"installation file message: {box['text']!r}")
    code = text[len(prefix):]
    s.expect(code.lstrip("-").isdigit() and int(code) != 0, f"the platform's error code: {code!r}")
    s.step(f"SetupOpenInfFile failed with {code}")
    ui.answer(box, "OK")
    ui.until("the failure status", lambda: ui.text(main, STATUS) == "Added a virtual serial port failed")
    s.equal(ui.control(main, ADD)["enabled"], True, "Add enabled again")

    # A second copy finds the first one's title and closes itself.
    second = s.start_program(s.win32 / "marlet/marlet.exe")
    try:
        second.wait(timeout=30)
    except Exception:
        s.fail("the second copy is still running after 30 s")
    s.equal([w["title"] for w in ui.windows()].count(TITLE), 1, "one main window")

    s.screenshot(ui, main, "marlet")
    ui.close(main)
    ui.gone(main)
    s.step("passed")
