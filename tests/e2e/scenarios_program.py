"""Scenarios of the resident program: start-up with a stored port, the ten
hot keys, the power-up rule, a missing port, hiding, exit, a second start,
the log of one run, a vanishing switcher and the About dialog."""

import time

from kav_e2e import (DEFAULT_KEYS, LABEL_CAPTIONS, MAIN_WINDOW_CLASS, APP_WINDOW_CLASS,
                     PORT_ERROR_TEXT, PRODUCT_NAME, MODEL_NAME, Failure, check, check_eq, holds_for, log,
                     scenario, wait_for)

WS_EX_TOOLWINDOW = 0x80

DEFAULT_SETTINGS = {
    "ComPort": "COM5",
    "PowerUpOnAppStart": 0,
    "PowerDownOffAppStart": 0,
    "HotKeyEnableOnAppStart": 1,
    "PowerUpOnHotKeyCtrl": 1,
    "WindowVisible": 1,
}


def boot(s, settings=None, sim_args=("--power", "1"), com=5, wait_started=True, args=(), env=None, extra=""):
    """Desktop, simulator on COM<com> (unless sim_args is None), settings
    file (extra: more sections as text), program (with args and extra
    environment); waits for the end of the deferred start-up."""
    s.start_desktop()
    if sim_args is not None:
        s.start_simulator(com, sim_args)
    ini = dict(DEFAULT_SETTINGS)
    ini.update(settings or {})
    s.write_ini(hotkey=ini, extra=extra)
    p = s.start_program(args, env=env)
    if wait_started:
        wait_for(lambda: "起動" in s.log_texts(), 30, "the log line 起動")
    return p


class Presser:
    """Presses hot keys with enough time between them that the 1000 ms
    suppression window of the previous accepted press has ended."""

    GAP = 1.25

    def __init__(self, s):
        self.s = s
        self.last = 0.0

    def press(self, combo):
        delay = self.last + self.GAP - time.time()
        if delay > 0:
            time.sleep(delay)
        self.last = self.s.key(combo)
        return self.last

    def press_now(self, combo):
        """A press inside the suppression window (does not restart the gap)."""
        return self.s.key(combo)


def expect_key_frame(s, presser, combo, frame, labels=None):
    before = len(s.sim.frames())
    t = presser.press(combo)
    got = s.wait_frames([frame], 5, since=before)
    log("%s -> %s in %.1f ms" % (combo, frame, (got[0][0] - t) * 1000))
    if labels:
        s.wait_labels(labels)


def client_origin(win):
    r, (cw, ch) = win["rect"], win["client"]
    border = ((r[2] - r[0]) - cw) // 2
    return r[0] + border, r[3] - border - ch


def check_status_window(s, win):
    """Title, size, place and the label layout of the status window."""
    screen = s.screen()
    check_eq(win["text"], PRODUCT_NAME, "status window title")
    check(win["visible"], "status window is not visible")
    r = win["rect"]
    outer_w, outer_h = r[2] - r[0], r[3] - r[1]
    check_eq(win["client"][0], 214, "client width of the status window")
    check_eq(outer_h, 125, "outer height of the status window")
    work = screen["workArea"]
    w, h = work[2] - work[0], work[3] - work[1]
    check_eq((r[0], r[1]), (w - outer_w - 5, h - outer_h - 5), "status window place (bottom-right of the work area)")
    style = win["style"]
    check(not style & 0x00040000, "status window must not be resizable")       # WS_THICKFRAME
    check(not style & 0x00030000, "status window has minimise/maximise boxes")  # WS_MINIMIZEBOX|WS_MAXIMIZEBOX
    ox, oy = client_origin(win)
    rows = [10, 30, 50, 70]
    for row, (key, caption) in zip(rows, LABEL_CAPTIONS.items()):
        cap = [c for c in win["children"] if c["text"] == caption]
        check(cap, "caption label %r missing" % caption)
        check_eq((cap[0]["rect"][0] - ox, cap[0]["rect"][1] - oy), (25, row), "place of %r" % caption)
        val = [c for c in win["children"] if c["rect"][1] == cap[0]["rect"][1] and c["rect"][0] - ox == 155]
        check(val, "value label of %r not at x=155" % caption)


def check_not_on_taskbar(s):
    bars = s.probe("list", "--class", "Shell_TrayWnd")["windows"]
    texts = [c["text"] for b in bars for c in b["children"]]
    check(PRODUCT_NAME not in texts, "the program shows on the taskbar: %r" % texts)


@scenario(timeout=150)
def startup_with_stored_port(s):
    """A stored port: power-up and status request on the wire, labels from
    the reply, hot keys on (red tray icon), window at the bottom-right."""
    boot(s, {"PowerUpOnAppStart": 1}, sim_args=("--power", "0", "--blackout", "0", "--input", "3"))
    got = s.wait_frames(["W1", "C"], 10)
    check(got[1][0] - got[0][0] >= 0.09, "the status request followed the power-up after %.0f ms, not >= 100 ms"
          % ((got[1][0] - got[0][0]) * 1000))
    labels = s.wait_labels({"hotkey": "有効", "power": "ON", "blackout": "OFF", "input": "3"})
    log("labels %r" % labels)
    win = wait_for(lambda: (lambda w: w if w and w["visible"] else None)(s.main_window()), 10, "the status window")
    check_status_window(s, win)
    apps = s.windows(cls=APP_WINDOW_CLASS)
    check(apps, "no application window")
    check_eq(apps[0]["text"], PRODUCT_NAME, "application title")
    check_eq(apps[0]["exStyle"], WS_EX_TOOLWINDOW, "extended style of the application window")
    check(not apps[0]["visible"], "the application window is visible")
    check_not_on_taskbar(s)
    colour = wait_for(lambda: (lambda c: c if s.is_red(c) else None)(s.tray_color()), 10, "a red tray icon")
    log("tray icon colour %r" % (colour,))
    s.screenshot("started")
    holds_for(lambda: s.sim.frame_texts() == ["W1", "C"], 1.5, "no further frames after start-up")
    texts = s.log_texts()
    check(texts and texts[0].startswith("起動準備, コンピューター名："), "first log line: %r" % texts[:1])
    check("IPアドレス：" in texts[0], "first log line without the address part: %r" % texts[0])
    check_eq(texts[1:], ["起動"], "log lines after the start-up line")


@scenario(timeout=180)
def ten_hotkeys_send_their_frames(s):
    """Each default hot key sends its frame and the labels follow the
    replies; a second press within 1000 ms sends nothing."""
    boot(s, {}, sim_args=("--power", "1", "--blackout", "0", "--input", "1"))
    s.wait_frames(["C"], 10)
    s.wait_labels({"hotkey": "有効", "power": "ON", "blackout": "OFF", "input": "1"})
    p = Presser(s)
    # Inputs first (the switcher answers them only while it is on), then
    # blackout, then power; with power on the power-up rule adds nothing.
    for n in range(1, 9):
        expect_key_frame(s, p, DEFAULT_KEYS[n + 1], "S%d" % n, {"input": str(n)})
    expect_key_frame(s, p, DEFAULT_KEYS[1], "B1", {"blackout": "ON"})
    expect_key_frame(s, p, DEFAULT_KEYS[1], "B0", {"blackout": "OFF"})
    s.screenshot("after-inputs")

    # Second press of the same key, and of another key, inside 1000 ms.
    before = len(s.sim.frames())
    t = p.press("F2")
    time.sleep(0.2)
    p.press_now("F2")
    time.sleep(0.2)
    p.press_now("F7")
    s.wait_frames(["S2"], 5, since=before)
    holds_for(lambda: len(s.sim.frames()) == before + 1, max(0.0, t + 0.95 - time.time()),
              "only one frame inside the suppression window")
    time.sleep(0.6)
    check_eq(s.sim.frame_texts()[before:], ["S2"], "frames after three presses inside 1000 ms")
    # After the window the next press acts again.
    expect_key_frame(s, p, "F7", "S7", {"input": "7"})

    expect_key_frame(s, p, DEFAULT_KEYS[0], "W0", {"power": "OFF"})
    expect_key_frame(s, p, DEFAULT_KEYS[0], "W1", {"power": "ON"})
    check(not s.message_boxes(), "unexpected message box: %r" % s.message_boxes())


@scenario(timeout=150)
def blackout_with_power_off_powers_up_first(s):
    """Power reported off and the power-up rule set: the blackout key sends
    W1, then B1 after the power command's pause; later keys send only their
    own frame."""
    boot(s, {"PowerUpOnHotKeyCtrl": 1}, sim_args=("--power", "0"))
    s.wait_frames(["C"], 10)  # a switcher in standby does not answer it
    s.wait_labels({"hotkey": "有効", "power": "OFF", "blackout": "OFF", "input": "1"})
    p = Presser(s)
    before = len(s.sim.frames())
    p.press("ctrl+b")
    got = s.wait_frames(["W1", "B1"], 5, since=before)
    check(got[1][0] - got[0][0] >= 0.09, "B1 came %.0f ms after W1, not after the 100 ms pause"
          % ((got[1][0] - got[0][0]) * 1000))
    s.wait_labels({"power": "ON", "blackout": "ON"})
    expect_key_frame(s, p, "F4", "S4", {"input": "4"})
    s.screenshot("powered-up")


@scenario(timeout=150)
def blackout_with_power_off_without_power_up_rule(s):
    """Power reported off and the power-up rule cleared: only the blackout
    frame is sent; the switcher in standby leaves the labels as they are."""
    boot(s, {"PowerUpOnHotKeyCtrl": 0}, sim_args=("--power", "0"))
    s.wait_frames(["C"], 10)
    p = Presser(s)
    before = len(s.sim.frames())
    p.press("ctrl+b")
    s.wait_frames(["B1"], 5, since=before)
    holds_for(lambda: len(s.sim.frames()) == before + 1, 1.5, "nothing but B1")
    check_eq(s.labels().get("power"), "OFF", "power label")
    check_eq(s.labels().get("blackout"), "OFF", "blackout label")
    s.screenshot("standby")


@scenario(timeout=150)
def missing_port_gives_one_error_box(s):
    """A stored port that does not exist: exactly one port error box, then
    hot-key control comes on anyway and hot keys act."""
    boot(s, {"ComPort": "COM9", "PowerUpOnAppStart": 1}, sim_args=None, wait_started=False)
    box = s.wait_message_box(PORT_ERROR_TEXT, timeout=30)
    check_eq(box["title"], PRODUCT_NAME, "caption of the port error box")
    check_eq(box["buttons"], ["OK"], "buttons of the port error box")
    s.screenshot("port-error")
    holds_for(lambda: len(s.message_boxes()) == 1, 2.0, "exactly one message box")
    # The deferred start-up waits in the box: hot keys are not on yet and
    # "起動" is not logged yet.
    check_eq(s.labels().get("hotkey"), "無効", "hot-key label while the box is open")
    check("起動" not in s.log_texts(), "起動 logged before the port error box was answered")
    s.answer_box(box, "OK")
    s.wait_labels({"hotkey": "有効"})
    wait_for(lambda: s.is_red(s.tray_color()), 10, "a red tray icon")
    wait_for(lambda: "起動" in s.log_texts(), 10, "the log line 起動")
    check(s.main_window()["visible"], "status window not shown after the error box")
    # A hot key acts: the power-up rule tries the missing port and says so.
    Presser(s).press("F2")
    box = s.wait_message_box(PORT_ERROR_TEXT, timeout=10)
    holds_for(lambda: len(s.message_boxes()) == 1, 1.0, "one box per press")
    s.answer_box(box, "OK")
    check(s.program_alive(), "the program ended")


@scenario(timeout=150)
def close_box_hides_and_program_keeps_working(s):
    """The close box only hides the status window; hot keys keep working,
    the labels keep following, and the tray menu shows the window again."""
    p = boot(s, {}, sim_args=("--power", "1", "--input", "1"))
    s.wait_frames(["C"], 10)
    win = wait_for(lambda: (lambda w: w if w and w["visible"] else None)(s.main_window()), 10, "the status window")
    x, y = s.close_box_point(win)
    s.click(x, y)
    wait_for(lambda: not s.main_window()["visible"], 10, "the status window to hide")
    holds_for(lambda: s.program_alive(p), 1.5, "the program running after the close box")
    s.screenshot("hidden")
    expect_key_frame(s, Presser(s), "F3", "S3", {"input": "3"})
    check(not s.main_window()["visible"], "a hot key showed the hidden window")
    s.tray_menu("w")
    win = wait_for(lambda: (lambda w: w if w and w["visible"] else None)(s.main_window()), 10,
                   "the status window shown again")
    check_status_window(s, win)
    check_eq(s.labels_of(win).get("input"), "3", "input label after hiding")
    # The close box hides it again, as often as it is shown.
    s.click(*s.close_box_point(win))
    wait_for(lambda: not s.main_window()["visible"], 10, "the status window to hide again")
    holds_for(lambda: s.program_alive(p), 1.0, "the program running")


def exit_from_tray(s, p):
    s.tray_menu("x")
    wait_for(lambda: p.poll() is not None, 20, "the program to end")
    return p.returncode


@scenario(timeout=150)
def exit_with_power_down_sends_w0(s):
    """終了(&X) with power-down at exit set: W0 goes out before the program
    ends; the settings and the hot-key table are saved."""
    p = boot(s, {"PowerDownOffAppStart": 1}, sim_args=("--power", "1"))
    s.wait_frames(["C"], 10)
    s.wait_labels({"power": "ON"})
    code = exit_from_tray(s, p)
    check_eq(code, 0, "exit code")
    check_eq(s.sim.frame_texts(), ["C", "W0"], "frames of the run")
    check_eq(s.log_texts()[-1], "終了", "last log line")
    ini = s.ini_values()
    check_eq(ini.get("HotKey", {}).get("PowerDownOffAppStart"), "1", "saved PowerDownOffAppStart")
    check_eq(ini.get("HotKey", {}).get("ComPort"), "COM5", "saved ComPort")
    for i, value in enumerate([589, 578] + list(range(112, 120))):
        check_eq(ini.get("HotKey%d" % i, {}).get("HotKey"), str(value), "saved hot key %d" % i)
    check_eq(ini.get("HotKey0", {}).get("HotKeyFunc"), "電源制御", "function name of entry 0")
    check_eq(ini.get("System", {}).get("LogKeepDay"), "30", "LogKeepDay written at first start")


@scenario(timeout=150)
def exit_without_power_down_logs_three_lines(s):
    """A normal run without power-down at exit, started with /debug /nonio:
    nothing is sent at exit, the run's log file holds exactly the three
    lines, in order, and the report /debug asks for goes to the debugger
    output (Wine 8 prints that as a warning of its seh channel)."""
    p = boot(s, {"PowerDownOffAppStart": 0}, sim_args=("--power", "1"), args=("/debug", "/nonio"),
             env={"WINEDEBUG": "-all,warn+seh"})
    s.wait_frames(["C"], 10)
    check_eq(exit_from_tray(s, p), 0, "exit code")
    time.sleep(0.5)
    check_eq(s.sim.frame_texts(), ["C"], "frames of the run")
    files = s.log_files()
    check_eq(len(files), 1, "log files of one run")
    lines = s.read_log(files[0])
    texts = [t for _, t in lines]
    check_eq(len(texts), 3, "log lines of one run (%r)" % texts)
    check(texts[0].startswith("起動準備, コンピューター名："), "first line %r" % texts[0])
    check_eq(texts[1:], ["起動", "終了"], "second and third lines")
    stamps = [st for st, _ in lines]
    check(stamps == sorted(stamps), "time stamps out of order: %r" % stamps)
    with open(s._file("program.err"), "rb") as f:
        err = f.read().decode("utf-8", "replace")
    reports = [l for l in err.splitlines() if ":OutputDebugString" in l and "GDI " in l and "USER " in l]
    check_eq(len(reports), 1, "the /debug report in the debugger output (%r)" % err[-2000:])


@scenario(timeout=150)
def second_instance_exits_quietly(s):
    """A second start while the program runs exits with code 0 at once,
    writes no log line, opens no port and shows nothing."""
    first = boot(s, {}, sim_args=("--power", "1"))
    s.wait_frames(["C"], 10)
    files = s.log_files()
    contents = [open(f, "rb").read() for f in files]
    frames = s.sim.frame_texts()
    started = time.monotonic()
    second = s.start_program(name="second")
    wait_for(lambda: second.poll() is not None, 30, "the second instance to end")
    log("second instance ended after %.1f s with %d" % (time.monotonic() - started, second.returncode))
    check_eq(second.returncode, 0, "exit code of the second instance")
    time.sleep(1.5)  # a second instance that ran on would log and send by now
    check_eq(s.log_files(), files, "log files after the second start")
    check_eq([open(f, "rb").read() for f in files], contents, "log contents after the second start")
    check_eq(s.sim.frame_texts(), frames, "frames after the second start")
    check(s.program_alive(first), "the first instance ended")
    check_eq(len(s.windows(cls=MAIN_WINDOW_CLASS)), 1, "status windows")
    check(not s.message_boxes(), "a message box appeared: %r" % s.message_boxes())
    expect_key_frame(s, Presser(s), "F6", "S6", {"input": "6"})


@scenario(timeout=150)
def simulator_vanishing_and_returning_is_survived(s):
    """The switcher's line goes away (an unplugged adapter) and comes back:
    the program stays up without boxes for input commands, and the next
    command after the return reaches the switcher."""
    p = boot(s, {}, sim_args=("--power", "1", "--input", "1"))
    s.wait_frames(["C"], 10)
    s.wait_labels({"power": "ON"})
    pr = Presser(s)
    s.sim.control("vanish")
    pr.press("F2")
    holds_for(lambda: not s.message_boxes() and s.program_alive(p), 1.5,
              "no box and a running program while the switcher is gone")
    s.sim.control("return")
    before = len(s.sim.frames())
    attempts = 0
    while True:
        attempts += 1
        pr.press("F3")
        try:
            s.wait_frames(["S3"], 3, since=before)
            break
        except Failure:
            if attempts >= 2:
                raise
    log("frame arrived after the return on attempt %d" % attempts)
    check_eq(attempts, 1, "presses needed after the switcher returned")
    s.wait_labels({"input": "3"})
    check(not s.message_boxes(), "unexpected box: %r" % s.message_boxes())
    s.screenshot("returned")


@scenario(timeout=150)
def about_dialog_from_tray(s):
    """バージョン情報(&A)... shows the About dialog with the version resource;
    hot keys act while it is open; it can be opened again after closing."""
    boot(s, {}, sim_args=("--power", "1", "--input", "1"))
    s.wait_frames(["C"], 10)
    for round_ in (1, 2):
        s.tray_menu("a")
        dlg = wait_for(lambda: s.windows(title="バージョン情報", visible=True), 10, "the About dialog")[0]
        texts = [c["text"] for c in dlg["children"] if c["visible"]]
        for expected in (PRODUCT_NAME, "KOVA " + PRODUCT_NAME, MODEL_NAME, "Ver.1.1.1.10", "OK"):
            check(expected in texts, "About dialog lacks %r: %r" % (expected, texts))
        r = dlg["rect"]
        check_eq(dlg["client"], [464, 272], "About client size")
        scr = s.screen()["screen"]
        check_eq((r[0], r[1]), ((scr[0] - (r[2] - r[0])) // 2, (scr[1] - (r[3] - r[1])) // 2), "About place")
        if round_ == 1:
            s.screenshot("about")
            expect_key_frame(s, Presser(s), "F5", "S5", {"input": "5"})
        s.probe("click", "--hwnd", str(dlg["hwnd"]), "--text", "OK")
        wait_for(lambda: not s.windows(title="バージョン情報", visible=True), 10, "the About dialog to close")
    check_eq(s.labels().get("hotkey"), "有効", "hot-key control after the About dialog")


@scenario(timeout=150)
def tray_double_click_and_menu_switch_hotkeys(s):
    """Double-clicking the tray icon asks whether to switch hot-key control
    off; Yes switches it off (grey icon, keys inert); the menu item switches
    it on again without a question."""
    boot(s, {}, sim_args=("--power", "1", "--input", "1"))
    s.wait_frames(["C"], 10)
    x, y = s.tray_slot()[0] + 10, s.tray_slot()[1] + 10
    s.click(x, y, 1, double=True)
    box = s.wait_message_box("ホットキーによる入力ソース選択を無効にしますか？")
    check_eq(box["title"], PRODUCT_NAME, "caption of the question")
    s.screenshot("question")
    s.answer_box(box, "はい")
    s.wait_labels({"hotkey": "無効"})
    wait_for(lambda: s.is_grey(s.tray_color()), 10, "a grey tray icon")
    before = len(s.sim.frames())
    Presser(s).press("F4")
    holds_for(lambda: len(s.sim.frames()) == before, 1.5, "no frame while hot keys are off")
    s.tray_menu("h")
    s.wait_labels({"hotkey": "有効"})
    wait_for(lambda: s.is_red(s.tray_color()), 10, "a red tray icon again")
    check(not s.message_boxes(), "the menu item asked a question: %r" % s.message_boxes())
    expect_key_frame(s, Presser(s), "F4", "S4", {"input": "4"})


@scenario(timeout=150)
def frame_cut_short_by_cts_shows_the_port_error_and_leaves_nothing_behind(s):
    """The switcher holds CTS low: the power key's frame cannot leave within
    the write time-out, so the port error box appears as for a missing port;
    once CTS is back nothing of that frame follows, and the next press sends
    one whole frame."""
    boot(s, {}, sim_args=("--power", "1", "--input", "1"))
    s.wait_frames(["C"], 10)
    s.wait_labels({"power": "ON"})

    def received():
        return int(s.sim.control("received"))

    check_eq(received(), 3, "bytes of the status request")
    s.sim.control("cts 0")
    pr = Presser(s)
    pressed = pr.press("ctrl+m")
    box = s.wait_message_box(PORT_ERROR_TEXT, timeout=15)
    log("port error box %.1f s after the press" % (time.time() - pressed))
    check_eq(box["title"], PRODUCT_NAME, "caption of the port error box")
    check_eq(box["buttons"], ["OK"], "buttons of the port error box")
    s.screenshot("cts-held-low")
    s.sim.control("cts 1")
    holds_for(lambda: received() == 3, 1.0, "nothing of the cut frame once CTS is back")
    s.answer_box(box, "OK")
    check_eq(s.labels().get("power"), "ON", "power label after the failed send")
    check(s.program_alive(), "the program ended")
    expect_key_frame(s, pr, "ctrl+m", "W0", {"power": "OFF"})
    check_eq(received(), 3 + 4, "bytes on the wire: the status request and one power frame")
    check_eq(s.sim.frame_texts(), ["C", "W0"], "frames of the run")
    check(not s.message_boxes(), "unexpected box: %r" % s.message_boxes())
