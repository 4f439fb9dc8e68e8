"""Benchmark (prints figures, asserts nothing): a terminal program's echo
through the virtual port against the same program talking TCP to the device
directly, in one run on one machine. A simulated device echoes on its data
port; portterm sends SIZE bytes in 4 KiB blocks and times one-byte round
trips, once through marlet's port and vportd, once over its own socket.

    python3 tests/e2e/bench_port_echo.py [SIZE] [ROUND_TRIPS]   (as root)

E2E_NATIVE and E2E_WIN32 name the builds (default build/native, build/win32)."""
import os
import re
import sys
from pathlib import Path

root = Path(__file__).resolve().parents[2]
os.environ.setdefault("E2E_NATIVE", str(root / "build/native"))
os.environ.setdefault("E2E_WIN32", str(root / "build/win32"))
from e2e import Session  # noqa: E402
from marlet_ui import MarletWindow  # noqa: E402

DEVICE = "198.51.100.10"
size = sys.argv[1] if len(sys.argv) > 1 else str(4 * 1024 * 1024)
trips = sys.argv[2] if len(sys.argv) > 2 else "200"

with Session("bench_port_echo") as s:
    s.keep_registry()
    s.stage_port_driver()
    s.network([DEVICE])
    s.devsim({"devices": [{"name": "Echo", "mac": "02-00-5E-30-00-09", "address": DEVICE,
                           "netmask": "255.255.255.0",
                           "ports": [{"mode": "server", "tcp": True, "dataPort": 4001, "echo": True}]}]})
    s.start_program(s.win32 / "marlet/marlet.exe")
    ui = s.ui()
    marlet = MarletWindow(ui, ui.wait("Marlet 1.3"))
    s.start_program(s.win32 / "vportd.exe")
    port_id, com = marlet.add()
    marlet.connect_to(port_id, DEVICE)
    portterm = s.win32 / "tools/portterm/portterm.exe"
    results = {}
    for label, target in ((f"virtual port {com}", com), ("direct TCP", f"tcp:{DEVICE}:4001")):
        code, out = s.run_console(portterm, [target, "--timeout", "10000", "--echo", size, "--rtt", trips],
                                  timeout=600)
        rate = re.search(r"\((\d+) KiB/s\)", out)
        rtt = re.search(r"median (\d+) us", out)
        results[label] = (int(rate.group(1)) if rate else None, int(rtt.group(1)) if rtt else None, code)
        print(out.strip(), flush=True)
    marlet.remove(port_id)
    emulated = (root / "build/ia32/mode").read_text().strip() if (root / "build/ia32/mode").exists() else "?"
    print(f"\n32-bit side of Wine: {emulated}; {size} bytes echoed in 4 KiB blocks, {trips} round trips")
    print(f"{'path':<22}{'KiB/s':>10}{'round trip us':>16}{'exit':>6}")
    for label, (rate, rtt, code) in results.items():
        print(f"{label:<22}{rate if rate is not None else '-':>10}{rtt if rtt is not None else '-':>16}{code:>6}")
    port, direct = results[f"virtual port {com}"], results["direct TCP"]
    if port[0] and direct[0]:
        print(f"throughput of the port: {100 * port[0] / direct[0]:.0f} % of the direct one")
    if port[1] is not None and direct[1] is not None:
        print(f"round trip of the port: {port[1] - direct[1]} us more than the direct one")
