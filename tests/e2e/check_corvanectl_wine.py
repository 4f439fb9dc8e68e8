"""corvanectl.exe, the Windows console build, under Wine against three simulated
devices: search (also --all-adapters) and backup give exactly what the native
build gives in the same namespace, byte for byte."""
import json
import subprocess

from e2e import Session
from corvane import THREE, ADDRESSES

with Session("corvanectl_wine") as s:
    exe = s.win32 / "tools/corvanectl/corvanectl.exe"
    native = s.native / "tools/corvanectl/corvanectl"
    if not exe.exists():
        print(f"{s.name}: skipped: corvanectl.exe is not built in this tree")
        raise SystemExit(77)
    s.network(ADDRESSES)
    sim = s.devsim(THREE)

    def on_linux(*args):
        done = subprocess.run(["ip", "netns", "exec", s.pc, native, *args], cwd=s.artifacts,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
        return done.returncode, done.stdout.decode("cp1252")

    s.step("search")
    code, rows = s.run_console(exe, ["search", "--wait", "800"])
    s.equal((code, rows), on_linux("search", "--wait", "800"), "search under Wine and natively")
    s.equal(len(rows.splitlines()), 5, "a heading and four serial ports")

    s.step("search --all-adapters")
    heard = sim.count("by broadcast from 198.51.100.1")
    code, text = s.run_console(exe, ["search", "--all-adapters", "--json", "--wait", "800"])
    s.equal(code, 0, "exit code")
    macs = sorted(r["mac"] for r in json.loads(text))
    s.equal(macs, sorted(["02-00-5E-01-A2-0F", "02-00-5E-01-B3-20", "02-00-5E-01-B3-20", "02-00-5E-01-C4-31"]),
            "each serial port once")
    s.equal(sim.count("by broadcast from 198.51.100.1") - heard, 2 * 3,
            "searches each device heard (255.255.255.255 and 198.51.100.255)")

    s.step("backup")
    for target, port, lines in (("198.51.100.10", "1", 27), ("02-00-5E-01-B3-20", "2", 40)):
        code, out = s.run_console(exe, ["backup", target, "wine.log", "--port", port])
        s.equal(code, 0, f"backup of {target} under Wine")
        s.equal(on_linux("backup", target, "native.log", "--port", port)[0], 0, f"native backup of {target}")
        written = (s.artifacts / "wine.log").read_bytes()
        s.equal(written, (s.artifacts / "native.log").read_bytes(), f"the files of {target}")
        s.equal(written.count(b"\r\n"), lines, f"lines of {target}'s file")

    s.step("backup --all and apply --dry-run")
    code, out = s.run_console(exe, ["backup", "--all", "wine-site"])
    s.equal(code, 0, "site backup under Wine")
    s.equal(on_linux("backup", "--all", "native-site")[0], 0, "native site backup")
    for name in ("02-00-5E-01-A2-0F.log", "02-00-5E-01-B3-20.log", "02-00-5E-01-C4-31.log", "index.json"):
        s.equal((s.artifacts / "wine-site" / name).read_bytes(), (s.artifacts / "native-site" / name).read_bytes(),
                f"the site's {name}")
    code, out = s.run_console(exe, ["apply", "wine-site", "--dry-run", "--log", "wine-ops.log"])
    s.equal((code, out), on_linux("apply", "wine-site", "--dry-run"), "the dry run under Wine and natively")
    events = [json.loads(line)["event"] for line in (s.artifacts / "wine-ops.log").read_text().splitlines()]
    s.equal((events[0], events[-1]), ("sent", "exit"), "the log under Wine: the search first, the exit last")
    s.step("passed")
