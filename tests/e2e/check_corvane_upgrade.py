"""Firmware upgrade under Wine: one ticked device is told to enter its boot
loader, which fetches the image from the program by BOOTP and TFTP inside the
namespace pair. The device, whose boot loader asks at once, must have its first
BOOTP request answered and hold the file byte for byte (its logged digest
equals the digest of the file computed here), the program must report the
whole image sent, and the list must be searched again once the device is back."""
import os

from e2e import Session, windows_path
from corvane import *  # noqa: F401,F403 (ids and steps)

WM_COMMAND, PBM_GETPOS = 0x0111, 0x0408
# Firmware Upgrade dialog
FIRMWARE_PATH = 1135
IMAGE_SIZE = 70_000

ONE = {"devices": [device("dev-up", "02-00-5E-01-E6-53", "198.51.100.10", [SERVER_4001],
                          timings={"restartMs": 500, "bootLoaderDelayMs": 0})]}
ROW = ["1", "dev-up", "02-00-5E-01-E6-53", "Disable", "198.51.100.10", "4001", "Server", "Idle"]


def fnv1a(data):
    """The 32-bit FNV-1a digest the simulated boot loader logs for an image."""
    h = 2166136261
    for b in data:
        h = ((h ^ b) * 16777619) & 0xFFFFFFFF
    return h


with Session("corvane_upgrade") as s:
    image = os.urandom(IMAGE_SIZE)
    image_path = s.artifacts / "firmware.bin"
    image_path.write_bytes(image)

    ui, main, sim = start(s, ONE)
    set_periods(s, ui, main)
    check_rows(s, ui, main, search(s, ui, main), [ROW])
    tick_by_click(ui, main, 0)
    SEARCH_REQUEST = "received 9 bytes by broadcast"
    s.equal(sim.count(SEARCH_REQUEST), 1, "search requests before the upgrade")

    s.step("upgrade")
    # The Upgrade button is created hidden: send the command a click would send.
    ui.post(main, ".", WM_COMMAND, UPGRADE, 0)
    box = ui.message_box("ERROR")
    s.equal(box["text"], "Couldn't find the fwupdate.dat file for reading data!!", "first-run store notice")
    ui.answer(box, "OK")
    ui.gone(int(box["hwnd"]))  # a closing box can miss the title query of the next wait
    dlg = ui.wait("Firmware Upgrade")
    ui.set_text(dlg, FIRMWARE_PATH, windows_path(image_path))
    ui.press(dlg, 1)
    ui.gone(dlg)
    box = ui.message_box("Upgrade Info")
    s.equal(box["text"], "Do you really want to upgrade QN520xx firmware code?", "confirmation")
    ui.answer(box, "Yes")
    ui.gone(int(box["hwnd"]))

    s.step("image received")
    sim.wait_log("bytes received and checked", timeout=20)
    received = [line for line in sim.log().splitlines() if "received and checked" in line]
    s.equal(len(received), 1, "images received")
    want = f"image of {IMAGE_SIZE} bytes received and checked, digest {fnv1a(image):08x}"
    s.expect(want in received[0], f"device log: {received[0]!r}, wanted {want!r}")
    # The device asks at once: the server must already listen, not rely on a retry.
    s.equal(sim.count("BOOTP request repeated"), 0, "BOOTP requests repeated")
    store = (s.artifacts / "fwupdate.dat").read_bytes().decode(errors="replace")
    s.expect(windows_path(image_path) in store, f"fwupdate.dat keeps the image path: {store!r}")

    s.step("reported and searched again")
    # The status line is read once the exchange has let go of the window.
    sent = f"{IMAGE_SIZE} of {IMAGE_SIZE} bytes sent"

    def whole_image_line():
        text = status(ui, main)
        return text if sent in text else None

    line = ui.until("whole image reported sent", whole_image_line)
    s.expect(line.startswith(" NO 1 upgrading ..."), f"status line: {line!r}")
    s.equal(ui.send(main, PROGRESS, PBM_GETPOS), 1000, "progress bar at its end")
    ui.until("search enabled again", lambda: ui.control(main, SEARCH)["enabled"], timeout=30)
    wait_idle(ui, main, timeout=15)
    s.equal(sim.count(SEARCH_REQUEST), 2, "search requests after the upgrade")
    check_rows(s, ui, main, ui.rows(main, LIST), [ROW])
    s.screenshot(ui, main, "after")
    s.step("passed")
