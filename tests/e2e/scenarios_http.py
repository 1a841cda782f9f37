"""Scenarios of the network remote ([Remote] HttpPort in the settings file):
the API from Linux (Wine's sockets are the host's) with every status code,
commands on the wire and the labels, the event stream, the connection limit
and idle close, a port another program holds, and the web page in Debian's
chromium."""

import http.client
import json
import os
import select
import socket
import subprocess
import time

from kav_e2e import ROOT, check, check_eq, holds_for, log, scenario, wait_for
from scenarios_program import Presser, boot
from scenarios_remote import ID_CANCEL, SETTINGS_CLASS, CLOSE_QUESTION, open_settings_dialog

KEY = "k3y-Of-The-Booth"
STATUS_KEYS = ("power", "blackout", "input", "hotkey", "port")
BROWSER_DIR = os.path.join(ROOT, "tests", "e2e", "browser")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def remote_section(port, key=None, address=None):
    lines = ["[Remote]", "HttpPort=%d" % port]
    if address:
        lines.append("HttpAddress=" + address)
    if key:
        lines.append("HttpKey=" + key)
    return "\r\n".join(lines) + "\r\n"


class Api:
    """Requests to the program's server on 127.0.0.1:port, with the key unless key=False."""

    def __init__(self, port, key=None):
        self.port, self.key = port, key

    def request(self, method, path, headers=None, body=None, key=True):
        h = dict({"Authorization": "Bearer " + self.key} if key and self.key else {}, **(headers or {}))
        c = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        try:
            c.request(method, path, body=body, headers=h)
            r = c.getresponse()
            data = r.read()
        finally:
            c.close()
        log("%s %s -> %d %s" % (method, path, r.status, data[:100]))
        check_eq(r.getheader("Cache-Control"), "no-store", "Cache-Control of %s %s" % (method, path))
        return r.status, data, r

    def json(self, method, path, **kw):
        status, data, _ = self.request(method, path, **kw)
        return status, json.loads(data)

    def raw(self, data):
        """Sends bytes as they are; returns the status code of the answer."""
        with socket.create_connection(("127.0.0.1", self.port), timeout=30) as c:
            c.sendall(data)
            return int(c.recv(4096).split(b" ")[1])

    def status(self):
        code, body = self.json("GET", "/api/status")
        check_eq(code, 200, "GET /api/status")
        return body


class EventStream:
    """GET /api/events on a socket of its own."""

    def __init__(self, api):
        self.sock = socket.create_connection(("127.0.0.1", api.port), timeout=30)
        self.sock.sendall(b"GET /api/events HTTP/1.1\r\nHost: 127.0.0.1:%d\r\nAuthorization: Bearer %s\r\n\r\n"
                          % (api.port, api.key.encode()))
        self.buf = b""

    def events(self):
        while select.select([self.sock], [], [], 0)[0] and (chunk := self.sock.recv(4096)):
            self.buf += chunk
        head, _, body = self.buf.partition(b"\r\n\r\n")
        check(not body or head.startswith(b"HTTP/1.1 200") and b"Content-Type: text/event-stream" in head,
              "event stream answer: %r" % head)
        return [json.loads(block.split(b"data: ", 1)[1]) for block in body.split(b"\n\n")[:-1]
                if block.startswith(b"event: status\n")]

    def wait(self, expected, what):
        """The last event, once it holds the expected values."""
        return wait_for(lambda: (lambda e: e[-1] if e and all(e[-1][k] == v for k, v in expected.items()) else None)(
            self.events()), 10, "event " + what)


def post_command(s, api, path, frames, labels):
    """POST path: 200 done, exactly `frames` on the wire, then the labels."""
    before = len(s.sim.frames())
    check_eq(api.json("POST", path), (200, {"result": "done"}), "POST " + path)
    if frames:
        s.wait_frames(frames, 10, since=before)
    else:
        holds_for(lambda: len(s.sim.frames()) == before, 0.5, "no frame for " + path)
    s.wait_labels(labels)


@scenario(timeout=420)
def http_api_commands_status_events_and_errors(s):
    """With HttpPort and HttpKey: the log line, the status, commands on the
    wire and the labels, the event stream, each error status, 409 while the
    settings dialog is open, 503 on a vanished switcher, the connection limit
    and the idle close."""
    port = free_port()
    boot(s, {}, sim_args=("--power", "1", "--blackout", "0", "--input", "1"), extra=remote_section(port, KEY))
    s.wait_frames(["C"], 10)
    s.wait_labels({"hotkey": "有効", "power": "ON", "input": "1"})
    check("HTTPリモート：http://127.0.0.1:%d/ で待ち受けます（アクセスキーあり）" % port in s.log_texts(),
          "the listening log line: %r" % s.log_texts())
    api = Api(port, KEY)
    check_eq(api.status(), {"power": "on", "blackout": "off", "input": 1, "hotkey": "on", "port": "COM5"},
             "status after the start")
    events = EventStream(api)
    events.wait({"input": 1}, "at connect")

    post_command(s, api, "/api/input/3", ["S3"], {"input": "3"})
    events.wait({"input": 3}, "after input 3")
    post_command(s, api, "/api/blackout/toggle", ["B1"], {"blackout": "ON"})
    post_command(s, api, "/api/power/off", ["W0"], {"power": "OFF"})
    post_command(s, api, "/api/hotkey/off", [], {"hotkey": "無効"})
    # Power reported off: the power-up rule comes first, as for the hot key.
    post_command(s, api, "/api/input/5", ["W1", "S5"], {"power": "ON", "input": "5"})
    check_eq(events.wait({"hotkey": "off", "input": 5}, "after the commands"),
             {"power": "on", "blackout": "on", "input": 5, "hotkey": "off", "port": "COM5"}, "last event")
    frames = s.sim.frame_texts()

    check_eq(api.raw(b"NOT HTTP AT ALL\r\n\r\n"), 400, "a malformed request")
    check_eq(api.json("GET", "/api/status", key=False), (401, {"error": "unauthorized"}), "no key")
    check_eq(api.request("POST", "/api/power/on", headers={"Authorization": "Bearer wrong"}, key=False)[0], 401,
             "a wrong key")
    check_eq(api.request("POST", "/api/power/on", headers={"Origin": "http://evil.example"})[0], 403, "foreign origin")
    check_eq(api.request("GET", "/api/status", headers={"Host": "evil.example:%d" % port})[0], 403, "foreign host")
    check_eq(api.json("GET", "/api/nothing"), (404, {"error": "not found"}), "unknown path")
    status, _, r = api.request("GET", "/api/power/on")
    check_eq((status, r.getheader("Allow")), (405, "POST"), "a command by GET")
    check_eq(api.request("POST", "/api/power/on", body=b"x" * 2000)[0], 413, "a body over 1 KB")
    page = api.request("GET", "/", key=False)
    check_eq((page[0], page[2].getheader("Content-Type")), (200, "text/html; charset=utf-8"), "the page")
    check_eq(s.sim.frame_texts(), frames, "frames after the refused requests")

    post_command(s, api, "/api/hotkey/on", [], {"hotkey": "有効"})
    open_settings_dialog(s)
    check_eq(api.json("POST", "/api/power/off"), (409, {"result": "busy"}), "a command while the dialog is open")
    check_eq(api.status()["power"], "on", "status while the dialog is open")
    s.probe("click", "--class", SETTINGS_CLASS, "--id", str(ID_CANCEL))
    s.answer_box(s.wait_message_box(CLOSE_QUESTION), "いいえ")
    wait_for(lambda: not s.windows(cls=SETTINGS_CLASS, visible=True), 10, "the dialog to close")

    s.sim.control("vanish")
    check_eq(api.json("POST", "/api/input/2"), (503, {"result": "port error"}), "a command on a vanished switcher")
    check(not s.message_boxes(), "a box after the port error: %r" % s.message_boxes())
    s.sim.control("return")
    check_eq(s.sim.frame_texts(), frames, "frames after 409 and 503")
    events.sock.close()

    # At most 16 connections; an idle one is closed after 10 s.
    idle = [socket.create_connection(("127.0.0.1", port), timeout=30) for _ in range(16)]
    extra = socket.create_connection(("127.0.0.1", port), timeout=30)
    check_eq(extra.recv(16), b"", "the 17th connection")
    extra.close()
    opened = time.time()
    holds_for(lambda: not select.select(idle, [], [], 0)[0], 5, "idle connections kept for 5 s")
    wait_for(lambda: all(select.select([c], [], [], 0)[0] and c.recv(16) == b"" for c in idle), 20,
             "idle connections closed")
    log("idle connections closed after %.1f s" % (time.time() - opened))
    for c in idle:
        c.close()
    check_eq(api.status()["input"], 5, "status after the idle connections")


@scenario(timeout=240)
def http_port_held_by_another_program(s):
    """The port is taken: one log line, no box, the program works as usual
    (hot keys act); the status window's values are untouched."""
    holder = socket.socket()
    holder.bind(("127.0.0.1", 0))
    holder.listen(1)
    port = holder.getsockname()[1]
    try:
        boot(s, {}, sim_args=("--power", "1", "--input", "1"), extra=remote_section(port))
        s.wait_frames(["C"], 10)
        line = "HTTPリモート：127.0.0.1:%d で待ち受けられません（ほかのプログラムがポートを使用中です）。待ち受けません" % port
        check(line in s.log_texts(), "the port-taken log line: %r" % s.log_texts())
        check(not s.message_boxes(), "a box: %r" % s.message_boxes())
        before = len(s.sim.frames())
        Presser(s).press("F4")
        s.wait_frames(["S4"], 10, since=before)
        s.wait_labels({"input": "4"})
    finally:
        holder.close()


class Browser:
    """tests/e2e/browser/drive_page.mjs: chromium driven by playwright-core."""

    def __init__(self, s):
        check(os.path.isdir(os.path.join(BROWSER_DIR, "node_modules", "playwright-core")),
              "playwright-core is not installed (scripts/setup.sh)")
        self.proc = subprocess.Popen(["node", os.path.join(BROWSER_DIR, "drive_page.mjs")], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=open(s._file("browser.err"), "w"), text=True)
        self.profile = s._file("browser-profile")
        os.makedirs(self.profile, exist_ok=True)

    def do(self, op, **args):
        self.proc.stdin.write(json.dumps(dict(args, op=op)) + "\n")
        self.proc.stdin.flush()
        ready = select.select([self.proc.stdout], [], [], 60)[0]
        check(ready, "the browser did not answer %s" % op)
        answer = json.loads(self.proc.stdout.readline())
        check(answer["ok"], "browser %s failed: %s" % (op, answer.get("error")))
        return answer["value"]

    def wait(self, what, ok, timeout=15):
        return wait_for(lambda: (lambda v: v if ok(v) else None)(self.do("read")), timeout, what, 0.2)

    def close(self):
        self.proc.stdin.close()  # the driver closes the browser at the end of its input
        self.proc.wait(30)


@scenario(timeout=300)
def http_web_page_in_a_browser(s):
    """The page in chromium on a phone-sized screen: it asks for the key,
    shows the status window's values, 入力3 sends S3 and highlights 3, a
    port error is shown, and a program that has gone is shown as
    unreachable."""
    port = free_port()
    p = boot(s, {}, sim_args=("--power", "1", "--blackout", "0", "--input", "1"), extra=remote_section(port, KEY))
    s.wait_frames(["C"], 10)
    b = Browser(s)
    try:
        b.do("open", url="http://127.0.0.1:%d/" % port, profile=b.profile)
        b.wait("the key form", lambda v: v["keyForm"])
        b.do("fill", selector="#key", value=KEY)
        b.do("click", name="接続")
        shown = b.wait("the status", lambda v: v["input"] == "1")
        check_eq({k: shown[k] for k in STATUS_KEYS}, {"power": "ON", "blackout": "OFF", "input": "1",
                                                       "hotkey": "有効", "port": "COM5"}, "values on the page")
        before = len(s.sim.frames())
        b.do("click", name="入力3")
        s.wait_frames(["S3"], 10, since=before)
        s.wait_labels({"input": "3"})
        shown = b.wait("input 3", lambda v: v["input"] == "3" and "入力3" in v["highlighted"])
        check_eq(shown["highlighted"], ["電源 ON", "入力3"], "highlighted buttons")
        check_eq(shown["banner"], "", "banner while all is well")
        b.do("screenshot", path=s._file("web-remote.png"))

        s.sim.control("vanish")
        b.do("click", name="入力6")
        b.wait("the port error", lambda v: v["banner"] == "COMポートが開けません。接続、または設定を確認してください。")
        b.do("screenshot", path=s._file("web-remote-port-error.png"))
        s.sim.control("return")

        s.tray_menu("x")
        wait_for(lambda: p.poll() is not None, 30, "the program to end")
        b.wait("the program unreachable", lambda v: v["disabled"] and v["banner"].startswith("プログラムに接続できません"),
               timeout=20)
        b.do("screenshot", path=s._file("web-remote-unreachable.png"))
    finally:
        b.close()
