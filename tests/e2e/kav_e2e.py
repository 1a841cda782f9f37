"""End-to-end harness: the real program under Wine in a virtual desktop, the
switcher simulator on its COM port, real key presses and mouse clicks, and a
small Win32 probe that reads the program's windows.

Every scenario gets a private Wine prefix (cloned from a template that is
made once per build folder), its own Xvfb display and its own simulator.
Everything started here is stopped here: the simulator and Xvfb by process
id, Wine with `wineserver -k` on the scenario's own prefix.

Python 3 standard library only.
"""

import ctypes
import ctypes.util
import fcntl
import hashlib
import json
import os
import re
import select
import shutil
import signal
import socket
import subprocess
import sys
import time
import traceback

PRODUCT_NAME = "KTX-AV90R制御ソフト"
MODEL_NAME = "KTX-AV90R"
PROGRAM_EXE_NAME = "KAV90R_HotKeyController.exe"
PORT_ERROR_TEXT = "COMポートが開けません。\r\n接続、または設定を確認してください。"
# Window classes of the program (see app/win/Application.h and frmMain.h).
APP_WINDOW_CLASS = "TApplication"
MAIN_WINDOW_CLASS = "TFormMain"
DIALOG_CLASS = "#32770"
MENU_CLASS = "#32768"
# Captions of the status window's labels, in row order.
LABEL_CAPTIONS = {
    "hotkey": "ホットキー制御\u3000・・・",
    "power": "KTX-AV90R電源\u3000・・・",
    "blackout": "ブラックアウト\u3000・・・",
    "input": "選択中の入力ソース\u3000・・・",
}
# The ten default hot keys (xdotool names) and the frames they send.
DEFAULT_KEYS = ["ctrl+m", "ctrl+b", "F1", "F2", "F3", "F4", "F5", "F6", "F7", "F8"]
# The same as hot-key values (low byte key code, high byte Shift 1 Ctrl 2 Alt 4).
DEFAULT_HOTKEY_VALUES = [0x24D, 0x242] + list(range(0x70, 0x78))
HOTKEY_FUNCS = ["電源制御", "ブラックアウト"] + ["入力%d" % n for n in range(1, 9)]
SCREEN = (1024, 768)
SKIP = 77  # exit code CTest reads as "skipped"


class Failure(AssertionError):
    pass


def log(msg):
    sys.stdout.write("[%8.3f] %s\n" % (time.monotonic() - _T0, msg))
    sys.stdout.flush()


_T0 = time.monotonic()


def wait_for(fn, timeout, what, interval=0.1):
    """Polls fn until it returns something truthy; returns that value.
    Raises Failure naming `what` (and the last value seen) at the deadline."""
    deadline = time.monotonic() + timeout
    last = None
    while True:
        last = fn()
        if last:
            return last
        if time.monotonic() >= deadline:
            raise Failure("timed out after %.1f s waiting for %s (last: %r)" % (timeout, what, last))
        time.sleep(interval)


def holds_for(fn, duration, what, interval=0.1):
    """Checks that fn stays truthy for `duration` seconds (for "nothing else
    happens" checks). Raises Failure as soon as it turns false."""
    deadline = time.monotonic() + duration
    while True:
        value = fn()
        if not value:
            raise Failure("%s stopped holding" % what)
        if time.monotonic() >= deadline:
            return value
        time.sleep(interval)


def check(cond, msg):
    if not cond:
        raise Failure(msg)


def check_eq(actual, expected, what):
    if actual != expected:
        raise Failure("%s: expected %r, got %r" % (what, expected, actual))


# ---------------------------------------------------------------- Wine -----

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
# The one place that gives a prefix Windows-like fonts (shared with the shell scripts).
WINDOWS_LIKE = os.path.join(ROOT, "scripts", "wine-windows-like.sh")


def exe_arch(path):
    """win32 or win64, from the executable's PE header."""
    with open(path, "rb") as f:
        data = f.read(4096)
    pe = int.from_bytes(data[0x3C:0x40], "little")
    return "win32" if int.from_bytes(data[pe + 4:pe + 6], "little") == 0x14C else "win64"


def wine_for(program):
    """The Wine loader and prefix architecture that run `program`: the ones
    scripts/test.sh chose (KAV_WINE, KAV_WINEARCH), or, run by hand, the
    ones that fit the executable."""
    arch = exe_arch(program)
    wanted = os.environ.get("KAV_WINEARCH")
    if wanted and wanted != arch:
        raise Failure("%s is a %s program, but this run's Wine prefixes are %s" % (program, arch, wanted))
    loader = os.environ.get("KAV_WINE") if wanted else None
    if not loader:
        # The loader the shell scripts pick for that architecture.
        script = 'source "$1/scripts/wine-env.sh" && kav_wine_use "$2" && printf "%s" "$KAV_WINE"'
        loader = subprocess.run(["bash", "-c", script, "bash", ROOT, arch], capture_output=True,
                                text=True).stdout.strip()
    if not loader:
        raise Failure("no Wine loader for %s programs" % arch)
    return loader, arch


def choose_windows_build():
    """The Windows build that runs on this machine, decided as scripts/test.sh
    decides it (KAV_WIN_BUILD forces it): ("win32" or "win64", why). Exports
    its loader and architecture for the sessions of this process."""
    script = ('source "$1/scripts/wine-env.sh" && kav_choose_windows_build && '
              'printf "%s\\n" "$KAV_WIN_BUILD" "$KAV_WINE" "$KAV_WINEARCH" "$KAV_WIN_BUILD_WHY"')
    out = subprocess.run(["bash", "-c", script, "bash", ROOT], capture_output=True, text=True, check=True)
    build, loader, arch, why = out.stdout.splitlines()[:4]
    os.environ.update({"KAV_WIN_BUILD": build, "KAV_WINE": loader, "KAV_WINEARCH": arch})
    return build, why


def base_env(prefix, display, arch="win64"):
    env = {k: v for k, v in os.environ.items() if not k.startswith("WINE")}
    env.update({
        "WINEPREFIX": prefix,
        "WINEARCH": arch,
        "WINEDEBUG": os.environ.get("KAV_E2E_WINEDEBUG", "-all"),
        "WINEDLLOVERRIDES": "mscoree,mshtml,winemenubuilder.exe=",
        "LANG": "ja_JP.UTF-8",
        "LC_ALL": "ja_JP.UTF-8",
        "DISPLAY": display,
    })
    return env


class Xvfb:
    """A private X display; stopped by its process id."""

    def __init__(self, width=SCREEN[0], height=SCREEN[1], log_path=os.devnull):
        rfd, wfd = os.pipe()
        self.proc = subprocess.Popen(
            ["Xvfb", "-displayfd", str(wfd), "-screen", "0", "%dx%dx24" % (width, height),
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(wfd,), stdout=subprocess.DEVNULL, stderr=open(log_path, "w"))
        os.close(wfd)
        # Xvfb may write the number more than once; the read end stays open
        # until Xvfb ends, or a late write kills it.
        self.rfd = rfd
        ready, _, _ = select.select([rfd], [], [], 20)
        number = os.read(rfd, 64).decode().strip().split("\n")[0] if ready else ""
        if not number:
            self.stop()
            raise Failure("Xvfb did not start")
        self.display = ":" + number

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc = None
        if self.rfd is not None:
            os.close(self.rfd)
            self.rfd = None


def wineserver_kill(env):
    for args in (["wineserver", "-k"], ["wineserver", "-w"]):
        try:
            subprocess.run(args, env=env, timeout=20, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        except subprocess.TimeoutExpired:
            pass


# Files that Wine never writes in place are hard-linked into each scenario's
# prefix; everything else (registry, ini files) is copied.
_LINKED = {".dll", ".exe", ".sys", ".drv", ".ocx", ".cpl", ".acm", ".tlb", ".ax", ".ds", ".nls",
           ".ttf", ".fon", ".mui", ".manifest", ".cat"}


def _clone_file(src, dst):
    if os.path.splitext(src)[1].lower() in _LINKED and os.sep + "windows" + os.sep in src:
        try:
            os.link(src, dst)
            return dst
        except OSError:
            pass
    return shutil.copy2(src, dst)


def _wine_version(wine):
    try:
        return subprocess.run([wine, "--version"], capture_output=True, text=True, timeout=30).stdout.strip()
    except Exception:
        return "unknown"


def ensure_template(template_dir, wine, arch="win64"):
    """Makes (once per build folder, Wine version and architecture) a prefix
    with Windows-like fonts whose default desktop is the "shell" desktop
    with taskbar, so that every program of a scenario joins the desktop that
    explorer opened."""
    os.makedirs(os.path.dirname(template_dir), exist_ok=True)
    with open(WINDOWS_LIKE, "rb") as f:
        setup_id = hashlib.sha1(f.read()).hexdigest()[:12]
    stamp_text = "%s %s windows-like %s\n" % (_wine_version(wine), arch, setup_id)
    stamp = os.path.join(template_dir, ".kav-template")
    with open(template_dir + ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        try:
            with open(stamp) as f:
                if f.read() == stamp_text:
                    return
        except OSError:
            pass
        log("making the Wine template prefix (once per build folder)")
        tmp = template_dir + ".tmp"
        shutil.rmtree(tmp, ignore_errors=True)
        shutil.rmtree(template_dir, ignore_errors=True)
        x = Xvfb()
        env = base_env(tmp, x.display, arch)
        try:
            subprocess.run([wine, "wineboot", "-i"], env=env, timeout=300,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            subprocess.run(["bash", WINDOWS_LIKE, wine], env=env, timeout=300, check=True,
                           stdout=subprocess.DEVNULL)
            for key, name, value in (("HKCU\\Software\\Wine\\Explorer", "Desktop", "shell"),
                                     ("HKCU\\Software\\Wine\\Explorer\\Desktops", "shell",
                                      "%dx%d" % SCREEN)):
                subprocess.run([wine, "reg", "add", key, "/v", name, "/d", value, "/f"], env=env, timeout=120,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        finally:
            wineserver_kill(env)
            x.stop()
        if not os.path.isdir(os.path.join(tmp, "drive_c")):
            raise Failure("wineboot did not make a prefix")
        with open(os.path.join(tmp, ".kav-template"), "w") as f:
            f.write(stamp_text)
        os.rename(tmp, template_dir)


# ----------------------------------------------------------- simulator -----

class Simulator:
    """The switcher simulator on one end of a pseudo-terminal, its other end
    linked as a COM port of the prefix."""

    def __init__(self, binary, link, log_path, args=()):
        self.log_path = log_path
        self.link = link
        self.proc = subprocess.Popen([binary, "--link", link, "--log", log_path] + list(args),
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        ready, _, _ = select.select([self.proc.stdout], [], [], 15)
        line = self.proc.stdout.readline().strip() if ready else ""
        m = re.match(r"READY (\S+) (\d+)", line)
        if not m:
            err = ""
            if self.proc.poll() is not None:
                err = self.proc.stderr.read()
            self.stop()
            raise Failure("simulator did not start: %r %s" % (line, err))
        self.tty, self.control_port = m.group(1), int(m.group(2))
        self.sock = socket.create_connection(("127.0.0.1", self.control_port), timeout=10)
        self.rfile = self.sock.makefile("r", encoding="utf-8", newline="\n")

    def control(self, command):
        self.sock.sendall((command + "\n").encode())
        reply = self.rfile.readline().strip()
        if not reply.startswith("ok"):
            raise Failure("simulator refused %r: %r" % (command, reply))
        return reply[2:].strip()

    def frames(self):
        """Frames received so far, from the log: list of (unix time, text)."""
        out = []
        try:
            with open(self.log_path, encoding="utf-8") as f:
                for line in f:
                    line = line.strip()
                    if line:
                        try:
                            d = json.loads(line)
                        except ValueError:
                            continue  # a line still being written
                        out.append((d["t"], d["frame"]))
        except OSError:
            pass
        return out

    def frame_texts(self):
        return [f for _, f in self.frames()]

    def stop(self):
        try:
            if getattr(self, "sock", None):
                self.sock.close()
        except OSError:
            pass
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        self.proc = None


# ---------------------------------------------------------------- input -----

class Keyboard:
    """Key presses through the XTEST extension (what xdotool uses), without a
    process start per key, so that the time of a press is known to the
    millisecond. Falls back to xdotool."""

    def __init__(self, display, env):
        self.env = env
        self.dpy = None
        try:
            self.x11 = ctypes.CDLL(ctypes.util.find_library("X11") or "libX11.so.6")
            self.xtst = ctypes.CDLL(ctypes.util.find_library("Xtst") or "libXtst.so.6")
            self.x11.XOpenDisplay.restype = ctypes.c_void_p
            self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
            self.x11.XStringToKeysym.restype = ctypes.c_ulong
            self.x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
            self.x11.XKeysymToKeycode.restype = ctypes.c_ubyte
            self.x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
            self.x11.XFlush.argtypes = [ctypes.c_void_p]
            self.x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
            self.x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
            self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
            self.dpy = self.x11.XOpenDisplay(display.encode())
        except OSError:
            self.dpy = None

    _NAMES = {"ctrl": "Control_L", "alt": "Alt_L", "shift": "Shift_L", "pause": "Pause", "break": "Break"}

    def press(self, combo):
        """Presses and releases a combination like "ctrl+m" or "F3"; returns
        the time (time.time()) at which the key-down was sent."""
        if not self.dpy:
            t = time.time()
            subprocess.run(["xdotool", "key", combo], env=self.env, check=True)
            return t
        codes = []
        for part in combo.split("+"):
            name = self._NAMES.get(part.lower(), part)
            code = self.x11.XKeysymToKeycode(self.dpy, self.x11.XStringToKeysym(name.encode()))
            if not code:
                raise Failure("no key code for %r" % part)
            codes.append(code)
        for c in codes[:-1]:
            self.xtst.XTestFakeKeyEvent(self.dpy, c, 1, 0)
        t = time.time()
        self.xtst.XTestFakeKeyEvent(self.dpy, codes[-1], 1, 0)
        self.x11.XSync(self.dpy, 0)
        for c in reversed(codes):
            self.xtst.XTestFakeKeyEvent(self.dpy, c, 0, 0)
        self.x11.XSync(self.dpy, 0)
        return t

    def close(self):
        if self.dpy:
            self.x11.XCloseDisplay(self.dpy)
            self.dpy = None


# ---------------------------------------------------------------- probe -----

def rect_center(r):
    return ((r[0] + r[2]) // 2, (r[1] + r[3]) // 2)


class Session:
    """One scenario's world: display, Wine desktop, simulator, program."""

    def __init__(self, paths, name):
        self.paths = paths
        self.name = name
        self.work = os.path.join(paths.work_root, name)
        shutil.rmtree(self.work, ignore_errors=True)
        os.makedirs(self.work)
        self.prefix = os.path.join(self.work, "prefix")
        self.wine, self.arch = wine_for(paths.program)
        self.xvfb = None
        self.env = None
        self.keyboard = None
        self.explorer = None
        self.sim = None
        self.programs = []
        self.shots = 0

    # -- set-up ----------------------------------------------------------
    def start_desktop(self):
        template = "%s-%s" % (self.paths.template, self.arch)
        ensure_template(template, self.wine, self.arch)
        shutil.copytree(template, self.prefix, symlinks=True, copy_function=_clone_file)
        self.xvfb = Xvfb(log_path=self._file("xvfb.err"))
        self.env = base_env(self.prefix, self.xvfb.display, self.arch)
        self.keyboard = Keyboard(self.xvfb.display, self.env)
        # One wineserver for the whole scenario, up before the first Wine
        # process: two processes that both start a server can hang.
        subprocess.run(["wineserver", "-p"], env=self.env, timeout=60, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        self.explorer = subprocess.Popen([self.wine, "explorer", "/desktop=shell,%dx%d" % SCREEN], env=self.env,
                                         stdout=subprocess.DEVNULL, stderr=open(self._file("explorer.err"), "w"))
        # A Wine process started while explorer is still making the desktop
        # can wait a long time for it; give explorer a moment first.
        time.sleep(1.5)
        wait_for(lambda: self.probe_json("tray", quiet=True), 90, "the Wine desktop with its taskbar", 0.3)
        # Keys go to the X window under the pointer: the desktop.
        self.xdotool("mousemove", "500", "300")
        log("desktop up on %s" % self.xvfb.display)

    def com_link(self, number):
        return os.path.join(self.prefix, "dosdevices", "com%d" % number)

    def start_simulator(self, com=5, args=()):
        """The COM link is made after the desktop is up: Wine maps the host's
        serial devices to com1... when its services start."""
        check(self.env is not None, "start the desktop first")
        self.sim = Simulator(self.paths.simulator, self.com_link(com), self._file("simulator.log"), args)
        log("simulator on COM%d (%s), control port %d" % (com, self.sim.tty, self.sim.control_port))
        return self.sim

    def app_data_folder(self):
        return os.path.join(self.prefix, "drive_c", "ProgramData", "KOVA", "KAV90R_HotKeyController")

    def ini_path(self):
        return os.path.join(self.app_data_folder(), "KAV90R_HotKeyController.ini")

    def write_ini(self, hotkey=None, system=None, keys=DEFAULT_HOTKEY_VALUES, extra=""):
        """Writes the settings file the way Windows would hold it (ANSI code
        page 932, CR LF), as the settings dialog leaves it. hotkey: keys of
        section [HotKey]; keys: the values of HotKey0..HotKey9 (None: no
        hot-key sections, as before the first settings dialog)."""
        os.makedirs(self.app_data_folder(), exist_ok=True)
        lines = []
        if system is not None:
            lines.append("[System]")
            lines += ["%s=%s" % kv for kv in system.items()]
        if hotkey is not None:
            lines.append("[HotKey]")
            lines += ["%s=%s" % (k, int(v) if isinstance(v, bool) else v) for k, v in hotkey.items()]
        for i, value in enumerate(keys or []):
            lines += ["[HotKey%d]" % i, "HotKeyDefault=%d" % DEFAULT_HOTKEY_VALUES[i], "HotKey=%d" % value,
                      "HotKeyFunc=%s" % HOTKEY_FUNCS[i]]
        text = "\r\n".join(lines) + "\r\n" + extra
        with open(self.ini_path(), "wb") as f:
            f.write(text.encode("cp932"))

    def read_ini(self):
        with open(self.ini_path(), "rb") as f:
            return f.read().decode("cp932")

    def ini_values(self):
        """The settings file as {section: {key: value}}."""
        out, section = {}, None
        for line in self.read_ini().splitlines():
            line = line.strip()
            if line.startswith("[") and line.endswith("]"):
                section = out.setdefault(line[1:-1], {})
            elif "=" in line and section is not None:
                k, v = line.split("=", 1)
                section[k] = v
        return out

    def start_program(self, args=(), name="program", env=None):
        """Starts the program (env: extra environment, e.g. WINEDEBUG)."""
        full_env = dict(self.env, **(env or {}))
        p = subprocess.Popen([self.wine, self.paths.program] + list(args), env=full_env, cwd=self.work,
                             stdout=open(self._file(name + ".out"), "w"), stderr=open(self._file(name + ".err"), "w"))
        p.kav_started = time.time()
        self.programs.append(p)
        log("started %s (pid %d)" % (os.path.basename(self.paths.program), p.pid))
        return p

    # -- observation -----------------------------------------------------
    def probe_json(self, *args, quiet=False):
        try:
            r = subprocess.run([self.wine, self.paths.probe] + list(args), env=self.env, capture_output=True,
                               timeout=8 if quiet else 60)
        except subprocess.TimeoutExpired:
            if quiet:
                return None
            raise Failure("probe %s did not answer" % " ".join(args))
        if r.returncode != 0:
            if quiet:
                return None
            raise Failure("probe %s failed (%d): %s %s" % (" ".join(args), r.returncode,
                                                          r.stdout.decode("utf-8", "replace"),
                                                          r.stderr.decode("utf-8", "replace")[-500:]))
        try:
            return json.loads(r.stdout.decode("utf-8"))
        except ValueError:
            if quiet:
                return None
            raise

    def probe(self, *args):
        return self.probe_json(*args)

    def screen(self):
        """All windows of the program (hidden ones too) and the desktop facts.
        The listing races windows that come and go (a dialog closing while
        its children are read); one that fails is asked again once, so a
        listing that keeps failing still fails the scenario."""
        try:
            return self.probe_json("list", "--exe", PROGRAM_EXE_NAME)
        except Failure as e:
            log("window listing failed once, asking again: %s" % str(e).strip())
            time.sleep(0.2)
            return self.probe_json("list", "--exe", PROGRAM_EXE_NAME)

    def windows(self, cls=None, title=None, visible=None):
        out = []
        for w in self.screen()["windows"]:
            if cls is not None and w["class"] != cls:
                continue
            if title is not None and w["text"] != title:
                continue
            if visible is not None and w["visible"] != visible:
                continue
            out.append(w)
        return out

    def main_window(self):
        ws = self.windows(cls=MAIN_WINDOW_CLASS)
        return ws[0] if ws else None

    @staticmethod
    def value_label(win, key):
        """The value label (probe record) on the row of the caption `key`."""
        kids = win["children"]
        cap = [c for c in kids if c["text"] == LABEL_CAPTIONS[key]]
        if not cap:
            return None
        top = cap[0]["rect"][1]
        vals = [c for c in kids if c is not cap[0] and c["rect"][1] == top and c["rect"][0] > cap[0]["rect"][0]]
        return vals[0] if vals else None

    @staticmethod
    def labels_of(win):
        """The status window's values by row: {'hotkey': '有効', 'power': 'ON', ...}.
        Each value label is the label on the same row as its caption."""
        out = {}
        for key in LABEL_CAPTIONS:
            v = Session.value_label(win, key)
            if v:
                out[key] = v["text"]
        return out

    def labels(self):
        w = self.main_window()
        return self.labels_of(w) if w else {}

    def wait_labels(self, expected, timeout=10):
        """Waits until every label in `expected` shows its value."""
        def ok():
            got = self.labels()
            return got if all(got.get(k) == v for k, v in expected.items()) else None
        try:
            return wait_for(ok, timeout, "labels %r" % expected, 0.2)
        except Failure:
            raise Failure("labels: expected %r, screen shows %r" % (expected, self.labels()))

    @staticmethod
    def box_info(w):
        statics = [c for c in w["children"] if c["class"].lower() == "static" and c["text"]]
        buttons = [c["text"] for c in w["children"] if c["class"].lower() == "button" and c["visible"]]
        text = [c["text"] for c in statics if c["id"] == 0xFFFF] or [c["text"] for c in statics]
        return {"hwnd": w["hwnd"], "title": w["text"], "text": text[0] if text else "", "buttons": buttons,
                "owner": w["owner"], "rect": w["rect"]}

    def message_boxes(self):
        """Visible message boxes of the program: title, text, buttons, owner."""
        return [self.box_info(w) for w in self.windows(cls=DIALOG_CLASS, visible=True)
                if any(c["class"].lower() == "button" for c in w["children"])
                and not any(c["class"].lower() in ("systabcontrol32", "combobox") for c in w["children"])]

    def wait_message_box(self, text=None, title=None, timeout=15):
        def find():
            for b in self.message_boxes():
                if (text is None or b["text"] == text) and (title is None or b["title"] == title):
                    return b
            return None
        try:
            return wait_for(find, timeout, "a message box %r" % (text,), 0.2)
        except Failure:
            raise Failure("no message box with text %r; boxes now: %r" % (text, self.message_boxes()))

    def answer_box(self, box, button):
        self.probe_json("click", "--hwnd", str(box["hwnd"]), "--text", button)
        wait_for(lambda: not any(b["hwnd"] == box["hwnd"] for b in self.message_boxes()), 10,
                 "the message box to close")

    def log_files(self):
        folder = os.path.join(self.app_data_folder(), "Log")
        try:
            names = sorted(n for n in os.listdir(folder)
                           if n.lower().endswith(".log") and "_unhandled" not in n.lower())
        except OSError:
            return []
        return [os.path.join(folder, n) for n in names]

    @staticmethod
    def read_log(path):
        """Lines of one log file as (time stamp, text); checks the line format."""
        with open(path, "rb") as f:
            raw = f.read()
        check(not raw.startswith(b"\xef\xbb\xbf"), "log file %s starts with a byte-order mark" % path)
        out = []
        for line in raw.decode("utf-8").split("\r\n"):
            if not line:
                continue
            m = re.match(r"^(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2}:\d{3}) (.*)$", line)
            check(m, "log line has the wrong form: %r" % line)
            out.append((m.group(1), m.group(2)))
        return out

    def log_texts(self):
        out = []
        for p in self.log_files():
            out += [t for _, t in self.read_log(p)]
        return out

    # -- input -----------------------------------------------------------
    def xdotool(self, *args):
        subprocess.run(["xdotool"] + list(args), env=self.env, check=True, timeout=20)

    def key(self, combo):
        return self.keyboard.press(combo)

    def click(self, x, y, button=1, double=False):
        self.xdotool("mousemove", str(x), str(y))
        if double:
            self.xdotool("click", "--repeat", "2", "--delay", "80", str(button))
        else:
            self.xdotool("click", str(button))

    def tray_slot(self, index=0):
        t = self.probe_json("tray")
        return t["slots"][index]

    def tray_color(self, index=0):
        """Average colour of the middle of a notification-area slot."""
        r = self.tray_slot(index)
        cx, cy = rect_center(r)
        return self.pixel_average(cx - 3, cy - 3, 6, 6)

    def pixel_average(self, x, y, w, h):
        raw = subprocess.run(["import", "-display", self.xvfb.display, "-window", "root", "-crop",
                              "%dx%d+%d+%d" % (w, h, x, y), "+repage", "-depth", "8", "rgb:-"],
                             capture_output=True, check=True, timeout=30).stdout
        n = len(raw) // 3
        if n == 0:
            return (0, 0, 0)
        return tuple(sum(raw[i::3]) // n for i in range(3))

    @staticmethod
    def is_red(c):
        return c[0] > 150 and c[1] < 100 and c[2] < 100

    @staticmethod
    def is_grey(c):
        return max(c) - min(c) < 40 and 60 < c[0] < 230

    # The tray menu's items in order ("-" = separator), by access key.
    TRAY_MENU = ["h", "-", "s", "-", "w", "a", "-", "x"]

    def tray_menu(self, access_key):
        """Opens the tray icon's menu with a right click and clicks the item
        with that access key. (A key press would need the menu to have the
        keyboard, which Wine gives it only while a window of the program is
        in front.)"""
        menu = self.open_tray_menu()
        x, y = self.menu_item_point(menu, self.TRAY_MENU, access_key)
        # Onto the menu first: the pointer leaves the icon and its tool-tip goes.
        self.xdotool("mousemove", str(x), str(menu["rect"][1] + 5))
        time.sleep(0.15)
        self.xdotool("mousemove", str(x), str(y))
        time.sleep(0.15)
        self.xdotool("click", "1")
        wait_for(lambda: not self.windows(cls=MENU_CLASS, visible=True), 10, "the tray menu to close")

    @staticmethod
    def menu_item_point(menu, layout, key, border=3, separator=9):
        """Middle of an item of a popup menu window: Wine draws every text item
        equally high and separators `separator` pixels high."""
        r = menu["rect"]
        texts = sum(1 for k in layout if k != "-")
        seps = len(layout) - texts
        item_h = ((r[3] - r[1]) - 2 * border - seps * separator) / texts
        y = r[1] + border
        for k in layout:
            h = separator if k == "-" else item_h
            if k == key:
                return ((r[0] + r[2]) // 2, int(y + h / 2))
            y += h
        raise Failure("no menu item %r" % key)

    def open_tray_menu(self):
        x, y = rect_center(self.tray_slot())
        self.click(x, y, 3)
        return wait_for(lambda: [w for w in self.windows(cls=MENU_CLASS, visible=True)], 10, "the tray menu")[0]

    def close_box_point(self, win):
        """Screen point of a window's close box (fixed single border)."""
        m = self.screen()["metrics"]
        r = win["rect"]
        return (r[2] - m["cxfixedframe"] - m["cxsize"] // 2 - 2, r[1] + m["cyfixedframe"] + m["cycaption"] // 2)

    # -- evidence --------------------------------------------------------
    def _file(self, name):
        return os.path.join(self.work, name)

    def screenshot(self, label="screen"):
        self.shots += 1
        path = self._file("%02d-%s.png" % (self.shots, label))
        if self.xvfb:
            subprocess.run(["import", "-display", self.xvfb.display, "-window", "root", path],
                           timeout=30, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            log("screenshot %s" % path)
        return path

    def wait_frames(self, expected, timeout=10, since=0):
        """Waits until the frames received (from index `since`) are exactly
        `expected` (a list); returns the (time, frame) pairs."""
        def ok():
            got = self.sim.frames()[since:]
            return got if [f for _, f in got] == list(expected) else None
        try:
            return wait_for(ok, timeout, "frames %r" % (expected,), 0.05)
        except Failure:
            raise Failure("frames: expected %r, simulator got %r" % (expected, self.sim.frame_texts()[since:]))

    def program_alive(self, p=None):
        p = p or self.programs[0]
        return p.poll() is None

    # -- tear-down -------------------------------------------------------
    def close(self):
        try:
            if os.path.isdir(self.app_data_folder()):
                shutil.copytree(self.app_data_folder(), self._file("appdata"), dirs_exist_ok=True)
        except OSError:
            pass
        if self.keyboard:
            self.keyboard.close()
        if self.sim:
            self.sim.stop()
        if self.env:
            wineserver_kill(self.env)
        for p in self.programs + ([self.explorer] if self.explorer else []):
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()
        if self.xvfb:
            self.xvfb.stop()
        if not os.environ.get("KAV_E2E_KEEP_PREFIX"):
            shutil.rmtree(self.prefix, ignore_errors=True)


# ------------------------------------------------------------- registry ----

SCENARIOS = {}


def scenario(timeout=120):
    """Registers a scenario function `def name(s: Session)`."""
    def deco(fn):
        SCENARIOS[fn.__name__] = (fn, timeout)
        return fn
    return deco


class Paths:
    def __init__(self, program, probe, simulator, work_root):
        self.program = program
        self.probe = probe
        self.simulator = simulator
        self.work_root = work_root
        self.template = os.path.join(work_root, "template-prefix")


def run_scenario(paths, name):
    fn, _ = SCENARIOS[name]
    s = Session(paths, name)
    log("== scenario %s (folder %s)" % (name, s.work))
    ok = False
    try:
        fn(s)
        ok = True
    except Exception as e:  # report every failure the same way
        log("FAILED: %s" % e)
        traceback.print_exc(file=sys.stdout)
        try:
            s.screenshot("failure")
            log("program windows at failure: %s" % json.dumps(s.screen(), ensure_ascii=False)[:4000])
        except Exception:
            pass
    finally:
        if ok:
            s.screenshot("end")
        s.close()
    log("== %s %s" % (name, "passed" if ok else "FAILED"))
    return ok
