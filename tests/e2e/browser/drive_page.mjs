// Drives Debian's chromium (headless, phone-sized) for the end-to-end
// scenarios: one JSON command a line on standard input, one JSON answer a
// line on standard output. The scenario polls with "read"; this script
// never waits on its own.
//   {"op":"open","url":U,"profile":DIR}      a new, empty profile in DIR
//   {"op":"fill","selector":S,"value":V}
//   {"op":"click","name":N}                   the button named N
//   {"op":"read"}                             the values, banner and highlighted buttons
//   {"op":"screenshot","path":P}
// The browser closes when the input ends.
import { createInterface } from "node:readline";
import { chromium } from "playwright-core";

const FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
  "--disable-background-networking", "--disable-component-update", "--disable-sync"];
let context = null;
let page = null;

const ops = {
  async open(c) {
    context = await chromium.launchPersistentContext(c.profile, {
      executablePath: "/usr/bin/chromium", headless: true, args: FLAGS,
      viewport: { width: 390, height: 844 }, deviceScaleFactor: 2, isMobile: true, hasTouch: true,
    });
    page = context.pages()[0] || await context.newPage();
    await page.goto(c.url);
    return {};
  },
  async fill(c) { await page.fill(c.selector, c.value); return {}; },
  async click(c) { await page.getByRole("button", { name: c.name, exact: true }).click({ timeout: 5000 }); return {}; },
  async read() {
    return page.evaluate(() => {
      const text = id => document.getElementById(id).textContent;
      return {
        hotkey: text("hotkey"), power: text("power"), blackout: text("blackout"), input: text("input"),
        port: text("port"), banner: text("banner"),
        keyForm: document.getElementById("keyform").classList.contains("show"),
        highlighted: [...document.querySelectorAll("button.on")].map(b => b.textContent),
        disabled: [...document.querySelectorAll("button[data-path]")].every(b => b.disabled),
      };
    });
  },
  async screenshot(c) { await page.screenshot({ path: c.path, fullPage: true }); return {}; },
};

const lines = createInterface({ input: process.stdin });
for await (const line of lines) {
  if (!line.trim()) continue;
  const c = JSON.parse(line);
  let answer;
  try {
    answer = { ok: true, value: await ops[c.op](c) };
  } catch (e) {
    answer = { ok: false, error: String(e && e.message || e) };
  }
  process.stdout.write(JSON.stringify(answer) + "\n");
}
if (context) await context.close();
