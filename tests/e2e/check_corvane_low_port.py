"""corvane under Wine: a device whose data port is below 1024. The warning box
is left open for two seconds while the window's timers keep running in its
message loop; the device is listed once and the warning shown once."""
import time

from e2e import Session
from corvane import *  # noqa: F401,F403 (ids and steps)

LOW = {"devices": [device("dev-low", "02-00-5E-01-D5-42", "198.51.100.10", [dict(SERVER_4001, dataPort=502)])]}

with Session("corvane_low_port") as s:
    ui, main, sim = start(s, LOW)

    s.step("IP search of a device with data port 502")
    ip_search(s, ui, main, "198.51.100.10")
    box = ui.message_box("Searching Result")
    s.equal(box["text"], "Port number should greater than 1024.", "the warning")
    time.sleep(2)  # the user reads it; the search timer ticks meanwhile
    ui.answer(box, "OK")
    ui.gone(box["hwnd"])
    wait_idle(ui, main)
    time.sleep(1)  # a second box would be open by now
    s.equal([w["title"] for w in ui.windows()], [TITLE], "windows once the warning is answered")
    s.equal(texts(ui.rows(main, LIST)),
            [["1", "dev-low", "02-00-5E-01-D5-42", "Disable", "198.51.100.10", "502", "Server", "Idle"]],
            "the device's one row")
    s.step("passed")
