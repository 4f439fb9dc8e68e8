"""What corvane's checks share: the simulated devices, the main window's ids,
the expected rows, and the steps most checks take (periods, searches)."""
import subprocess

TITLE = "Corvane 2.9"

# Main window
SEARCH, IP_SEARCH, DEVICE_SETUP, UPGRADE, RESTORE = 1000, 1001, 1002, 1003, 1004
LIST, REBOOT, SETTING, WEB_BROWSER = 1005, 1006, 1007, 1008
CLOCK, ELAPSED, PROGRESS, STATUS = 1009, 1010, 1056, 1058
# Setting dialog
SEARCH_PERIOD, RESTORE_PERIOD, REBOOT_PERIOD = 1062, 1009, 1063
# Search dialogs
METHOD_MULTICAST, METHOD_BROADCAST, BROADCAST_ADDRESS = 1040, 1041, 1046
IP_ADDRESS = 1006

BASE_BACK, CONNECTED_BACK = "E8C0C0", "DCDCDC"

COLUMNS = [("", 20), ("NO.", 40), ("Device Name", 109), ("MAC Address", 115), ("DHCP", 55),
           ("IP", 100), ("Port", 50), ("Mode", 50), ("Status", 70)]


def device(name, mac, address, ports, delay_ms=0, **extra):
    """A devsim device; replies delayed by `delay_ms` so that rows come in a known order."""
    d = {"name": name, "mac": mac, "address": address, "netmask": "255.255.255.0", "ports": ports,
         "timings": {"restartMs": 1500}}
    if delay_ms:
        d["faults"] = {"replyDelayMs": delay_ms}
    d.update(extra)
    return d


SERVER_4001 = {"mode": "server", "tcp": True, "dataPort": 4001}

# Three devices, one of them two-port, one with DHCP on, one port connected.
THREE = {"devices": [
    device("dev-a", "02-00-5E-01-A2-0F", "198.51.100.10", [SERVER_4001]),
    device("dev-b", "02-00-5E-01-B3-20", "198.51.100.11",
           [SERVER_4001, {"mode": "client", "udp": True, "tcp": False, "destIp": "198.51.100.1",
                          "destPort": 5000, "state": "connected"}], delay_ms=150, dhcp=True),
    device("dev-c", "02-00-5E-01-C4-31", "198.51.100.12", [dict(SERVER_4001, dataPort=4010)], delay_ms=300),
]}
ADDRESSES = [d["address"] for d in THREE["devices"]]

# The rows of THREE in reply order, without the check box column.
THREE_ROWS = [
    ["1", "dev-a", "02-00-5E-01-A2-0F", "Disable", "198.51.100.10", "4001", "Server", "Idle"],
    ["2", "dev-b", "02-00-5E-01-B3-20", "Enable", "198.51.100.11", "4001", "Server", "Idle"],
    ["3", "dev-b", "02-00-5E-01-B3-20", "Enable", "198.51.100.11", "5000", "Client", "Connected"],
    ["4", "dev-c", "02-00-5E-01-C4-31", "Disable", "198.51.100.12", "4010", "Server", "Idle"],
]


def main_window_built(session):
    """Whether this tree's corvane.exe carries the main window (its template's
    group box text); the start-up shell of earlier trees does not."""
    exe = session.win32 / "corvane/corvane.exe"
    return exe.exists() and b"Device Status List" in exe.read_bytes()


def start(session, devices=THREE, addresses=None):
    """Network, devsim and corvane.exe; returns (ui, main window, devsim)."""
    if not main_window_built(session):
        print(f"{session.name}: skipped: corvane's main window is not built in this tree")
        raise SystemExit(77)
    session.network(addresses or [d["address"] for d in devices["devices"]])
    sim = session.devsim(devices)
    session.start_program(session.win32 / "corvane/corvane.exe")
    ui = session.ui()
    return ui, ui.wait(TITLE), sim


def set_periods(session, ui, main, search=5, restore=10, reboot=10):
    """The shortest periods the Setting dialog takes, so checks spend seconds."""
    ui.press(main, SETTING)
    dlg = ui.wait("Setting")
    for ctl, value in ((SEARCH_PERIOD, search), (RESTORE_PERIOD, restore), (REBOOT_PERIOD, reboot)):
        ui.set_text(dlg, ctl, str(value))
    ui.press(dlg, 1)
    ui.gone(dlg)


def status(ui, main):
    return ui.text(main, STATUS)


def wait_idle(ui, main, timeout=20):
    ui.until("status back to Idle", lambda: status(ui, main) == " Idle", timeout=timeout)


def search(session, ui, main, method=METHOD_BROADCAST, expect_rows=None):
    """Search through the search dialog; waits for its end and returns the rows."""
    ui.press(main, SEARCH)
    dlg = ui.wait("Searching")
    ui.press(dlg, method)
    ui.press(dlg, 1)
    ui.gone(dlg)
    wait_idle(ui, main)
    return ui.rows(main, LIST)


def ip_search(session, ui, main, address):
    ui.press(main, IP_SEARCH)
    dlg = ui.wait("IP Searching")
    ui.set_text(dlg, IP_ADDRESS, address)
    ui.press(dlg, 1)
    ui.gone(dlg)


def texts(rows):
    return [r["texts"][1:] for r in rows]


def check_rows(session, ui, main, rows, expected):
    """Exact texts and background colours: connected rows grey, the others pink."""
    session.equal(texts(rows), expected, "device rows")
    for i, row in enumerate(expected):
        want = CONNECTED_BACK if row[7] == "Connected" else BASE_BACK
        session.equal(ui.cell(main, LIST, i, 2)["background"], want, f"background of row {i + 1}")


def tick_by_click(ui, main, row):
    """A user's click on the IP cell: the window ticks the row and makes it current."""
    ui.click_cell(main, LIST, row, 5)
    ui.until(f"row {row + 1} ticked", lambda: ui.rows(main, LIST)[row]["checked"])
