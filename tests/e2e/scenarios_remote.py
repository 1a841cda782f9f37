"""Scenarios of the command line: a second start with a command drives the
running program (frames, labels, exit codes, the status line on redirected
output), refuses while a dialog or box is open, shows the usage for a
malformed line, reports a port that does not exist only by its exit code,
a start with a command and nothing running starts the resident program as a
process of its own, hands the command over and ends, and /exit and Restart
Manager's messages end the program as its tray menu does."""

import os
import subprocess
import time

from kav_e2e import (APP_WINDOW_CLASS, MAIN_WINDOW_CLASS, PORT_ERROR_TEXT, PRODUCT_NAME, check, check_eq, holds_for,
                     log, scenario, wait_for)
from scenarios_program import DEFAULT_SETTINGS, boot

USAGE_FIRST_LINE = "コマンドラインの指定が正しくありません。"
SETTINGS_CLASS = "TFormEnvSettings"
ID_CANCEL = 2
OPEN_QUESTION = "ホットキー制御を無効にして、\r\n環境設定を起動しますか？"
CLOSE_QUESTION = "ホットキーによる入力ソース選択を有効にしますか？"


def command(s, args, name, capture="file", timeout=90):
    """Runs the program with `args` as another start and waits for it to end.
    Standard output goes to a file (capture="file") or a pipe ("pipe").
    Returns (exit code, standard output as text)."""
    argv = [s.wine, s.paths.program] + list(args)
    log("start with %s" % " ".join(args))
    err = open(s._file(name + ".err"), "w")
    if capture == "pipe":
        r = subprocess.run(argv, env=s.env, cwd=s.work, stdout=subprocess.PIPE, stderr=err, timeout=timeout)
        out = r.stdout
        code = r.returncode
    else:
        path = s._file(name + ".out")
        with open(path, "wb") as f:
            code = subprocess.run(argv, env=s.env, cwd=s.work, stdout=f, stderr=err, timeout=timeout).returncode
        with open(path, "rb") as f:
            out = f.read()
    log("  exit %d, output %r" % (code, out))
    return code, out.decode("utf-8")


def expect_command(s, args, frames, labels=None, name=None):
    """A command from a second start: exit code 0, exactly `frames` on the
    wire, then the labels the replies give."""
    before = len(s.sim.frames())
    code, out = command(s, args, name or "cmd-" + "-".join(a.strip("/") for a in args))
    check_eq(code, 0, "exit code of %s" % " ".join(args))
    check_eq(out, "", "output of %s" % " ".join(args))
    if frames:
        s.wait_frames(frames, 10, since=before)
    else:
        holds_for(lambda: len(s.sim.frames()) == before, 0.5, "no frame for %s" % " ".join(args))
    if labels:
        s.wait_labels(labels)
    check_eq(s.sim.frame_texts()[before:], list(frames), "frames of %s" % " ".join(args))


def our_windows(s):
    return {w["hwnd"] for w in s.screen()["windows"]}


def open_settings_dialog(s):
    """環境設定(&S)... with hot keys on: answers the question, waits for the dialog."""
    s.tray_menu("s")
    s.answer_box(s.wait_message_box(OPEN_QUESTION), "はい")
    return wait_for(lambda: s.windows(cls=SETTINGS_CLASS, visible=True), 20, "the settings dialog")[0]


@scenario(timeout=420)
def remote_commands_from_a_second_start(s):
    """Every command from a second start: its frame and exit code 0, in any
    letter case, also while hot-key control is off; the power-up rule; the
    status line on a redirected file and a pipe; no log line, no box, and the
    running window is not brought to the front (a plain second start is).
    Last, /exit ends the program as 終了(&X) does and returns 0."""
    p = boot(s, {"PowerUpOnHotKeyCtrl": 1, "PowerDownOffAppStart": 1},
             sim_args=("--power", "1", "--blackout", "0", "--input", "1"))
    s.wait_frames(["C"], 10)
    s.wait_labels({"hotkey": "有効", "power": "ON", "blackout": "OFF", "input": "1"})
    logs = [open(f, "rb").read() for f in s.log_files()]
    # Something else has the keyboard: a click on the desktop.
    s.click(300, 200)
    mine = our_windows(s)
    foreground = wait_for(lambda: (lambda f: f if f not in mine else None)(s.screen()["foreground"]), 10,
                          "the desktop in front")

    expect_command(s, ["/input", "2"], ["S2"], {"input": "2"})
    expect_command(s, ["/INPUT", "8"], ["S8"], {"input": "8"})
    expect_command(s, ["/blackout", "on"], ["B1"], {"blackout": "ON"})
    expect_command(s, ["/Blackout", "Toggle"], ["B0"], {"blackout": "OFF"})
    expect_command(s, ["/blackout", "off"], ["B0"], {"blackout": "OFF"})
    expect_command(s, ["/power", "OFF"], ["W0"], {"power": "OFF"})
    expect_command(s, ["/hotkey", "off"], [], {"hotkey": "無効"})
    # Hot-key control off, power reported off: the power-up rule still applies.
    expect_command(s, ["/debug", "/input", "3"], ["W1", "S3"], {"power": "ON", "input": "3"})
    expect_command(s, ["/power", "toggle"], ["W0"], {"power": "OFF"})
    expect_command(s, ["/power", "on"], ["W1"], {"power": "ON"})
    expect_command(s, ["/hotkey", "ON"], [], {"hotkey": "有効"})
    s.screenshot("after-commands")

    line = "power=on blackout=off input=3 hotkey=on port=COM5\r\n"
    before = len(s.sim.frames())
    check_eq(command(s, ["/status"], "status-file"), (0, line), "/status to a file")
    check_eq(command(s, ["/STATUS"], "status-pipe", capture="pipe"), (0, line), "/status to a pipe")
    check_eq(len(s.sim.frames()), before, "frames sent for /status")

    check(not s.message_boxes(), "a message box appeared: %r" % s.message_boxes())
    check_eq([open(f, "rb").read() for f in s.log_files()], logs, "log files after the commands")
    check_eq(s.screen()["foreground"], foreground, "foreground window after the commands")
    # The contrast: a second start without a command brings the status window forward.
    code, _ = command(s, [], "plain-second")
    check_eq(code, 0, "exit code of a plain second start")
    main = s.main_window()["hwnd"]
    wait_for(lambda: s.screen()["foreground"] == main, 10, "the status window in front after a plain second start")
    before = len(s.sim.frames())
    check_eq(command(s, ["/EXIT"], "exit"), (0, ""), "/exit")
    expect_ended_like_exit(s, p, before, "/exit")


@scenario(timeout=300)
def remote_malformed_line_and_busy_program(s):
    """/input 9 shows the usage box in the second process and exits 2; while
    the settings dialog is open a command exits 3 and sends nothing (the
    status is still answered); after the dialog the command acts. Last,
    Restart Manager's messages (session-end query and end, ENDSESSION_CLOSEAPP)
    to the status window alone end the program as 終了(&X) does, a settings
    file that cannot be written only logged."""
    p = boot(s, {"PowerDownOffAppStart": 1}, sim_args=("--power", "1", "--input", "1"))
    s.wait_frames(["C"], 10)
    frames = s.sim.frame_texts()

    second = s.start_program(["/input", "9"], name="malformed")
    box = wait_for(lambda: [b for b in s.message_boxes() if b["text"].startswith(USAGE_FIRST_LINE)], 30,
                   "the usage box")[0]
    s.screenshot("usage")
    check_eq(box["title"], PRODUCT_NAME, "caption of the usage box")
    check_eq(box["buttons"], ["OK"], "buttons of the usage box")
    for part in ("使い方：KAV90R_HotKeyController.exe コマンド", "/power on | off | toggle", "/input 1～8",
                 "/hotkey on | off", "/status", "3\u3000設定画面やメッセージを表示中のため、何もしなかった"):
        check(part in box["text"], "usage lacks %r: %r" % (part, box["text"]))
    check(second.poll() is None, "the second process ended before its box was answered")
    s.answer_box(box, "OK")
    wait_for(lambda: second.poll() is not None, 30, "the second process to end")
    check_eq(second.returncode, 2, "exit code of a malformed line")
    check_eq(s.sim.frame_texts(), frames, "frames after a malformed line")

    open_settings_dialog(s)
    code, out = command(s, ["/power", "off"], "busy")
    check_eq((code, out), (3, ""), "a command while the settings dialog is open")
    holds_for(lambda: s.sim.frame_texts() == frames, 1.0, "no frame while the dialog is open")
    check(s.windows(cls=SETTINGS_CLASS, visible=True), "the settings dialog closed")
    check_eq(command(s, ["/status"], "status-busy"),
             (0, "power=on blackout=off input=1 hotkey=off port=COM5\r\n"), "/status while the dialog is open")
    s.screenshot("busy")

    s.probe("click", "--class", SETTINGS_CLASS, "--id", str(ID_CANCEL))
    s.answer_box(s.wait_message_box(CLOSE_QUESTION), "いいえ")
    wait_for(lambda: not s.windows(cls=SETTINGS_CLASS, visible=True), 10, "the dialog to close")
    expect_command(s, ["/power", "off"], ["W0"], {"power": "OFF", "hotkey": "無効"})
    before = len(s.sim.frames())
    os.remove(s.ini_path())
    os.mkdir(s.ini_path())  # a settings file that cannot be written: told in the log, no box holds the end
    s.probe("endsession", "--class", MAIN_WINDOW_CLASS)
    expect_ended_like_exit(s, p, before, "Restart Manager's messages")
    check(s.log_texts()[-2].endswith("\\KAV90R_HotKeyController.ini に書き込めません"), "log: %r" % s.log_texts()[-3:])


@scenario(timeout=300)
def remote_command_with_nothing_running_starts_the_program(s):
    """/status with nothing running starts nothing and exits 1, /exit exits 0; /input 2
    starts the resident program as a process of its own, which selects input
    2 after its start-up's status request, and ends with exit code 0 (a
    scheduled task or script that started it sees it end); later commands go
    to the resident program."""
    s.start_desktop()
    s.start_simulator(5, ("--power", "1", "--input", "1"))
    s.write_ini(hotkey=dict(DEFAULT_SETTINGS))

    check_eq(command(s, ["/status"], "status-alone"), (1, ""), "/status with nothing running")
    check_eq(command(s, ["/exit"], "exit-alone"), (0, ""), "/exit with nothing running")
    check(not s.windows(cls=APP_WINDOW_CLASS), "/status or /exit left a program running")
    check_eq(s.log_files(), [], "log files after /status and /exit alone")
    check_eq(s.sim.frame_texts(), [], "frames after /status and /exit alone")

    started = time.monotonic()
    p = s.start_program(["/input", "2"])
    s.wait_frames(["C", "S2"], 40)
    s.wait_labels({"hotkey": "有効", "power": "ON", "input": "2"})
    wait_for(lambda: "起動" in s.log_texts(), 20, "the log line 起動")
    # The start-up (a second under way) and the wait for the status reply
    # (at most another): then the started process has handed over and ended.
    wait_for(lambda: p.poll() is not None, 20, "the start with /input 2 to end")
    check_eq(p.returncode, 0, "exit code of the start with /input 2")
    log("the start with /input 2 ended after %.1f s" % (time.monotonic() - started))
    check_eq(len(s.windows(cls=APP_WINDOW_CLASS)), 1, "resident programs")
    check_eq(len(s.windows(cls=MAIN_WINDOW_CLASS)), 1, "status windows")
    check(not s.message_boxes(), "a message box appeared: %r" % s.message_boxes())
    s.screenshot("started-with-command")
    expect_command(s, ["/blackout", "on"], ["B1"], {"blackout": "ON"})
    check_eq(command(s, ["/status"], "status-after"),
             (0, "power=on blackout=on input=2 hotkey=on port=COM5\r\n"), "/status after the start")


@scenario(timeout=300)
def remote_command_on_a_missing_port(s):
    """A stored port that does not exist. Started with a command: the
    start-up's one port error box, during which another start's command exits
    3; afterwards commands exit 1 without any box, and /hotkey still works."""
    s.start_desktop()
    settings = dict(DEFAULT_SETTINGS, ComPort="COM9")
    s.write_ini(hotkey=settings)
    s.start_program(["/power", "on"])
    box = s.wait_message_box(PORT_ERROR_TEXT, timeout=40)
    check_eq(box["title"], PRODUCT_NAME, "caption of the start-up's box")
    check_eq(command(s, ["/input", "2"], "busy"), (3, ""), "a command while the start-up's box is open")
    s.answer_box(box, "OK")
    wait_for(lambda: "起動" in s.log_texts(), 20, "the log line 起動")
    holds_for(lambda: not s.message_boxes(), 1.5, "no second box for the start's own command")

    for args in (["/power", "on"], ["/input", "2"], ["/blackout", "toggle"]):
        check_eq(command(s, args, "missing-" + args[0].strip("/")), (1, ""), "%s on a missing port" % " ".join(args))
        check(not s.message_boxes(), "a box after %s: %r" % (" ".join(args), s.message_boxes()))
    s.screenshot("no-box")
    check_eq(command(s, ["/hotkey", "off"], "hotkey-off"), (0, ""), "/hotkey off on a missing port")
    s.wait_labels({"hotkey": "無効"})
    check_eq(command(s, ["/status"], "status"), (0, "power=off blackout=off input=0 hotkey=off port=COM9\r\n"),
             "/status on a missing port")


def expect_ended_like_exit(s, p, frames_before, what):
    """The program ended as 終了(&X) ends it (W0, the log's last line 終了, no tray icon, no box), and no other runs."""
    wait_for(lambda: p.poll() is not None, 15, "the program to end after %s" % what)
    check_eq(s.sim.frame_texts()[frames_before:], ["W0"], "frames of %s" % what)
    check_eq(s.log_texts()[-1], "終了", "last log line after %s" % what)
    check(not s.windows(cls=APP_WINDOW_CLASS), "a program is left running after %s" % what)
    wait_for(lambda: not s.is_red(s.tray_color()), 10, "the tray icon to go after %s" % what)
    check(not s.message_boxes(), "a message box after %s: %r" % (what, s.message_boxes()))
