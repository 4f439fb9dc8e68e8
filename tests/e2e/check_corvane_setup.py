"""Device Setup under Wine from the second port's row of a two-port device:
a changed destination port reaches the device as exactly the expected set
request; Save writes the 40-line settings file and Load reads it back."""
import pathlib

from e2e import Session, windows_path
from corvane import *  # noqa: F401,F403 (ids and steps)

# Setup sheet: its buttons and the network page's destination port.
SUBMIT, SAVE, LOAD = 1, 2, 0x3021
DEST_PORT = 1033
# The file name box of the system's file dialogs.
FILE_NAME = 1148

TWO_PORT = {"devices": [
    device("dev-two", "02-00-5E-01-D5-42", "198.51.100.10",
           [SERVER_4001, {"mode": "client", "tcp": True, "dataPort": 4002, "destIp": "198.51.100.1",
                          "destPort": 5002}], logSetRequests=True),
]}
ROWS = [
    ["1", "dev-two", "02-00-5E-01-D5-42", "Disable", "198.51.100.10", "4001", "Server", "Idle"],
    ["2", "dev-two", "02-00-5E-01-D5-42", "Disable", "198.51.100.10", "5002", "Client", "Idle"],
]

# The set request for port 2's row: the device's settings with destination port
# 2 at 6000 (17 70), written with the write flag and without the reply-only
# fields, field by field.
EXPECTED_REQUEST = "set request 98 bytes: " + " ".join([
    "4D 4F 52 4B 45 4C 41 4E", "02", "01",             # magic, set, write flag (auto connect off)
    "64 65 76 2D 74 77 6F" + " 00" * 9,               # "dev-two"
    "02 00 5E 01 D5 42",                              # MAC
    "07", "00",                                       # port 1 server TCP, both management ways; timeout
    "C6 33 64 0A", "C6 33 64 0A",                     # dynamic and static IP 198.51.100.10
    "0F A1",                                          # port 1 data port 4001
    "00" + " 00" * 9,                                 # port 1 destination, listening ports: all 0
    "FF FF FF 00", "00 00 00 00", "00 00 00 00",      # netmask, gateway, DNS
    "0B 48", "00 00 00 00 00",                        # port 1 line codes, timer, state
    "4D 4F 52 4B 45 4C 41 4E",                        # port 2 block
    "84", "00",                                       # port 2 client TCP; timeout copy (0 on its row)
    "0F A2", "C6 33 64 01", "17 70",                  # data port 4002, destination 198.51.100.1:6000
    "0B 48", "00 00 00 00 00",                        # port 2 line codes, timer, state
])

# The values of the 40 lines of the file saved from port 2's row.
FILE_VALUES = ["dev-two", "02-00-5E-01-D5-42", "0", "1", "0", "198.51.100.10", "198.51.100.10", "4001",
               "4002", "", "", "0.0.0.0", "198.51.100.1", "0", "6000", "0", "0", "0", "1", "1", "1", "1",
               "255.255.255.0", "0.0.0.0", "0.0.0.0", "0", "0", "0", "1", "1", "3", "3", "2", "2", "0", "0",
               "2", "2", "0", "0"]


def expected_file():
    golden = pathlib.Path(__file__).resolve().parents[1] / "settings/golden/two_port.log"
    comments = [line[25:] for line in golden.read_bytes().decode().split("\r\n")[:40]]
    return "".join(v.ljust(25) + c + "\r\n" for v, c in zip(FILE_VALUES, comments))


def open_setup(ui, main, row):
    tick_by_click(ui, main, row)
    ui.press(main, DEVICE_SETUP)
    return ui.wait("Device Setup")


def file_dialog(ui, title, path):
    dlg = ui.wait(title)
    ui.set_text(dlg, FILE_NAME, windows_path(path))
    ui.press(dlg, 1)
    ui.gone(dlg)


with Session("corvane_setup") as s:
    ui, main, sim = start(s, TWO_PORT)
    set_periods(s, ui, main)
    check_rows(s, ui, main, search(s, ui, main), ROWS)

    s.step("submit from port 2's row")
    sheet = open_setup(ui, main, 1)
    s.equal(ui.text(sheet, DEST_PORT), "5002", "destination port shown")
    ui.set_text(sheet, DEST_PORT, "6000")
    ui.press(sheet, SUBMIT)
    box = ui.message_box()
    s.equal(box["text"], "This operation will cause the device to reboot.\r\nDo you want to proceed ?",
            "submit confirmation")
    ui.answer(box, "Yes")
    sim.wait_log("settings applied", timeout=15)
    sent = [line[line.index("set request "):] for line in sim.log().splitlines() if "set request " in line]
    s.equal(len(sent), 1, "set requests received")
    s.equal(sent[0], EXPECTED_REQUEST, "set request bytes")
    wait_idle(ui, main, timeout=30)
    rows = ui.rows(main, LIST)
    s.equal(texts(rows)[1][5], "6000", "port 2's destination port after the refresh")

    s.step("save and load")
    sheet = open_setup(ui, main, 1)
    saved = s.artifacts / "setup.log"
    ui.press(sheet, SAVE)
    file_dialog(ui, "Save As", saved)
    box = ui.message_box("File Info")
    s.equal(box["text"], "File saved.", "save notice")
    ui.answer(box, "OK")
    s.equal(saved.read_bytes().decode(), expected_file(), "saved file")
    ui.set_text(sheet, DEST_PORT, "7000")
    ui.press(sheet, LOAD)
    file_dialog(ui, "Open", saved)
    ui.until("loaded destination port", lambda: ui.text(sheet, DEST_PORT) == "6000")
    ui.close(sheet)
    ui.gone(sheet)
    s.step("passed")
