"""The virtual port carries data: marlet adds a port and connects it to a
simulated device's data port, vportd carries the bytes, and portterm, a
terminal program, opens the port at 115200 8N1 with time-outs: 256 KiB come
back through the device's echo byte for byte; two writes pending together
(100,000 then 10 bytes; 200,000 then 5,000) come back in the order written;
64 KiB that the serial device sends (devsim's side channel) arrive byte for
byte; when the device restarts under the open port, marlet's list shows the
link down, a write that fits the hold is kept and one that does not is refused
whole, the port connects again, the list shows it connected, only the held
bytes arrive and the echo goes on; when vportd is killed and started again
under the open port, the list goes back to "Connected" on its own and the echo
goes on without the port being reopened; set to "UDP client",
16 KiB come back through the echo in datagrams byte for byte. marlet's Close
and Connect work while portterm holds the port, with no message, and after
Close none of its bytes reach the device."""
import select
import socket
import subprocess
import time

from e2e import Session
from marlet_ui import CONNECT, MarletWindow

ECHO_DEVICE, SERIAL_DEVICE = "198.51.100.10", "198.51.100.11"


def device(name, mac, address, serial):
    return {"name": name, "mac": mac, "address": address, "netmask": "255.255.255.0",
            "ports": [dict({"mode": "server", "tcp": True, "udp": True, "dataPort": 4001}, **serial)],
            # Down long enough for marlet's list, which follows the link each second, to show it.
            "timings": {"restartMs": 6000}}


with Session("marlet_data") as s:
    s.keep_registry()  # a failure half-way must not leave its ports to the next checks
    s.stage_port_driver()
    s.network([ECHO_DEVICE, SERIAL_DEVICE])
    side = s.artifacts / "serial-device.sock"
    sim = s.devsim({"devices": [device("Echo", "02-00-5E-30-00-01", ECHO_DEVICE, {"echo": True}),
                          device("Line", "02-00-5E-30-00-02", SERIAL_DEVICE,
                                 {"echo": False, "sideChannel": str(side)})]})
    s.start_program(s.win32 / "marlet/marlet.exe")
    ui = s.ui()
    main = ui.wait("Marlet 1.3")
    vportd = s.start_program(s.win32 / "vportd.exe")
    portterm = s.win32 / "tools/portterm/portterm.exe"
    marlet = MarletWindow(ui, main)

    def echo(com, size):
        code, out = s.run_console(portterm, [com, "--timeout", "10000", "--echo", size], timeout=90)
        s.equal(code, 0, f"portterm's exit status after {out!r}")
        s.expect(f"echo: {size} bytes back byte for byte" in out, f"echo result, got {out!r}")

    s.step("Add")
    port_id, com = marlet.add()

    s.step(f"256 KiB through {com} and the device's echo")
    marlet.connect_to(port_id, ECHO_DEVICE)
    echo(com, "262144")

    s.step("the device restarts under the open port: it connects again and the echo goes on")
    term = s._spawn("portterm-restart", ["wine", portterm, com, "--timeout", "15000", "--echo", "4096", "--stdin"],
                    netns=s.pc, env=s._wine_env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE)

    def said(what):
        """Waits for portterm's line of the step `what` starts with (its first word)."""
        step = what.split()[0]
        deadline = time.monotonic() + 40
        while time.monotonic() < deadline:
            ready, _, _ = select.select([term.stdout], [], [], deadline - time.monotonic())
            line = term.stdout.readline().decode("cp1252", "replace") if ready else ""
            if not line:
                break
            if line.startswith(step):
                s.expect(what in line, f"{what!r}, got {line!r}")
                return
        s.fail(f"portterm said no {what!r} (exit status {term.poll()})")

    def ask(step):
        term.stdin.write(step.encode() + b"\n")
        term.stdin.flush()

    said("echo: 4096 bytes back byte for byte")
    for first, second in ((100000, 10), (200000, 5000)):
        ask(f"pair {first} {second}")
        said(f"pair: {first} + {second} bytes back in order")
    marlet.wait_state(port_id, ["Connected"], "the list shows the link up before the restart")
    # The list is read while the device is down: corvanectl returns only once it answers again.
    reboot = subprocess.Popen(["ip", "netns", "exec", s.pc, s.native / "tools/corvanectl/corvanectl", "reboot",
                               "--yes", "--force", ECHO_DEVICE], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                              text=True)
    marlet.wait_state(port_id, ["Reconnecting", "Connecting"], "the list shows the link down")
    # Held while the link is down: 16 KiB fit the 128 KiB hold; with them, 128 KiB do not, and
    # that write is refused whole (ERROR_DEVICE_NOT_CONNECTED), never half taken.
    ask("write 16384")
    said("write: 16384 bytes: done, 16384 written")
    ask("write 131072")
    said("write: 131072 bytes: error 1167")
    out, err = reboot.communicate(timeout=60)
    s.equal(reboot.returncode, 0, f"corvanectl reboot ({out.strip()} {err.strip()})")
    marlet.wait_state(port_id, ["Connected"], "the list shows the link up again")
    ask("expect 16384")
    said("expect: 16384 bytes came, as written")
    ask("echo 65536")
    said("echo: 65536 bytes back byte for byte")

    s.step("vportd dies and starts again under the open port: the port carries data again")
    vportd.kill()  # as a crash would; the service manager then starts it again
    vportd.wait(30)
    marlet.wait_state(port_id, ["Idle"], "the list shows no link while no vportd runs")
    vportd = s.start_program(s.win32 / "vportd.exe")
    marlet.wait_state(port_id, ["Connected"], "the list shows the link up again on its own")
    ask("echo 4096")
    said("echo: 4096 bytes back byte for byte")

    s.step("marlet's Close and Connect while portterm holds the port")
    windows = [w["title"] for w in ui.windows()]

    def close_held():
        closes = sim.count("closed")
        marlet.close(port_id)
        ui.until("the device's end of the link closed", lambda: sim.count("closed") > closes)

    close_held()
    s.equal([w["title"] for w in ui.windows()], windows, "windows after Close (no message box)")
    marlet.choose(port_id)
    ui.press(main, CONNECT)
    marlet.wait_state(port_id, ["Connected"], "the row after Connect")
    s.equal([w["title"] for w in ui.windows()], windows, "windows after Connect (no message box)")
    term.stdin.write(b"echo 4096\n")
    term.stdin.flush()
    said("echo: 4096 bytes back byte for byte")
    close_held()
    heard = sim.count("in by TCP")
    term.stdin.write(b"send after-close\n")
    term.stdin.close()
    # Refused (1), or taken as done and dropped by the disconnected port (0).
    s.expect(term.wait(30) in (0, 1), "portterm's exit status")
    s.equal(sim.count("in by TCP"), heard, "bytes reaching the device after Close")

    s.step("64 KiB from the serial device")
    marlet.close(port_id)
    marlet.connect_to(port_id, SERIAL_DEVICE)
    payload = bytes((i * 7 + i // 251) % 94 + 33 for i in range(65536))  # printable, never repeating early
    reader = s._spawn("portterm-read", ["wine", portterm, com, "--timeout", "20000", "--send", "ready",
                                        "--read", "65536"], netns=s.pc, env=s._wine_env(),
                      stdout=subprocess.PIPE)
    line = socket.socket(socket.AF_UNIX)
    line.settimeout(30)
    deadline = time.monotonic() + 30
    while True:  # devsim makes the socket at its start; it is there by now, or soon
        try:
            line.connect(str(side))
            break
        except OSError:
            s.expect(time.monotonic() < deadline, "devsim's side channel never opened")
            time.sleep(0.2)
    heard = b""
    while b"ready" not in heard:  # the terminal's bytes reached the serial device: the line is up
        chunk = line.recv(100)
        s.expect(chunk, f"the side channel closed after {heard!r}")
        heard += chunk
    line.sendall(payload)
    out, _ = reader.communicate(timeout=60)
    line.close()
    text = out.decode("cp1252", "replace").replace("\r\n", "\n")
    s.equal(reader.returncode, 0, f"portterm's exit status after {text[:200]!r}")
    s.expect(f"read: 65536 bytes: {payload.decode()}" in text, "the serial device's 64 KiB, byte for byte")

    s.step(f"16 KiB through {com} as a UDP client and the device's echo")
    marlet.close(port_id)
    marlet.connect_to(port_id, ECHO_DEVICE, udp=True)
    echo(com, "16384")

    s.step("Remove")
    marlet.remove(port_id)
