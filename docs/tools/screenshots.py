#!/usr/bin/env python3
"""Takes the user guide's screenshots from the real program under Wine.

    docs/tools/screenshots.py [--build DIR] [--out DIR]

DIR defaults to $KAV_BUILD_DIR or build/; the pictures go to docs/images/.
Runs the shipped 32-bit program where this machine starts 32-bit Windows
programs and the 64-bit twin otherwise, as the tests do (KAV_WIN_BUILD=win32
or win64 forces one); needs that build's program and probe and the
simulator (build native). Uses the end-to-end harness (tests/e2e/kav_e2e.py):
a private Wine prefix with Windows-like fonts and an Xvfb display with the
taskbar desktop, the switcher simulator on COM5, real clicks and key
presses; everything it starts it stops.

The walk is the guide's own: a first start without a port (the prompt, then
the settings dialog on both pages), hot-key control switched on, one input
key, the status window, the tray menu. Then, with the installer that
scripts/release.sh made (the shipped one, or where 32-bit programs do not
run, its 64-bit twin with the same pages), the component pages of the
installer and uninstaller.
"""
import argparse
import glob
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

import kav_e2e  # noqa: E402
from kav_e2e import Failure, rect_center, wait_for  # noqa: E402

SETTINGS_CLASS = "TFormEnvSettings"
ID_OK = 1001
ID_PAGES = 1004
ID_PORT = 1109
MARGIN = 6


def crop(s, rect, path):
    """Saves the screen area of rect (left, top, right, bottom) plus a margin."""
    l, t = max(rect[0] - MARGIN, 0), max(rect[1] - MARGIN, 0)
    r, b = min(rect[2] + MARGIN, kav_e2e.SCREEN[0]), min(rect[3] + MARGIN, kav_e2e.SCREEN[1])
    time.sleep(0.5)  # let the last paint reach the screen
    subprocess.run(["import", "-display", s.xvfb.display, "-window", "root", "-crop",
                    "%dx%d+%d+%d" % (r - l, b - t, l, t), "+repage", "-strip", path],
                   check=True, timeout=30)
    kav_e2e.log("saved %s (%dx%d)" % (path, r - l, b - t))


def union(a, b):
    return [min(a[0], b[0]), min(a[1], b[1]), max(a[2], b[2]), max(a[3], b[3])]


def settings_dialog(s):
    ws = s.windows(cls=SETTINGS_CLASS, visible=True)
    return ws[0] if ws else None


def child(win, ctrl_id):
    for c in win["children"]:
        if c["id"] == ctrl_id:
            return c
    raise Failure("no control %d in %s" % (ctrl_id, win["text"]))


def walk(s, out):
    s.start_desktop()
    sim = s.start_simulator(com=5, args=["--power", "0", "--input", "1"])

    # First start: no port stored yet.
    s.start_program()
    prompt = s.wait_message_box(text="KTX-AV90Rと接続しているCOMポートを選択してください。", timeout=30)
    crop(s, prompt["rect"], os.path.join(out, "first-start-prompt.png"))
    s.answer_box(prompt, prompt["buttons"][0])

    dlg = wait_for(lambda: settings_dialog(s), 15, "the settings dialog")
    s.probe("select", "--hwnd", str(dlg["hwnd"]), "--id", str(ID_PORT), "--item", "COM5")
    dlg = settings_dialog(s)
    crop(s, dlg["rect"], os.path.join(out, "settings-basic.png"))

    pages = child(dlg, ID_PAGES)["rect"]
    for dx in (100, 85, 120, 140, 70):
        s.click(pages[0] + dx, pages[1] + 10)
        try:
            wait_for(lambda: child(settings_dialog(s), ID_PAGES).get("sel") == 1, 2, "the hot-key page", 0.2)
            break
        except Failure:
            continue
    else:
        raise Failure("could not switch to the hot-key page")
    # Park the pointer away from the dialog so no hover mark shows.
    s.xdotool("mousemove", "20", "20")
    crop(s, settings_dialog(s)["rect"], os.path.join(out, "settings-hotkeys.png"))

    s.probe("click", "--hwnd", str(dlg["hwnd"]), "--id", str(ID_OK))
    question = s.wait_message_box(text="ホットキーによる入力ソース選択を有効にしますか？", timeout=15)
    s.answer_box(question, question["buttons"][0])  # はい
    wait_for(lambda: not settings_dialog(s), 10, "the settings dialog to close")

    # One input key: the switcher is powered up first, then input 3 chosen.
    s.xdotool("mousemove", "500", "300")
    s.key("F3")
    wait_for(lambda: "S3" in sim.frame_texts(), 10, "the input command on the wire")
    s.tray_menu("w")  # ウィンドウ表示(&W)
    s.wait_labels({"hotkey": "有効", "power": "ON", "blackout": "OFF", "input": "3"}, timeout=15)
    s.xdotool("mousemove", "20", "20")
    crop(s, s.main_window()["rect"], os.path.join(out, "status-window.png"))

    # The close box only hides the status window; the menu is shown alone.
    s.probe("close", "--hwnd", str(s.main_window()["hwnd"]))
    wait_for(lambda: not s.main_window()["visible"], 10, "the status window to hide")
    menu = s.open_tray_menu()
    slot = s.tray_slot()
    area = union(menu["rect"], slot)
    # Point at the first item so the picture shows a highlighted row, as a
    # person sees it.
    s.xdotool("mousemove", str(menu["rect"][0] + 40), str(menu["rect"][1] + 12))
    crop(s, area, os.path.join(out, "tray-menu.png"))
    s.key("Escape")


def top_windows(s, title_part):
    """Visible top-level windows of any program whose title holds title_part."""
    got = s.probe_json("list", quiet=True) or {"windows": []}
    return [w for w in got["windows"] if w["visible"] and title_part in w["text"]]


def wizard_page(s, title_part, marker):
    """The wizard window whose page shows a control with the text marker."""
    def find():
        for w in top_windows(s, title_part):
            if any(marker in c["text"] for c in w["children"]):
                return w
        return None
    return wait_for(find, 30, "a page showing %r" % marker, 0.3)


def walk_installer(s, out, installer):
    s.start_desktop()
    wine = s.wine
    setup = subprocess.Popen([wine, installer], env=s.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    s.programs.append(setup)
    w = wizard_page(s, "セットアップ", "をインストールします")
    s.probe("click", "--hwnd", str(w["hwnd"]), "--id", "1")  # 次へ
    w = wizard_page(s, "セットアップ", "スタートアップに登録")
    s.xdotool("mousemove", "20", "20")
    crop(s, w["rect"], os.path.join(out, "installer-components.png"))
    s.probe("click", "--hwnd", str(w["hwnd"]), "--id", "1")  # 次へ: the folder page
    w = wizard_page(s, "セットアップ", "Program Files")
    s.probe("click", "--hwnd", str(w["hwnd"]), "--id", "1")  # インストール
    w = wizard_page(s, "セットアップ", "起動する")
    # Finish without starting the program.
    for c in w["children"]:
        if c["class"].lower() == "button" and "起動する" in c["text"] and c.get("check") == 1:
            s.probe("check", "--hwnd", str(w["hwnd"]), "--text", c["text"], "--state", "0")
    s.probe("click", "--hwnd", str(w["hwnd"]), "--id", "1")  # 完了
    wait_for(lambda: setup.poll() is not None, 30, "the installer to end")

    uninstaller = os.path.join(s.prefix, "drive_c", "Program Files", "KOVA", "KAV90R_HotKeyController",
                               "uninstall.exe")
    un = subprocess.Popen([wine, uninstaller], env=s.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    s.programs.append(un)
    w = wizard_page(s, "アンインストール", "アンインストールされます")
    s.probe("click", "--hwnd", str(w["hwnd"]), "--id", "1")  # 次へ
    w = wizard_page(s, "アンインストール", "再インストールしたときのために残します")
    s.xdotool("mousemove", "20", "20")
    crop(s, w["rect"], os.path.join(out, "uninstaller-components.png"))


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", default=os.environ.get("KAV_BUILD_DIR", os.path.join(ROOT, "build")))
    ap.add_argument("--out", default=os.path.join(ROOT, "docs", "images"))
    a = ap.parse_args()
    b = os.path.abspath(a.build)
    build, why = kav_e2e.choose_windows_build()
    print("screenshots: the %s program (%s)" % ("32-bit" if build == "win32" else "64-bit", why))
    paths = kav_e2e.Paths(os.path.join(b, build, "KAV90R_HotKeyController.exe"),
                          os.path.join(b, build, "tools", "win", "probe", "kav_probe.exe"),
                          os.path.join(b, "native", "tools", "simulator", "av90r_sim"),
                          os.path.join(b, "screenshots"))
    for p in (paths.program, paths.probe, paths.simulator):
        if not os.path.exists(p):
            sys.exit("screenshots: %s is not built" % p)
    pattern = "*-setup.exe" if build == "win32" else os.path.join("check", "*-x64-setup.exe")
    installers = sorted(glob.glob(os.path.join(b, "release", pattern)))
    if not installers:
        sys.exit("screenshots: no installer %s in %s/release (run scripts/release.sh)" % (pattern, b))
    os.makedirs(a.out, exist_ok=True)
    out = os.path.abspath(a.out)
    for name, fn in (("guide", lambda s: walk(s, out)),
                     ("installer", lambda s: walk_installer(s, out, installers[-1]))):
        s = kav_e2e.Session(paths, name)
        try:
            fn(s)
        except Exception:
            s.screenshot("failure")
            raise
        finally:
            s.close()
    print("screenshots: ok")


if __name__ == "__main__":
    main()
