#include "app/core/WebRemotePage.h"

namespace kav {

const char KWebRemotePage[] = R"KAVPAGE(<!DOCTYPE html>
<html lang="ja">
<head>
<meta charset="utf-8">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>KTX-AV90R リモート</title>
<style>
*{box-sizing:border-box}
body{margin:0;font-family:"Hiragino Sans","Yu Gothic UI","Meiryo",sans-serif;background:#f2f3f5;color:#1d1d1f}
main{max-width:480px;margin:0 auto;padding:12px}
h1{font-size:1.15rem;margin:4px 0 10px}
#banner{display:none;border-radius:8px;padding:10px 12px;margin-bottom:10px;font-weight:bold;line-height:1.4}
#banner.show{display:block}
#banner.error{background:#fde2e1;color:#a40e0e;border:1px solid #e79a98}
#banner.info{background:#e6eefc;color:#1b3f8f;border:1px solid #9db5e8}
dl{display:grid;grid-template-columns:1fr auto;gap:6px 10px;margin:0 0 12px;background:#fff;border-radius:8px;padding:12px}
dt{color:#555}
dd{margin:0;font-weight:bold;text-align:right}
dl.stale dd{color:#9a9ca3}
.buttons{display:grid;grid-template-columns:1fr 1fr;gap:10px;margin-bottom:10px}
.inputs{display:grid;grid-template-columns:repeat(4,1fr);gap:10px}
button{font:inherit;font-size:1.05rem;min-height:58px;border-radius:10px;border:1px solid #b9bcc4;background:#fff;color:#1d1d1f;touch-action:manipulation}
button:active{background:#dfe3ea}
button.on{background:#1f6feb;border-color:#1f6feb;color:#fff}
button:disabled{opacity:.45}
#keyform{display:none;background:#fff;border-radius:8px;padding:12px;margin-bottom:10px}
#keyform.show{display:block}
#keyform input{width:100%;font:inherit;padding:10px;margin:8px 0;border:1px solid #b9bcc4;border-radius:6px}
#keyform button{width:100%}
</style>
</head>
<body>
<main>
<h1>KTX-AV90R リモート</h1>
<div id="banner" role="status" aria-live="polite"></div>
<form id="keyform">
<label for="key">アクセスキーを入力してください</label>
<input id="key" type="password" autocomplete="off" autocapitalize="off" spellcheck="false">
<button type="submit">接続</button>
</form>
<dl>
<dt>ホットキー制御</dt><dd id="hotkey">－</dd>
<dt>KTX-AV90R電源</dt><dd id="power">－</dd>
<dt>ブラックアウト</dt><dd id="blackout">－</dd>
<dt>選択中の入力ソース</dt><dd id="input">－</dd>
<dt>COMポート</dt><dd id="port">－</dd>
</dl>
<div class="buttons">
<button id="btnPower" data-path="/api/power/toggle">電源</button>
<button id="btnBlackout" data-path="/api/blackout/toggle">ブラックアウト</button>
</div>
<div class="inputs" id="inputs"></div>
</main>
<script>
"use strict";
const $ = id => document.getElementById(id);
const TEXT = {
  connecting: "プログラムに接続しています…",
  lost: "プログラムに接続できません。PCの電源とネットワークを確認してください。接続を試み続けています。",
  portError: "COMポートが開けません。接続、または設定を確認してください。",
  noPort: "COMポートが設定されていません。PCで環境設定を開いてください。",
  busy: "PCで設定画面やメッセージを表示中のため、実行できませんでした。",
  starting: "プログラムが起動中です。しばらくしてからもう一度押してください。",
  badKey: "アクセスキーが違います。",
  failed: "実行できませんでした。"
};
let key = localStorage.getItem("kavKey") || "";
let status = null, online = false, lastData = 0, aborter = null, notice = "";
for (let n = 1; n <= 8; n++) {
  const b = document.createElement("button");
  b.textContent = "入力" + n; b.dataset.path = "/api/input/" + n; b.dataset.input = n;
  $("inputs").appendChild(b);
}
function headers() { return key ? { Authorization: "Bearer " + key } : {}; }
function show() {
  const s = status, on = v => v === "on" ? "ON" : "OFF";
  $("hotkey").textContent = s ? (s.hotkey === "on" ? "有効" : "無効") : "－";
  $("power").textContent = s ? on(s.power) : "－";
  $("blackout").textContent = s ? on(s.blackout) : "－";
  $("input").textContent = s && s.input > 0 ? String(s.input) : "－";
  $("port").textContent = s ? (s.port || "未設定") : "－";
  document.querySelector("dl").classList.toggle("stale", !online); // last known values only
  $("btnPower").textContent = "電源 " + (s ? on(s.power) : "");
  $("btnPower").classList.toggle("on", !!s && s.power === "on");
  $("btnBlackout").textContent = "ブラックアウト " + (s ? on(s.blackout) : "");
  $("btnBlackout").classList.toggle("on", !!s && s.blackout === "on");
  for (const b of document.querySelectorAll("button[data-path]")) {
    b.disabled = !online;
    if (b.dataset.input) b.classList.toggle("on", !!s && s.input === Number(b.dataset.input));
  }
  let text = notice, kind = "error";
  if (!online) text = $("keyform").classList.contains("show") ? text : (lastData ? TEXT.lost : TEXT.connecting);
  else if (!text && s && !s.port) text = TEXT.noPort;
  if (!online && !lastData && !notice) kind = "info";
  $("banner").textContent = text;
  $("banner").className = text ? "show " + kind : "";
}
function askKey(wrong) {
  online = false; notice = wrong ? TEXT.badKey : "";
  $("keyform").classList.add("show"); $("key").focus(); show();
}
$("keyform").addEventListener("submit", e => {
  e.preventDefault(); key = $("key").value.trim(); localStorage.setItem("kavKey", key);
  $("keyform").classList.remove("show"); notice = ""; connect();
});
async function connect() {
  if (aborter) aborter.abort();
  const mine = aborter = new AbortController();
  try {
    const r = await fetch("/api/events", { headers: headers(), cache: "no-store", signal: mine.signal });
    if (r.status === 401) { askKey(!!key); return; }
    if (!r.ok || !r.body) throw new Error(String(r.status));
    const reader = r.body.getReader(), dec = new TextDecoder();
    let buf = "";
    for (;;) {
      const { value, done } = await reader.read();
      if (done) break;
      lastData = Date.now();
      buf += dec.decode(value, { stream: true });
      let i;
      while ((i = buf.indexOf("\n\n")) >= 0) {
        const block = buf.slice(0, i); buf = buf.slice(i + 2);
        const data = block.split("\n").filter(l => l.startsWith("data:")).map(l => l.slice(5).trim()).join("\n");
        if (block.includes("event: status") && data) {
          status = JSON.parse(data);
          if (!online) { online = true; notice = ""; }
          show();
        }
      }
    }
  } catch (e) {
    if (mine.signal.aborted && aborter !== mine) return; // replaced by a newer connection
  }
  if (aborter !== mine) return;
  online = false; show();
  setTimeout(connect, 2000);
}
// The program sends a comment every 15 s: silence for longer means the
// connection is gone, even when the network has not said so.
setInterval(() => {
  if (online && Date.now() - lastData > 40000) { aborter.abort(); aborter = null; online = false; show(); setTimeout(connect, 500); }
}, 5000);
document.addEventListener("click", async e => {
  const b = e.target.closest("button[data-path]");
  if (!b || b.disabled) return;
  let text = "";
  try {
    const r = await fetch(b.dataset.path, { method: "POST", headers: headers(), cache: "no-store" });
    const body = await r.json().catch(() => ({}));
    if (r.status === 401) { askKey(true); return; }
    if (r.status === 409) text = TEXT.busy;
    else if (r.status === 503) text = body.result === "starting" ? TEXT.starting : TEXT.portError;
    else if (!r.ok) text = TEXT.failed;
  } catch (err) {
    online = false;
  }
  notice = text; show();
});
show();
connect();
</script>
</body>
</html>
)KAVPAGE";

} // namespace kav
