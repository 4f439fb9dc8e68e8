"""The end-to-end harness: real programs under Wine, driven through uidrive.

A check is a python3 file tests/e2e/check_*.py that runs a Session:

    from e2e import Session
    with Session("corvane_startup") as s:
        s.network(["198.51.100.10", "198.51.100.11"])   # pc + dev namespaces
        sim = s.devsim({"devices": [...]})               # devsim in "dev"
        s.start_program(s.win32 / "corvane/corvane.exe") # Xvfb + Wine in "pc"
        ui = s.ui()                                      # uidrive beside it
        main = ui.wait("Corvane 2.9")
        s.equal(ui.text(main, 1001), "...", "host address")

Everything the session started is ended and both namespaces are removed when
the `with` block ends, whatever happened (a signal included). A check fails by
raising (s.equal / s.expect / s.fail), is skipped without root (exit 77), and
leaves its logs and screenshots in s.artifacts. See README.md.
"""

import atexit
import json
import os
import select
import shutil
import signal
import socket
import subprocess
import sys
import time
from pathlib import Path

SKIPPED = 77  # the runner's exit code for a check that cannot run here
PC_ADDRESS = "198.51.100.1"


class CheckFailed(Exception):
    pass


class UiError(Exception):
    """uidrive answered "err ..." (the message is uidrive's)."""


def windows_path(path):
    """A Linux path as Wine sees it through drive Z:."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def quote(word):
    word = str(word)
    if word and not any(c in word for c in ' \t\r\n"\\'):
        return word
    escaped = word.replace("\\", "\\\\").replace('"', '\\"').replace("\n", "\\n")
    return '"' + escaped.replace("\r", "\\r").replace("\t", "\\t") + '"'


class UiDrive:
    """uidrive under Wine: one command, one answer; every read is bounded."""

    def __init__(self, process, log):
        self._process = process
        self._log = log
        self._buffer = b""

    def call(self, *words, timeout=30):
        line = " ".join(quote(w) for w in words)
        self._log.write(f"> {line}\n")
        self._process.stdin.write((line + "\n").encode("cp1252", "replace"))
        self._process.stdin.flush()
        answer = self._read_line(timeout).decode("ascii", "replace").rstrip("\r\n")
        self._log.write(f"< {answer}\n")
        self._log.flush()
        if answer.startswith("ok "):
            return json.loads(answer[3:])
        if answer.startswith("err "):
            raise UiError(f"{words[0]}: {answer[4:]}")
        raise UiError(f"{words[0]}: unexpected answer {answer!r}")

    def _read_line(self, timeout):
        deadline = time.monotonic() + timeout
        fd = self._process.stdout.fileno()
        while b"\n" not in self._buffer:
            left = deadline - time.monotonic()
            if left <= 0:
                raise UiError("uidrive did not answer in time")
            ready, _, _ = select.select([fd], [], [], left)
            if ready:
                chunk = os.read(fd, 65536)
                if not chunk:
                    raise UiError("uidrive ended")
                self._buffer += chunk
        line, self._buffer = self._buffer.split(b"\n", 1)
        return line

    # The commands, by name (see `uidrive --help`).
    def wait(self, title, ms=20000):
        return int(self.call("wait", title, ms, timeout=ms / 1000 + 10)["hwnd"])

    def gone(self, window, ms=10000):
        return self.call("gone", window, ms, timeout=ms / 1000 + 10)

    def windows(self):
        return self.call("windows")

    def controls(self, window):
        return self.call("controls", window)

    def control(self, window, ctl):
        return self.call("control", window, ctl)

    def text(self, window, ctl):
        return self.call("text", window, ctl)

    def press(self, window, ctl):
        return self.call("press", window, ctl)

    def set_text(self, window, ctl, text):
        return self.call("settext", window, ctl, text)

    def choose(self, window, ctl, entry):
        return self.call("choose", window, ctl, entry)

    def columns(self, window, ctl):
        return self.call("columns", window, ctl)

    def rows(self, window, ctl):
        return self.call("rows", window, ctl)

    def tick(self, window, ctl, row, on=True):
        return self.call("tick", window, ctl, row, 1 if on else 0)

    def select(self, window, ctl, row):
        return self.call("select", window, ctl, row)

    def cell(self, window, ctl, row, sub):
        return self.call("cell", window, ctl, row, sub)

    def click_cell(self, window, ctl, row, sub, double=False):
        return self.call("clickcell", window, ctl, row, sub, *(["double"] if double else []))

    def send(self, window, ctl, message, wparam=0, lparam=0):
        return self.call("send", window, ctl, message, wparam, lparam)

    def post(self, window, ctl, message, wparam=0, lparam=0):
        return self.call("post", window, ctl, message, wparam, lparam)

    def message_box(self, caption=None, ms=10000):
        words = ["msgbox"] + ([caption] if caption else []) + [ms]
        return self.call(*words, timeout=ms / 1000 + 10)

    def answer(self, box, button):
        hwnd = box["hwnd"] if isinstance(box, dict) else box
        return self.call("answer", hwnd, button)

    def screenshot(self, window, path):
        return self.call("shot", window, windows_path(path))

    def pixel(self, window, ctl, x, y):
        return self.call("pixel", window, ctl, x, y)

    def close(self, window):
        return self.call("close", window)

    def until(self, what, probe, timeout=10.0, every=0.2):
        """Calls probe() until it returns something true; fails after `timeout` s."""
        deadline = time.monotonic() + timeout
        last = None
        while True:
            try:
                last = probe()
            except UiError as e:
                last = e
            if last and not isinstance(last, UiError):
                return last
            if time.monotonic() >= deadline:
                raise CheckFailed(f"{what}: not reached in {timeout} s (last: {last!r})")
            time.sleep(every)


class Devsim:
    def __init__(self, process, log_path):
        self.process = process
        self.log_path = log_path

    def log(self):
        return self.log_path.read_text(errors="replace")

    def wait_log(self, text, timeout=10.0):
        """Waits for a line holding `text`; returns the matching lines."""
        deadline = time.monotonic() + timeout
        while True:
            lines = [l for l in self.log().splitlines() if text in l]
            if lines:
                return lines
            if time.monotonic() >= deadline:
                raise CheckFailed(f"devsim never logged {text!r}")
            time.sleep(0.1)

    def count(self, text):
        return sum(1 for l in self.log().splitlines() if text in l)


class Session:
    """One check's private world; a context manager that always cleans up."""

    def __init__(self, name, arch="win32"):
        """arch "win64": the check runs in the 64-bit prefix (WOW64: the 32-bit
        programs beside the 64-bit driver side of `win64`) instead of the
        32-bit one."""
        if arch not in ("win32", "win64"):
            raise ValueError(f"no Wine prefix for {arch}")
        self.name = name
        self.arch = arch
        root = Path(__file__).resolve().parents[2]
        self.repo = root
        self.native = Path(os.environ.get("E2E_NATIVE", root / "build/native")).resolve()
        self.win32 = Path(os.environ.get("E2E_WIN32", root / "build/win32")).resolve()
        self.win64 = Path(os.environ.get("E2E_WIN64", root / "build/win64")).resolve()
        self.artifacts = self.win32 / "e2e" / name
        if arch == "win64":
            self.prefix = Path(os.environ.get("WINEPREFIX64", root / "build/wineprefix64"))
        else:
            self.prefix = Path(os.environ.get("WINEPREFIX", root / "build/wineprefix"))
        self.pc = self.dev = None
        self._etc = None
        self._processes = []  # (name, Popen), ended in reverse order
        self._display = None
        self._wineserver = None
        self._ui = None
        self._closed = False
        self._failed = False
        self._registry = {}  # file name -> bytes, put back if the check fails
        self._logs = []

    # -- life cycle ---------------------------------------------------------
    def __enter__(self):
        if os.geteuid() != 0:
            print(f"{self.name}: skipped: needs root for network namespaces")
            sys.exit(SKIPPED)
        self.artifacts.mkdir(parents=True, exist_ok=True)
        for old in self.artifacts.iterdir():
            if old.is_file():
                old.unlink()
        atexit.register(self.close)
        for sig in (signal.SIGTERM, signal.SIGINT, signal.SIGHUP):
            signal.signal(sig, self._on_signal)
        return self

    def __exit__(self, kind, value, tb):
        self._failed = kind is not None
        self.close()
        if kind is CheckFailed or kind is UiError:
            print(f"{self.name}: FAILED: {value}")
            print(f"{self.name}: logs in {self.artifacts}")
            sys.exit(1)
        return False

    def _on_signal(self, number, _frame):
        raise CheckFailed(f"stopped by signal {number} (time limit?)")

    def close(self):
        if self._closed:
            return
        self._closed = True
        for name, p in reversed(self._processes):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(3)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait(3)
        if self._wineserver:
            subprocess.run(["wineserver", "-k"], env=self._wine_env(), timeout=15,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                self._wineserver.wait(10)
            except subprocess.TimeoutExpired:
                self._wineserver.kill()
        for p in (self._display,):
            if p and p.poll() is None:
                p.terminate()
                p.wait(5)
        if self._failed:
            self._restore_registry()
        for ns in (self.pc, self.dev):
            if ns:
                self._kill_namespace_processes(ns)
                subprocess.run(["ip", "netns", "del", ns], stderr=subprocess.DEVNULL)
        if self._etc:
            shutil.rmtree(self._etc, ignore_errors=True)
        for log in self._logs:
            log.close()

    REGISTRY_FILES = ("system.reg", "user.reg", "userdef.reg")

    def keep_registry(self):
        """Takes a copy of the prefix's registry, put back if the check fails:
        what a check leaves half-done there (virtual ports, driver keys) must not
        fail the checks that share the prefix after it. Call it before the first
        Wine process starts, so that no wineserver holds newer keys in memory."""
        self._registry = {name: (self.prefix / name).read_bytes()
                          for name in self.REGISTRY_FILES if (self.prefix / name).exists()}

    def _restore_registry(self):
        # The wineserver is gone by now and has written its keys; ours win.
        for name, data in self._registry.items():
            (self.prefix / name).write_bytes(data)
        if self._registry:
            print(f"{self.name}: the Wine prefix's registry is put back as it was before the check")

    @staticmethod
    def _kill_namespace_processes(ns):
        # Wine's service processes (winedevice.exe and its kin) outlive their
        # wineserver; whatever still runs in a namespace of ours goes with it.
        found = subprocess.run(["ip", "netns", "pids", ns], capture_output=True, text=True)
        for pid in found.stdout.split():
            try:
                os.kill(int(pid), signal.SIGKILL)
            except (ProcessLookupError, ValueError):
                pass

    # -- checks -------------------------------------------------------------
    def fail(self, message):
        raise CheckFailed(message)

    def expect(self, condition, message):
        if not condition:
            raise CheckFailed(message)

    def equal(self, actual, expected, what):
        if actual != expected:
            raise CheckFailed(f"{what}: expected {expected!r}, got {actual!r}")

    def step(self, text):
        print(f"{self.name}: {text}", flush=True)

    # -- the private network ------------------------------------------------
    def network(self, device_addresses):
        """pc (198.51.100.1) and dev (the device addresses) joined by a veth pair."""
        pid = os.getpid()
        self.pc, self.dev = f"e2e-pc-{pid}", f"e2e-dev-{pid}"
        vp, vd = f"e2ep{pid}", f"e2ed{pid}"
        run = lambda *a: subprocess.run(list(a), check=True)
        run("ip", "netns", "add", self.pc)
        run("ip", "netns", "add", self.dev)
        run("ip", "link", "add", vp, "netns", self.pc, "type", "veth", "peer", "name", vd, "netns", self.dev)
        for ns, link in ((self.pc, vp), (self.dev, vd)):
            run("ip", "-n", ns, "link", "set", "lo", "up")
        run("ip", "-n", self.pc, "addr", "add", f"{PC_ADDRESS}/24", "dev", vp)
        for address in device_addresses:
            run("ip", "-n", self.dev, "addr", "add", f"{address}/24", "dev", vd)
        # Programs find their own address by resolving the host name: inside
        # "pc" it names 198.51.100.1 (`ip netns exec` reads /etc/netns/NAME/).
        self._etc = Path("/etc/netns") / self.pc
        self._etc.mkdir(parents=True, exist_ok=True)
        (self._etc / "hosts").write_text(f"127.0.0.1 localhost\n{PC_ADDRESS} {socket.gethostname()}\n")
        for ns, link in ((self.pc, vp), (self.dev, vd)):
            run("ip", "-n", ns, "link", "set", link, "up")
            # Limited broadcasts and multicasts leave through the veth, not nowhere.
            run("ip", "-n", ns, "route", "add", "default", "dev", link)

    def _spawn(self, name, argv, netns=None, env=None, **kw):
        log = open(self.artifacts / f"{name}.log", "w")
        self._logs.append(log)
        if netns:
            argv = ["ip", "netns", "exec", netns] + [str(a) for a in argv]
        p = subprocess.Popen([str(a) for a in argv], stdout=kw.pop("stdout", log), stderr=log,
                             env=env, start_new_session=True, **kw)
        self._processes.append((name, p))
        return p

    def devsim(self, config):
        """Starts devsim in "dev" with `config` (the dict of its JSON file)."""
        if not self.dev:
            self.fail("devsim before network()")
        path = self.artifacts / "devices.json"
        path.write_text(json.dumps(config, indent=2))
        p = self._spawn("devsim", [self.native / "tools/devsim/devsim", "--config", path], netns=self.dev)
        sim = Devsim(p, self.artifacts / "devsim.log")
        count = len(config.get("devices", []))
        deadline = time.monotonic() + 10
        while sim.count("listening at") < count:
            if p.poll() is not None or time.monotonic() > deadline:
                self.fail(f"devsim did not start its {count} devices:\n{sim.log()[-2000:]}")
            time.sleep(0.05)
        return sim

    def listen(self, address, port):
        """A UDP sink at address:port in "dev" that logs each datagram it gets,
        to show that nothing was sent there. Returns a function counting them."""
        log = self.artifacts / f"sink-{address}-{port}.log"
        code = ("import socket,sys\n"
                "s=socket.socket(socket.AF_INET,socket.SOCK_DGRAM)\n"
                f"s.bind(({address!r},{port}))\n"
                "print('ready',flush=True)\n"
                "while True:\n"
                "    d,a=s.recvfrom(65536); print('datagram',a,len(d),flush=True)\n")
        self._spawn(log.stem, ["python3", "-c", code], netns=self.dev)
        deadline = time.monotonic() + 10
        while "ready" not in log.read_text():
            if time.monotonic() > deadline:
                self.fail(f"the UDP sink at {address}:{port} did not start")
            time.sleep(0.05)
        return lambda: log.read_text().count("datagram")

    # -- Wine ---------------------------------------------------------------
    def _wine_env(self):
        env = dict(os.environ)
        env.update(WINEPREFIX=str(self.prefix), WINEARCH=self.arch, WINEDEBUG=env.get("WINEDEBUG", "-all"),
                   WINEDLLOVERRIDES=env.get("WINEDLLOVERRIDES", "mscoree,mshtml="))
        if self._display_name:
            env["DISPLAY"] = self._display_name
        return env

    _display_name = None

    def _start_display(self):
        """A private Xvfb. Its number comes from the process id, away from the
        low numbers that `Xvfb -displayfd` and `xvfb-run -a` hand out, because
        those can be taken by another run between choosing and listening."""
        for attempt in range(20):
            number = 300 + (os.getpid() * 7 + attempt) % 600
            if Path(f"/tmp/.X{number}-lock").exists() or Path(f"/tmp/.X11-unix/X{number}").exists():
                continue
            log = open(self.artifacts / "xvfb.log", "w")
            self._logs.append(log)
            # Inside "pc", so that a runner sweeping up after a killed check
            # ends it with the namespace's other processes.
            display = subprocess.Popen(
                ["ip", "netns", "exec", self.pc, "Xvfb", f":{number}", "-screen", "0", "1280x1024x24",
                 "-nolisten", "tcp"], stdout=log, stderr=log, start_new_session=True)
            deadline = time.monotonic() + 15
            while display.poll() is None and time.monotonic() < deadline:
                probe = subprocess.run(["xdpyinfo", "-display", f":{number}"], stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
                if probe.returncode == 0:
                    self._display, self._display_name = display, f":{number}"
                    return
                time.sleep(0.1)
            display.kill()
            display.wait(5)
        self.fail("Xvfb did not start")

    def _start_wineserver(self):
        """A wineserver of our own inside "pc": Wine opens sockets there, so the
        programs' datagrams leave from that namespace and nowhere else."""
        if not (self.prefix / "system.reg").exists():
            self.fail(f"no Wine prefix at {self.prefix} (scripts/test makes one)")
        if self.arch == "win64" and not (self.prefix / "drive_c/windows/syswow64").is_dir():
            self.fail(f"{self.prefix} is not a 64-bit prefix")
        env = self._wine_env()
        subprocess.run(["wineserver", "-k"], env=env, timeout=15,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=env, timeout=15)
        self._wineserver = self._spawn("wineserver", ["wineserver", "-f", "-p"], netns=self.pc, env=env)
        wanted = os.stat(f"/run/netns/{self.pc}").st_ino
        deadline = time.monotonic() + 10
        while True:
            server = self._wineserver_pid()
            if server:
                break
            if time.monotonic() > deadline:
                self.fail("the wineserver did not start")
            time.sleep(0.05)
        actual = os.stat(f"/proc/{server}/ns/net").st_ino
        if actual != wanted:
            self.fail("the wineserver runs outside the check's namespace; stopping before anything is sent")

    def _wineserver_pid(self):
        """The wineserver serving our prefix: its working directory is
        <some temporary folder>/server-DEV-INODE of the prefix."""
        st = os.stat(self.prefix)
        suffix = f"server-{st.st_dev:x}-{st.st_ino:x}"
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                if os.readlink(f"/proc/{entry}/cwd").endswith(suffix) and \
                        Path(f"/proc/{entry}/comm").read_text().startswith("wineserver"):
                    return int(entry)
            except OSError:
                continue
        return None

    def start_program(self, exe, args=(), cwd=None):
        """Starts a Windows program under Wine in "pc" on a private display."""
        if not self.pc:
            self.fail("start_program before network()")
        if not Path(exe).exists():
            self.fail(f"{exe} is not built")
        # uidrive first: the first Wine process brings up the prefix's desktop,
        # and a program racing it for that may start without a display driver.
        if not self._ui:
            self._ui = self._start_ui()
        cwd = Path(cwd or self.artifacts)
        p = self._spawn(Path(exe).stem, ["wine", exe, *args], netns=self.pc, env=self._wine_env(), cwd=cwd)
        return p

    def stage_port_driver(self):
        """The virtual port driver where its installation file's service points,
        the file where the platform finds compatible drivers (and, for Wine's
        SetupDiGetINFClass, in the Windows folder and the program's directory),
        the removal tool in the system folder. A program of the tool's name lies
        in the folder marlet starts in: it removes nothing, and marlet, elevated,
        must never start it. In the 64-bit prefix the driver and the tool are
        those of the 64-bit build."""
        windows = self.prefix / "drive_c/windows"
        inf = self.win32 / "QN520xx.inf"
        # In the 64-bit prefix system32 is the native (64-bit) folder; a 32-bit
        # program that names it is sent to syswow64 instead.
        driver_side = self.win64 if self.arch == "win64" else self.win32
        for built in ("qnvport.sys", "devcon.exe"):
            if not (driver_side / built).exists():
                self.fail(f"{driver_side / built} is not built")
        shutil.copy(driver_side / "qnvport.sys", windows / "system32/drivers/qnvport.sys")
        shutil.copy(driver_side / "devcon.exe", windows / "system32/devcon.exe")
        shutil.copy(windows / "system32/hostname.exe", self.artifacts / "devcon.exe")
        for folder in (windows / "inf", windows, self.artifacts):
            shutil.copy(inf, folder / "QN520xx.inf")

    def ui(self):
        """uidrive beside the program (same prefix, display and namespace)."""
        if not self._ui:
            self._ui = self._start_ui()
        return self._ui

    def _start_ui(self):
        if not self.pc:
            self.fail("uidrive before network()")
        if not self._display:
            self._start_display()
        if not self._wineserver:
            self._start_wineserver()
        exe = self.win32 / "tools/uidrive/uidrive.exe"
        if not exe.exists():
            self.fail(f"{exe} is not built")
        log = open(self.artifacts / "uidrive.log", "w")
        self._logs.append(log)
        p = self._spawn("uidrive-stderr", ["wine", exe], netns=self.pc, env=self._wine_env(),
                        stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        drive = UiDrive(p, log)
        drive.call("ping", timeout=60)
        return drive

    def screenshot(self, ui, window, name):
        """Writes artifacts/NAME.bmp and returns its path."""
        path = self.artifacts / f"{name}.bmp"
        ui.screenshot(window, path)
        return path

    def run_console(self, exe, args=(), timeout=30, cwd=None):
        """Runs a Windows console program under Wine in "pc" (no display, no
        uidrive) to its end; returns its exit code and standard output, with
        Windows line ends made plain."""
        if not self.pc:
            self.fail("run_console before network()")
        if not Path(exe).exists():
            self.fail(f"{exe} is not built")
        if not self._wineserver:
            self._start_wineserver()
        stderr = open(self.artifacts / f"{Path(exe).stem}.log", "a")
        self._logs.append(stderr)
        try:
            done = subprocess.run(["ip", "netns", "exec", self.pc, "wine", str(exe), *map(str, args)],
                                  env=self._wine_env(), cwd=cwd or self.artifacts, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, stderr=stderr, timeout=timeout)
        except subprocess.TimeoutExpired:
            self.fail(f"{Path(exe).name} {' '.join(map(str, args))} did not end within {timeout} s")
        return done.returncode, done.stdout.decode("cp1252", "replace").replace("\r\n", "\n")
