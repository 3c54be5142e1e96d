// A phone's browser for the tests: Debian's Chromium, headless, driven by
// playwright-core (pinned in phones/web/package-lock.json). The test sends
// one command a line as JSON on stdin and reads one answer a line on stdout.
import { createInterface } from "node:readline";
import { createRequire } from "node:module";

const require = createRequire(new URL("../../phones/web/package.json", import.meta.url));
const { chromium, request } = require("playwright-core");

let browser, context, page, api;
const answer = (o) => process.stdout.write(JSON.stringify(o) + "\n");
const timeout = 15000;

const commands = {
  // A phone-sized browser that trusts only the PC certificate the test names,
  // with a camera that sees the test's video.
  async launch({ spki, video, width, height }) {
    const args = ["--disable-gpu", "--disable-quic", "--no-first-run", "--disable-background-networking",
      "--disable-component-update", "--disable-sync", "--use-fake-ui-for-media-stream",
      `--ignore-certificate-errors-spki-list=${spki}`];
    if (video) args.push("--use-fake-device-for-media-stream", `--use-file-for-fake-video-capture=${video}`);
    browser = await chromium.launch({ executablePath: process.env.STOLVA_CHROMIUM || "/usr/bin/chromium", args });
    context = await browser.newContext({ viewport: { width, height }, deviceScaleFactor: 2, isMobile: true,
      hasTouch: true, locale: "ja-JP" });
    context.setDefaultTimeout(timeout);
    page = await context.newPage();
    page.on("dialog", (d) => d.dismiss());
    page.on("pageerror", (e) => process.stderr.write(`page error: ${e.message}\n`));
    api = await request.newContext({ ignoreHTTPSErrors: true });
    return {};
  },
  async goto({ url }) { await page.goto(url); return { url: page.url() }; },
  // Keys as a person types them; "\n" is the Enter key, "\t" the Tab key.
  async type({ sel, text }) {
    await page.click(sel);
    for (const part of text.split(/(\n|\t)/)) {
      if (part === "\n") await page.keyboard.press("Enter");
      else if (part === "\t") await page.keyboard.press("Tab");
      else if (part) await page.keyboard.type(part);
    }
    return {};
  },
  async click({ sel }) { await page.click(sel); return {}; },
  // Waits until the element's text holds `text`; answers the text it has.
  async see({ sel, text }) {
    try {
      await page.waitForFunction(([s, t]) => {
        const e = document.querySelector(s);
        return e && e.offsetParent !== null && e.textContent.includes(t);
      }, [sel, text], { timeout });
    } catch (e) { /* the test compares what is there */ }
    return { text: await page.$eval(sel, (e) => e.textContent).catch(() => null) };
  },
  async until({ js }) { await page.waitForFunction(js, null, { timeout }); return {}; },
  async eval({ js }) { return { value: await page.evaluate(js) }; },
  async offline({ on }) { await context.setOffline(on); return {}; },
  // A request the page would never send, straight to the PC.
  async request({ method, url, headers, body }) {
    // The bytes as they are (a string would be made into JSON when it is none).
    const r = await api.fetch(url, { method, headers, data: body ? Buffer.from(body) : undefined,
      failOnStatusCode: false });
    return { status: r.status(), body: await r.text() };
  },
  async shot({ path }) { await page.screenshot({ path }); return {}; },
  async quit() { await api?.dispose(); await browser?.close(); return {}; },
};

for await (const line of createInterface({ input: process.stdin })) {
  const c = JSON.parse(line);
  try {
    answer(await commands[c.do](c));
  } catch (e) {
    answer({ error: String(e.message || e).split("\n")[0] });
  }
  if (c.do === "quit") break;
}
