"""The network remote ([Remote] HttpPort in the settings file) on one
running program: the API from Linux (Wine's sockets are the host's) and the
web page in Debian's chromium; then a start while the port is taken."""

import http.client
import json
import os
import re
import select
import socket
import subprocess

from kav_e2e import ROOT, check, check_eq, holds_for, log, scenario, wait_for
from scenarios_program import boot
from scenarios_remote import ID_CANCEL, SETTINGS_CLASS, CLOSE_QUESTION, open_settings_dialog

KEY = "k3y-Of-The-Booth"
AUTH = {"Authorization": "Bearer " + KEY}
JSON_TYPE = "application/json; charset=utf-8"
BROWSER_DIR = os.path.join(ROOT, "tests", "e2e", "browser")

# What the server refuses, each on a connection of its own: (what, method,
# path, headers ({port} filled in), body, status, error).
REFUSED = [
    ("no key", "GET", "/api/status", {}, None, 401, "unauthorized"),
    ("a wrong key", "POST", "/api/power/on", {"Authorization": "Bearer wrong"}, None, 401, "unauthorized"),
    ("a foreign origin", "POST", "/api/power/on", dict(AUTH, Origin="http://evil.example"), None, 403, "forbidden"),
    ("a foreign host", "GET", "/api/status", dict(AUTH, Host="evil.example:{port}"), None, 403, "forbidden"),
    ("an unknown path", "GET", "/api/nothing", AUTH, None, 404, "not found"),
    ("a command by GET", "GET", "/api/power/on", AUTH, None, 405, "method not allowed"),
    ("a body over 1 KB", "POST", "/api/power/on", AUTH, b"x" * 2000, 413, "payload too large"),
]


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def request(port, method, path, headers=AUTH, body=None):
    """One request on a connection of its own: (status, body (JSON decoded),
    response). Every answer must say Cache-Control: no-store."""
    c = http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    c.request(method, path, body=body, headers=headers)
    r = c.getresponse()
    data = r.read()
    c.close()
    log("%s %s -> %d %s" % (method, path, r.status, data[:100]))
    check_eq(r.getheader("Cache-Control"), "no-store", "Cache-Control of %s %s" % (method, path))
    return r.status, json.loads(data) if r.getheader("Content-Type") == JSON_TYPE else data, r


def event_stream(port):
    """GET /api/events on a socket of its own: (socket, a function that waits
    for the last status event to hold the expected values and returns it)."""
    sock = socket.create_connection(("127.0.0.1", port), timeout=30)
    sock.sendall(b"GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nAuthorization: Bearer %s\r\n\r\n"
                 % (port, KEY.encode()))
    got = [b""]

    def last(expected):
        while select.select([sock], [], [], 0)[0] and (chunk := sock.recv(4096)):
            got[0] += chunk
        head, _, body = got[0].partition(b"\r\n\r\n")
        check(not body or head.startswith(b"HTTP/1.1 200") and b"Content-Type: text/event-stream" in head,
              "event stream answer: %r" % head)
        events = [json.loads(e) for e in re.findall(rb"event: status\ndata: (.*)\n\n", body)]
        return events and all(events[-1][k] == v for k, v in expected.items()) and events[-1]
    return sock, lambda expected, what: wait_for(lambda: last(expected), 10, "event " + what)


@scenario(timeout=420)
def http_api_web_page_and_a_taken_port(s):
    """With HttpPort and HttpKey: the log line, the status, commands on the
    wire, the labels and the event stream; each refusal (400, 401, 403 for
    Origin and Host, 404, 405, 413) and 409 while the settings dialog is open
    leave the wire alone; the 16-connection limit and the 10 s idle close.
    The page on a phone-sized screen asks for the key, shows the values,
    入力3 sends S3 and highlights 3; a vanished switcher: the page's port
    error, 503 and no box; the program gone: the page says so. Another start
    while another program holds the port: one log line, no box, hot keys."""
    port = free_port()
    p = boot(s, {}, sim_args=("--power", "1", "--blackout", "0", "--input", "1"),
             extra="[Remote]\r\nHttpPort=%d\r\nHttpKey=%s\r\n" % (port, KEY))
    s.wait_frames(["C"], 10)
    s.wait_labels({"hotkey": "有効", "power": "ON", "input": "1"})
    listening = "HTTPリモート：http://127.0.0.1:%d/ で待ち受けます（アクセスキーあり）" % port
    check(listening in s.log_texts(), "the listening log line: %r" % s.log_texts())
    check_eq(request(port, "GET", "/api/status")[:2],
             (200, {"power": "on", "blackout": "off", "input": 1, "hotkey": "on", "port": "COM5"}), "status at start")
    stream, wait_event = event_stream(port)
    wait_event({"input": 1}, "at connect")
    for path, frames, labels, event in [
            ("/api/input/3", ["S3"], {"input": "3"}, {"input": 3}),
            ("/api/blackout/toggle", ["B1"], {"blackout": "ON"}, {"blackout": "on"}),
            ("/api/power/off", ["W0"], {"power": "OFF"}, {"power": "off"}),
            ("/api/hotkey/off", [], {"hotkey": "無効"}, {"hotkey": "off"}),
            # Power reported off: the power-up rule comes first, as for the hot key.
            ("/api/input/5", ["W1", "S5"], {"power": "ON", "input": "5"}, {"power": "on", "input": 5}),
            ("/api/hotkey/on", [], {"hotkey": "有効"}, {"hotkey": "on"})]:
        before = len(s.sim.frames())
        check_eq(request(port, "POST", path)[:2], (200, {"result": "done"}), "POST " + path)
        if frames:
            s.wait_frames(frames, 10, since=before)
        else:
            holds_for(lambda: len(s.sim.frames()) == before, 0.5, "no frame for " + path)
        s.wait_labels(labels)
        wait_event(event, "after " + path)
    check_eq(wait_event({}, "after the commands"),
             {"power": "on", "blackout": "on", "input": 5, "hotkey": "on", "port": "COM5"}, "last event")
    frames = s.sim.frame_texts()

    with socket.create_connection(("127.0.0.1", port), timeout=30) as c:
        c.sendall(b"NOT HTTP AT ALL\r\n\r\n")
        head = c.recv(4096)
    check(head.split(b" ")[1:2] == [b"400"] and b"Cache-Control: no-store" in head, "a malformed request: %r" % head)
    for what, method, path, headers, body, code, error in REFUSED:
        status, answer, r = request(port, method, path, {k: v.format(port=port) for k, v in headers.items()}, body)
        check_eq((status, answer, r.getheader("Allow")), (code, {"error": error}, {405: "POST"}.get(code)), what)
    open_settings_dialog(s)
    check_eq(request(port, "POST", "/api/power/off")[:2], (409, {"result": "busy"}), "a command, the dialog open")
    check_eq(request(port, "GET", "/api/status")[1]["power"], "on", "status while the dialog is open")
    s.probe("click", "--class", SETTINGS_CLASS, "--id", str(ID_CANCEL))
    s.answer_box(s.wait_message_box(CLOSE_QUESTION), "いいえ")
    wait_for(lambda: not s.windows(cls=SETTINGS_CLASS, visible=True), 10, "the dialog to close")
    check_eq(s.sim.frame_texts(), frames, "frames after the refused and busy commands")
    stream.close()

    idle = [socket.create_connection(("127.0.0.1", port), timeout=30) for _ in range(16)]
    with socket.create_connection(("127.0.0.1", port), timeout=30) as extra:
        check(select.select([extra], [], [], 5)[0] and extra.recv(16) == b"", "the 17th connection is not closed")
    holds_for(lambda: not select.select(idle, [], [], 0)[0], 5, "idle connections kept for 5 s")
    wait_for(lambda: all(select.select([c], [], [], 0)[0] and c.recv(16) == b"" for c in idle), 20,
             "idle connections closed")
    check_eq(request(port, "GET", "/api/status")[1]["input"], 5, "status after the idle connections")

    check(os.path.isdir(os.path.join(BROWSER_DIR, "node_modules", "playwright-core")),
          "playwright-core is not installed (scripts/setup.sh)")
    proc = subprocess.Popen(["node", os.path.join(BROWSER_DIR, "drive_page.mjs")], stdin=subprocess.PIPE,
                            stdout=subprocess.PIPE, stderr=open(s._file("browser.err"), "w"), text=True)

    def do(op, **args):
        proc.stdin.write(json.dumps(dict(args, op=op)) + "\n")
        proc.stdin.flush()
        check(select.select([proc.stdout], [], [], 60)[0], "the browser did not answer %s" % op)
        answer = json.loads(proc.stdout.readline())
        check(answer["ok"], "browser %s failed: %s" % (op, answer.get("error")))
        return answer["value"]

    def shows(what, ok, timeout=15):
        return wait_for(lambda: (lambda v: ok(v) and v)(do("read")), timeout, what, 0.2)

    try:
        status, _, r = request(port, "GET", "/", {})
        check_eq((status, r.getheader("Content-Type")), (200, "text/html; charset=utf-8"), "the page without the key")
        do("open", url="http://127.0.0.1:%d/" % port, profile=s._file("browser-profile"))
        shows("the key form", lambda v: v["keyForm"])
        do("fill", selector="#key", value=KEY)
        do("click", name="接続")
        shown = shows("the status", lambda v: v["input"] == "5")
        check_eq({k: shown[k] for k in ("power", "blackout", "input", "hotkey", "port")},
                 {"power": "ON", "blackout": "ON", "input": "5", "hotkey": "無効", "port": "COM5"}, "values on the page")
        before = len(s.sim.frames())
        do("click", name="入力3")
        s.wait_frames(["S3"], 10, since=before)
        s.wait_labels({"input": "3"})
        shown = shows("input 3", lambda v: v["input"] == "3" and "入力3" in v["highlighted"])
        check_eq((shown["highlighted"], shown["banner"]), (["電源 ON", "ブラックアウト ON", "入力3"], ""),
                 "highlighted buttons, banner")
        do("screenshot", path=s._file("web-remote.png"))

        s.sim.control("vanish")
        do("click", name="入力6")
        shows("the port error", lambda v: v["banner"] == "COMポートが開けません。接続、または設定を確認してください。")
        do("screenshot", path=s._file("web-remote-port-error.png"))
        check_eq(request(port, "POST", "/api/input/2")[:2], (503, {"result": "port error"}), "a vanished switcher")
        check(not s.message_boxes(), "a box after the port error: %r" % s.message_boxes())
        s.sim.control("return")

        s.tray_menu("x")
        wait_for(lambda: p.poll() is not None, 30, "the program to end")
        shows("the program unreachable", lambda v: v["disabled"] and v["banner"].startswith("プログラムに接続できません"), 20)
        do("screenshot", path=s._file("web-remote-unreachable.png"))
    finally:
        proc.stdin.close()  # the driver closes the browser at the end of its input
        proc.wait(30)

    with socket.create_server(("127.0.0.1", port)):  # another program holds the port
        before = len(s.sim.frames())
        s.start_program(name="program-port-taken")
        wait_for(lambda: s.log_texts().count("起動") == 2, 30, "the second start")
        s.wait_frames(["C"], 10, since=before)
        taken = "HTTPリモート：127.0.0.1:%d で待ち受けられません（ほかのプログラムがポートを使用中です）。待ち受けません" % port
        check_eq([t for t in s.log_texts() if t.startswith("HTTPリモート")], [listening, taken], "the remote's lines")
        check(not s.message_boxes(), "a box: %r" % s.message_boxes())
        s.key("F4")
        s.wait_frames(["C", "S4"], 10, since=before)
        s.wait_labels({"input": "4"})
