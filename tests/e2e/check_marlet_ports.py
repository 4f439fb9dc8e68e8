"""marlet for real: with the virtual serial port driver staged in the prefix,
Add creates a port, Setting stores its remote endpoint in the driver, Connect
and Close change its state, a port held by another program is listed as any
other (marlet's requests go through the driver's bridge, not the port), and
Remove takes the ports away through the removal tool (the one in the system
folder, not a program of its name in the folder marlet starts in)."""
import subprocess

from e2e import Session

LIST, ADD, REMOVE, STATUS, CONNECT, CLOSE, REMOTE_IP, REMOTE_PORT, SETTING = \
    1000, 1001, 1002, 1008, 1009, 1010, 1012, 1013, 1018
PORT_ID, NAME, STATE, IP, PORT = range(5)


with Session("marlet_ports") as s:
    s.keep_registry()  # a failure half-way must not leave its ports to the next checks
    s.stage_port_driver()
    s.network([])  # marlet sends nothing; Wine still runs in a namespace of its own
    s.start_program(s.win32 / "marlet/marlet.exe")
    ui = s.ui()
    main = ui.wait("Marlet 1.3")
    known = {r["texts"][PORT_ID] for r in ui.rows(main, LIST)}

    def row_of(port_id):
        for index, row in enumerate(ui.rows(main, LIST)):
            if row["texts"][PORT_ID] == port_id:
                return index, row["texts"]
        return None

    def add_port():
        ui.press(main, ADD)
        def new_port():
            fresh = [r["texts"] for r in ui.rows(main, LIST) if r["texts"][PORT_ID] not in known]
            return fresh[0] if fresh else None
        texts = ui.until("a new port listed", new_port, timeout=30)
        known.add(texts[PORT_ID])
        return texts[PORT_ID]

    def choose(port_id):
        index, _ = row_of(port_id)
        ui.click_cell(main, LIST, index, NAME)
        return index

    s.step("Add")
    first = add_port()
    _, texts = row_of(first)
    s.expect(texts[NAME].startswith("COM") and texts[NAME][3:].isdigit(), f"COM name, got {texts[NAME]!r}")
    s.equal(texts[STATE], "Idle", "state of a new port")

    s.step("Setting")
    choose(first)
    ui.until("Setting enabled", lambda: ui.control(main, SETTING)["enabled"])
    ui.press(main, SETTING)
    ui.until("editing", lambda: ui.text(main, SETTING) == "OK")
    ui.set_text(main, REMOTE_IP, "198.51.100.7")
    ui.set_text(main, REMOTE_PORT, "4001")
    ui.press(main, SETTING)
    ui.until("stored", lambda: ui.text(main, SETTING) == "Setting")
    # Read back from the driver: blank the controls, choose the port again.
    ui.set_text(main, REMOTE_IP, "0.0.0.0")
    ui.set_text(main, REMOTE_PORT, "")
    choose(first)
    ui.until("address read back from the driver", lambda: ui.text(main, REMOTE_IP) == "198.51.100.7")
    s.equal(ui.text(main, REMOTE_PORT), "4001", "port read back from the driver")

    s.step("Connect")
    ui.press(main, CONNECT)
    ui.until("connected", lambda: row_of(first)[1][STATE] == "Connected")
    s.equal(ui.text(main, STATUS), "Connected to remote host 198.51.100.7@4001 successfully", "status")
    texts = row_of(first)[1]
    s.equal((texts[IP], texts[PORT]), ("198.51.100.7", "4001"), "remote endpoint in the row")

    s.step("Close")
    ui.press(main, CLOSE)
    ui.until("idle again", lambda: row_of(first)[1][STATE] == "Idle")
    s.equal(ui.text(main, STATUS), "Connection closed successfully", "status")

    s.step("a port held by another program during a refresh")
    holder = s._spawn("holder", ["wine", s.win32 / "tests/drivers/vport_holder.exe"], netns=s.pc,
                      env=s._wine_env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE)
    line = holder.stdout.readline().decode(errors="replace")
    s.expect(line.startswith("held "), f"the holder could not hold the port: {line!r}")
    windows = [w["title"] for w in ui.windows()]
    ui.press(main, ADD)  # the refresh after Add meets the held port
    added = lambda: [p for p in (r["texts"][PORT_ID] for r in ui.rows(main, LIST)) if p not in known]
    second = ui.until("the added port listed", added, timeout=30)
    s.equal(len(second), 1, "ports added while the first was held")
    s.expect(row_of(first)[1][NAME].startswith("COM"), f"the held port's row: {row_of(first)[1]}")
    s.equal([w["title"] for w in ui.windows()], windows, "windows after the refresh (no message box)")
    holder.stdin.close()
    holder.wait(30)
    known.add(second[0])

    s.step("Remove")
    for port_id in (second[0], first):
        choose(port_id)
        ui.until("Remove enabled", lambda: ui.control(main, REMOVE)["enabled"])
        ui.press(main, REMOVE)
        ui.until("the port gone", lambda: row_of(port_id) is None, timeout=30)
        s.equal(ui.text(main, STATUS), "VSP removed successfully", "status")
    s.screenshot(ui, main, "after-remove")
