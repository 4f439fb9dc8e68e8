"""marlet's window as the checks drive it: its control ids and the steps of
adding a port and connecting it to a device's data port."""
from e2e import UiError

LIST, ADD, REMOVE, CONNECT, CLOSE, REMOTE_IP, REMOTE_PORT, SETTING = 1000, 1001, 1002, 1009, 1010, 1012, 1013, 1018
TCP_CLIENT, UDP_CLIENT = 1014, 1015
PORT_ID, NAME, STATE = range(3)


class MarletWindow:
    def __init__(self, ui, main):
        self.ui, self.main = ui, main

    def rows(self):
        return [r["texts"] for r in self.ui.rows(self.main, LIST)]

    def row_of(self, port_id):
        for index, texts in enumerate(self.rows()):
            if texts[PORT_ID] == port_id:
                return index, texts
        return None

    def add(self):
        """Presses Add; returns the new port's id and COM name."""
        known = {texts[PORT_ID] for texts in self.rows()}
        self.ui.press(self.main, ADD)
        fresh = lambda: [t for t in self.rows() if t[PORT_ID] not in known]
        texts = self.ui.until("a new port listed", lambda: (fresh() or [None])[0], timeout=30)
        return texts[PORT_ID], texts[NAME]

    def choose(self, port_id):
        index, _ = self.row_of(port_id)
        self.ui.click_cell(self.main, LIST, index, NAME)

    def state(self, port_id):
        return self.row_of(port_id)[1][STATE]

    def wait_state(self, port_id, states, what, timeout=30):
        """Waits until the port's row shows one of `states` (the list follows
        the link each second); returns the one it showed."""
        return self.ui.until(what, lambda: self.state(port_id) in states and self.state(port_id),
                             timeout=timeout, every=0.1)

    def close(self, port_id):
        self.choose(port_id)
        try:
            self.ui.press(self.main, CLOSE)
        except UiError:
            # The link went idle with the program that had the port open: the
            # row says so, and Close is off.
            if self.state(port_id) != "Idle":
                raise
        self.ui.until("idle", lambda: self.state(port_id) == "Idle")

    def connect_to(self, port_id, address, port="4001", udp=False):
        """Setting with the device's data port (as a TCP or UDP client), then Connect."""
        ui, main = self.ui, self.main
        self.choose(port_id)
        ui.until("Setting enabled", lambda: ui.control(main, SETTING)["enabled"])
        ui.press(main, SETTING)
        ui.until("editing", lambda: ui.text(main, SETTING) == "OK")
        ui.set_text(main, REMOTE_IP, address)
        ui.set_text(main, REMOTE_PORT, port)
        kind = UDP_CLIENT if udp else TCP_CLIENT
        ui.press(main, kind)
        ui.until("client kind chosen", lambda: ui.control(main, kind)["checked"])
        ui.press(main, SETTING)
        ui.until("stored", lambda: ui.text(main, SETTING) == "Setting")
        ui.press(main, CONNECT)
        ui.until("connected", lambda: self.row_of(port_id)[1][STATE] == "Connected")

    def remove(self, port_id):
        self.close(port_id)  # Remove is for an idle port
        self.ui.until("Remove enabled", lambda: self.ui.control(self.main, REMOVE)["enabled"])
        self.ui.press(self.main, REMOVE)
        self.ui.until("the port gone", lambda: self.row_of(port_id) is None, timeout=30)
