"""Scenarios of the settings dialog: the first start from a clean prefix to
working hot keys, the key fields, duplicates, storing and not storing, the
communication test, and the program's state while the dialog is open."""

import os
import time

from kav_e2e import (PRODUCT_NAME, MODEL_NAME, check, check_eq, holds_for, log, rect_center, scenario, wait_for)

DIALOG_CLASS = "TFormEnvSettings"
# Control ids of the dialog (settings/win/frmEnvSettings.h).
ID_OK, ID_CANCEL, ID_APPLY, ID_TABS, ID_PAGE_BASIC, ID_PAGE_HOTKEY = 1001, 2, 1003, 1004, 1005, 1006
ID_CHECKS = [1102, 1103, 1104, 1105, 1106]
ID_PORT, ID_TEST, ID_DEFAULT = 1109, 1110, 1230
ID_FIELD0 = 1220
PLACEHOLDER = 0x13  # Pause

SELECT_PORT_TEXT = MODEL_NAME + "と接続しているCOMポートを選択してください。"
OPEN_QUESTION = "ホットキー制御を無効にして、\r\n環境設定を起動しますか？"
CLOSE_QUESTION = "ホットキーによる入力ソース選択を有効にしますか？"
DUPLICATE_TEXT = "重複するホットキーの設定はできません。"
TEST_OK_TEXT = MODEL_NAME + "との通信テストに成功しました。"
TEST_FAILED_TEXT = (MODEL_NAME + "との通信テストに失敗しました。\r\n次の項目を確認してください。\r\n\r\n"
                    "１．" + MODEL_NAME + "の電源(ONにしてください)\r\n２．COMポートの番号\r\n３．"
                    + MODEL_NAME + "とのケーブル接続")

RECORD_KEYS = ["ComPort", "PowerUpOnAppStart", "PowerDownOffAppStart", "HotKeyEnableOnAppStart",
               "PowerUpOnHotKeyCtrl", "WindowVisible"]
DEFAULT_VALUES = [589, 578, 112, 113, 114, 115, 116, 117, 118, 119]
FUNC_NAMES = ["電源制御", "ブラックアウト"] + ["入力%d" % k for k in range(1, 9)]


# ------------------------------------------------------------- helpers -----

def ini_sections(s):
    """The settings file as an ordered list of (section, [(key, value), ...])."""
    out = []
    for line in s.read_ini().splitlines():
        line = line.strip()
        if line.startswith("[") and line.endswith("]"):
            out.append((line[1:-1], []))
        elif "=" in line and out:
            k, v = line.split("=", 1)
            out[-1][1].append((k, v))
    return out


def boot_stored(s, hotkeys_on=1, sim_args=("--power", "1")):
    """A program whose settings file holds port COM5 and the ten default
    keys, as the dialog leaves it."""
    s.start_desktop()
    s.start_simulator(5, sim_args)
    record = {"ComPort": "COM5", "PowerUpOnAppStart": 0, "PowerDownOffAppStart": 0,
              "HotKeyEnableOnAppStart": hotkeys_on, "PowerUpOnHotKeyCtrl": 1, "WindowVisible": 1}
    s.write_ini(hotkey=record, system={"LogKeepDay": 30})
    check_eq([dict(kv).get("HotKey") for name, kv in ini_sections(s) if name.startswith("HotKey") and name != "HotKey"],
             [str(v) for v in DEFAULT_VALUES], "hot-key sections of the stored file")
    p = s.start_program()
    wait_for(lambda: "起動" in s.log_texts(), 30, "the log line 起動")
    s.wait_frames(["C"], 10)
    return p


def dialog(s):
    ws = s.windows(cls=DIALOG_CLASS, visible=True)
    return ws[0] if ws else None


def wait_dialog(s, timeout=20):
    return wait_for(lambda: dialog(s), timeout, "the settings dialog")


def wait_dialog_closed(s, timeout=10):
    wait_for(lambda: not dialog(s), timeout, "the settings dialog to close")


def control(win, ident):
    found = [c for c in win["children"] if c["id"] == ident]
    check(found, "control %d missing from the dialog" % ident)
    return found[0]


def apply_enabled(s):
    return control(wait_dialog(s), ID_APPLY)["enabled"]


def wait_apply(s, enabled, timeout=5):
    wait_for(lambda: apply_enabled(s) == enabled, timeout, "適用 %s" % ("enabled" if enabled else "disabled"))


def field_value(s, index):
    return control(wait_dialog(s), ID_FIELD0 + index)["hotkey"]


def press_control(s, ident):
    s.probe("click", "--class", DIALOG_CLASS, "--id", str(ident))


def click_into(s, ident):
    """A real mouse click into a control of the dialog."""
    r = control(wait_dialog(s), ident)["rect"]
    s.click((r[0] + r[2]) // 2, (r[1] + r[3]) // 2)


def show_hotkey_page(s):
    r = control(wait_dialog(s), ID_TABS)["rect"]
    s.click(r[0] + 110, r[1] + 10)  # the second tab
    wait_for(lambda: control(dialog(s), ID_PAGE_HOTKEY)["visible"], 5, "page ホットキー設定")


def show_basic_page(s):
    r = control(wait_dialog(s), ID_TABS)["rect"]
    s.click(r[0] + 30, r[1] + 10)
    wait_for(lambda: control(dialog(s), ID_PAGE_BASIC)["visible"], 5, "page 基本設定")


def open_settings(s, hotkeys_on, answer="はい"):
    """環境設定(&S)... from the tray menu; answers the question asked while
    hot keys are on."""
    s.tray_menu("s")
    if hotkeys_on:
        box = s.wait_message_box(OPEN_QUESTION, title=PRODUCT_NAME)
        s.answer_box(box, answer)
    if answer == "はい":
        return wait_dialog(s)
    return None


def answer_close_question(s, answer):
    dlg = dialog(s)
    box = s.wait_message_box(CLOSE_QUESTION, title="確認")
    if dlg:
        check_eq(box["owner"], dlg["hwnd"], "owner of the question after closing")
    s.answer_box(box, answer)
    wait_dialog_closed(s)


def file_state(s):
    st = os.stat(s.ini_path())
    with open(s.ini_path(), "rb") as f:
        return f.read(), st.st_mtime_ns


def wait_hotkeys(s, on):
    want = "有効" if on else "無効"
    s.wait_labels({"hotkey": want})


def press_expect(s, combo, frames, timeout=5):
    before = len(s.sim.frames())
    s.key(combo)
    s.wait_frames(frames, timeout, since=before)
    time.sleep(1.1)  # past the repeat-suppression window


def check_dialog_layout(s, dlg):
    check_eq(dlg["text"], "環境設定", "dialog caption")
    check_eq(dlg["client"], [394, 442], "dialog client size")
    style = dlg["style"]
    check(style & 0x00080000, "the dialog has no close box")              # WS_SYSMENU
    check(not style & 0x00030000, "the dialog has minimise/maximise boxes")  # WS_MINIMIZEBOX|WS_MAXIMIZEBOX
    check(not style & 0x00040000, "the dialog is resizable")                 # WS_THICKFRAME
    scr = s.screen()["screen"]
    r = dlg["rect"]
    check_eq((r[0], r[1]), ((scr[0] - (r[2] - r[0])) // 2, (scr[1] - (r[3] - r[1])) // 2), "dialog place (centred)")
    texts = {c["id"]: c["text"] for c in dlg["children"]}
    expected = {ID_OK: "OK", ID_CANCEL: "キャンセル", ID_APPLY: "適用", ID_PAGE_BASIC: "基本設定",
                ID_PAGE_HOTKEY: "ホットキー設定", 1101: "動作設定",
                1102: "起動時、KTX-AV90Rの電源をONにする(&U)", 1103: "終了時、KTX-AV90Rの電源をOFFにする(&D)",
                1104: "起動時、ホットキー制御を有効にする(&C)", 1105: "ホットキー制御時、KTX-AV90Rの電源をONにする(&I)",
                1106: "ウィンドウ表示を自動起動する(&W)", 1107: "COMポート設定", 1108: "ポート番号：",
                ID_TEST: "通信テスト(&T)", 1201: "制御", 1202: "入力ソース選択", ID_DEFAULT: "デフォルト"}
    for i, name in enumerate(FUNC_NAMES):
        expected[1210 + i] = name + "："
    for ident, text in expected.items():
        check_eq(texts.get(ident), text, "text of control %d" % ident)
    port = control(dlg, ID_PORT)
    items = port["items"]
    check_eq(items[:21], ["選択してください"] + ["COM%d" % n for n in range(1, 21)], "port list")
    # After COM20 only the machine's own ports above COM20, in number order.
    above = [int(p[3:]) if p[:3] == "COM" and p[3:].isdigit() else 0 for p in items[21:]]
    check(all(n > 20 for n in above) and above == sorted(above), "ports after COM20: %r" % items[21:])
    # OK, キャンセル, 適用 right-aligned below the page control, in this order.
    ok, cancel, apply_ = (control(dlg, i)["rect"] for i in (ID_OK, ID_CANCEL, ID_APPLY))
    tabs = control(dlg, ID_TABS)["rect"]
    check(ok[0] < cancel[0] < apply_[0], "button order OK, キャンセル, 適用")
    check(ok[1] > tabs[3], "the buttons are not below the page control")
    check(r[2] - apply_[2] < 20, "the buttons are not right-aligned")


# ----------------------------------------------------------- scenarios -----

@scenario(timeout=240)
def settings_first_start(s):
    """Clean prefix: the prompt, then the dialog; showing it stores the record
    and the ten default keys at once; COM5 enables 適用; OK stores it; the
    question; Yes turns hot keys on; the file matches the first-start layout;
    the keys work on the stored port."""
    s.start_desktop()
    s.start_simulator(5, ("--power", "1"))
    check(not os.path.exists(s.ini_path()), "the prefix is not clean")
    s.start_program()
    box = s.wait_message_box(SELECT_PORT_TEXT, title=PRODUCT_NAME, timeout=30)
    check(not dialog(s), "the dialog opened before the prompt was answered")
    s.answer_box(box, "OK")
    dlg = wait_dialog(s)
    check("起動" not in s.log_texts(), "起動 was logged before the dialog closed")
    check_dialog_layout(s, dlg)
    # Showing wrote the record and the ten default keys.
    sections = dict(ini_sections(s))
    check_eq([k for k, _ in sections.get("HotKey", [])], RECORD_KEYS, "record keys written at the first showing")
    for i in range(10):
        check_eq(dict(sections.get("HotKey%d" % i, [])).get("HotKey"), str(DEFAULT_VALUES[i]),
                 "HotKey%d written at the first showing" % i)
    check_eq(control(dlg, ID_PORT)["sel"], -1, "port selection of a first start")
    check_eq(apply_enabled(s), False, "適用 at the first showing")
    s.screenshot("settings-basic")
    show_hotkey_page(s)
    for i, v in enumerate(DEFAULT_VALUES):
        check_eq(field_value(s, i), v, "key field %d" % i)
    s.screenshot("settings-hotkeys")
    show_basic_page(s)

    s.probe("select", "--class", DIALOG_CLASS, "--id", str(ID_PORT), "--item", "COM5")
    wait_apply(s, True)
    press_control(s, ID_OK)
    answer_close_question(s, "はい")
    wait_hotkeys(s, True)
    wait_for(lambda: "起動" in s.log_texts(), 10, "the log line 起動 after the dialog")

    expected = [("System", [("LogKeepDay", "30")]),
                ("HotKey", [("ComPort", "COM5"), ("PowerUpOnAppStart", "0"), ("PowerDownOffAppStart", "0"),
                            ("HotKeyEnableOnAppStart", "1"), ("PowerUpOnHotKeyCtrl", "1"), ("WindowVisible", "1")])]
    for i in range(10):
        v = str(DEFAULT_VALUES[i])
        expected.append(("HotKey%d" % i, [("HotKeyDefault", v), ("HotKey", v), ("HotKeyFunc", FUNC_NAMES[i])]))
    check_eq(ini_sections(s), expected, "settings file after the first start")
    log("settings file:\n" + s.read_ini())

    # The device link is on COM5 and the keys are registered: the switcher
    # reported nothing yet, so the input key powers it up first.
    press_expect(s, "F3", ["W1", "S3"])
    press_expect(s, "F4", ["S4"])


@scenario(timeout=300)
def settings_key_fields_and_duplicates(s):
    """Entering a key field and leaving it without a key press; Ctrl+Pause
    leaves the placeholder; two equal keys give the duplicate box and the
    dialog stays open; the program while the dialog is open; a changed key
    works after closing with Yes."""
    boot_stored(s, hotkeys_on=0)
    wait_hotkeys(s, False)
    before = file_state(s)
    open_settings(s, hotkeys_on=False)
    show_hotkey_page(s)
    wait_apply(s, False)

    click_into(s, ID_FIELD0 + 2)
    wait_for(lambda: field_value(s, 2) == PLACEHOLDER, 5, "the placeholder in 入力1")
    wait_apply(s, True)
    show_hotkey_page(s)  # a click on the tab strip: the field loses the focus
    wait_for(lambda: field_value(s, 2) == 112, 5, "F1 back in 入力1")
    wait_apply(s, False)

    click_into(s, ID_FIELD0 + 3)
    wait_for(lambda: field_value(s, 3) == PLACEHOLDER, 5, "the placeholder in 入力2")
    s.key("ctrl+pause")
    time.sleep(0.5)
    check_eq(field_value(s, 3), PLACEHOLDER, "入力2 after Ctrl+Pause")
    s.key("ctrl+break")
    time.sleep(0.5)
    check(dialog(s), "Ctrl+Break in a key field closed the dialog")
    check_eq(field_value(s, 3), PLACEHOLDER, "入力2 after Ctrl+Break")
    show_hotkey_page(s)
    wait_for(lambda: field_value(s, 3) == 113, 5, "F2 back in 入力2 (now %r)" % field_value(s, 3))

    # While the dialog is open: the tray double-click asks nothing, the tray
    # menu's items do nothing.
    x, y = rect_center(s.tray_slot())
    s.click(x, y, 1, double=True)
    holds_for(lambda: not s.message_boxes(), 1.5, "no question on a double-click while the dialog is open")
    s.open_tray_menu()
    s.screenshot("tray-menu-while-dialog-open")
    s.key("s")
    time.sleep(0.5)
    s.key("Escape")
    holds_for(lambda: not s.message_boxes() and len(s.windows(cls=DIALOG_CLASS, visible=True)) == 1, 1.5,
              "the grey tray menu starts nothing")
    wait_for(lambda: not s.windows(cls="#32768", visible=True), 5, "the tray menu to close")

    # Two equal combinations.
    click_into(s, ID_FIELD0 + 9)
    s.key("ctrl+m")
    wait_for(lambda: field_value(s, 9) == 0x24D, 5, "Ctrl+M in 入力8")
    press_control(s, ID_OK)
    box = s.wait_message_box(DUPLICATE_TEXT, title="エラー")
    check_eq(box["owner"], dialog(s)["hwnd"], "owner of the duplicate box")
    s.screenshot("duplicate")
    s.answer_box(box, "OK")
    check(dialog(s), "the dialog closed after the duplicate box")
    check_eq(field_value(s, 9), 0x24D, "入力8 keeps the user's value")
    check_eq(file_state(s), before, "the settings file after the duplicate box")

    # A valid key instead, OK, Yes: it works at once.
    click_into(s, ID_FIELD0 + 9)
    s.key("shift+F8")
    wait_for(lambda: field_value(s, 9) == 0x177, 5, "Shift+F8 in 入力8")
    press_control(s, ID_OK)
    answer_close_question(s, "はい")
    wait_hotkeys(s, True)
    check_eq(dict(dict(ini_sections(s))["HotKey9"]).get("HotKey"), str(0x177), "HotKey9 stored")
    press_expect(s, "shift+F8", ["S8"])
    before = len(s.sim.frames())
    s.key("F8")
    holds_for(lambda: len(s.sim.frames()) == before, 1.5, "the old key F8 does nothing")


@scenario(timeout=300)
def settings_store_or_not(s):
    """With hot keys on, No to the settings question changes nothing; OK
    without a change writes nothing; 選択してください + OK stores an empty
    port; closing with No leaves hot keys off."""
    boot_stored(s, hotkeys_on=1)
    wait_hotkeys(s, True)

    open_settings(s, hotkeys_on=True, answer="いいえ")
    holds_for(lambda: not dialog(s), 1.0, "no dialog after No")
    wait_hotkeys(s, True)
    press_expect(s, "F2", ["S2"])
    # The dialog-open state ended: the double-click asks again.
    x, y = rect_center(s.tray_slot())
    s.click(x, y, 1, double=True)
    box = s.wait_message_box("ホットキーによる入力ソース選択を無効にしますか？")
    s.answer_box(box, "いいえ")

    before = file_state(s)
    time.sleep(1.1)
    open_settings(s, hotkeys_on=True)
    wait_hotkeys(s, False)
    wait_apply(s, False)
    press_control(s, ID_OK)
    answer_close_question(s, "はい")
    wait_hotkeys(s, True)
    check_eq(file_state(s), before, "the settings file after OK without changes")

    open_settings(s, hotkeys_on=True)
    s.probe("select", "--class", DIALOG_CLASS, "--id", str(ID_PORT), "--item", "選択してください")
    wait_apply(s, True)
    press_control(s, ID_OK)
    answer_close_question(s, "いいえ")
    wait_hotkeys(s, False)
    check_eq(dict(dict(ini_sections(s))["HotKey"]).get("ComPort"), "", "ComPort after 選択してください + OK")
    before = len(s.sim.frames())
    s.key("F2")
    holds_for(lambda: len(s.sim.frames()) == before, 1.5, "no frame with hot keys off")


@scenario(timeout=300)
def settings_communication_test(s):
    """The test with the switcher answering, silent, on a port without a
    switcher, and with no port chosen; afterwards the device link is back on
    the stored port."""
    boot_stored(s, hotkeys_on=1)
    wait_hotkeys(s, True)
    open_settings(s, hotkeys_on=True)

    n = len(s.sim.frames())
    press_control(s, ID_TEST)
    box = s.wait_message_box(TEST_OK_TEXT, title="情報")
    check_eq(box["owner"], dialog(s)["hwnd"], "owner of the test result")
    s.answer_box(box, "OK")
    check_eq(s.sim.frame_texts()[n:], ["C"], "frames of the communication test")

    s.sim.control("silent 1")
    t0 = time.monotonic()
    press_control(s, ID_TEST)
    box = s.wait_message_box(TEST_FAILED_TEXT, title="エラー")
    waited = time.monotonic() - t0
    log("failure box after %.2f s" % waited)
    check(waited >= 0.9, "the silent switcher failed the test after only %.2f s" % waited)
    s.screenshot("test-failed")
    s.answer_box(box, "OK")
    s.sim.control("silent 0")

    s.probe("select", "--class", DIALOG_CLASS, "--id", str(ID_PORT), "--item", "COM7")
    press_control(s, ID_TEST)
    box = s.wait_message_box(TEST_FAILED_TEXT, title="エラー")
    s.answer_box(box, "OK")

    s.probe("select", "--class", DIALOG_CLASS, "--id", str(ID_PORT), "--item", "選択してください")
    n = len(s.sim.frames())
    press_control(s, ID_TEST)
    box = s.wait_message_box(SELECT_PORT_TEXT, title="情報")
    s.answer_box(box, "OK")
    holds_for(lambda: len(s.sim.frames()) == n, 1.0, "no frame for the selection prompt")

    # Cancel: nothing stored; the device link goes back to the stored COM5.
    press_control(s, ID_CANCEL)
    answer_close_question(s, "はい")
    wait_hotkeys(s, True)
    check_eq(dict(dict(ini_sections(s))["HotKey"]).get("ComPort"), "COM5", "stored port after Cancel")
    press_expect(s, "F6", ["S6"])
