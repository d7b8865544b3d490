// Drives quendra-bridge's page in Debian's Chromium for the tests, the bench
// and the screenshots: one command a line on standard input, as JSON
// {"id": N, "op": ..., ...}, one answer a line on standard output,
// {"id": N, "ok": true, ...} or {"id": N, "ok": false, "error": "..."}.
// Controls are found as a person with a screen reader finds them: by role
// and accessible name, inside the regions that "scope" names in turn.
import { chromium } from 'playwright-core';
import { createInterface } from 'node:readline';

const Flags = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  // Without these the browser reaches out to the network, which is closed here.
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

let browser = null;
let context = null;
let page = null;
let problems = { console: [], pageErrors: [], dialogs: [] };
const seen = new Map(); // label -> hrtime when the page showed it

function now() {
  // The monotonic clock the bench's own stamps use.
  return process.hrtime.bigint().toString();
}

function locate(command) {
  let where = page;
  for (const [role, name] of command.scope ?? []) where = where.getByRole(role, { name, exact: true });
  if (!command.role) return where;
  return where.getByRole(command.role, command.name === undefined ? {} : { name: command.name, exact: true });
}

const ops = {
  async open(c) {
    if (!browser) {
      browser = await chromium.launch({ executablePath: process.env.QUENDRA_CHROMIUM || '/usr/bin/chromium', args: Flags });
    }
    if (context) await context.close();
    problems = { console: [], pageErrors: [], dialogs: [] };
    seen.clear();
    context = await browser.newContext({
      viewport: { width: c.width ?? 1200, height: c.height ?? 900 },
      colorScheme: c.colorScheme ?? 'light',
      httpCredentials: c.credentials,
      deviceScaleFactor: c.scale ?? 1,
    });
    page = await context.newPage();
    page.on('console', (m) => { if (m.type() === 'error' || m.type() === 'warning') problems.console.push(`${m.type()}: ${m.text()}`); });
    page.on('pageerror', (e) => problems.pageErrors.push(String(e.message)));
    page.on('dialog', (d) => { problems.dialogs.push(`${d.type()}: ${d.message()}`); d.dismiss().catch(() => {}); });
    await page.exposeBinding('quendraSeen', (_source, label) => { seen.set(label, now()); });
    let status = 0;
    page.on('response', (r) => { if (r.request().isNavigationRequest()) status = r.status(); });
    try {
      const response = await page.goto(c.url);
      return { status: response ? response.status() : status };
    } catch (error) {
      // A refused login ends the navigation; the status it had still counts.
      if (!status) throw error;
      return { status, refused: String(error.message) };
    }
  },
  async fill(c) { await locate(c).fill(c.value, { timeout: c.timeoutMs ?? 10000 }); return {}; },
  async check(c) { await locate(c).setChecked(c.value !== false, { timeout: c.timeoutMs ?? 10000 }); return {}; },
  async click(c) {
    const target = locate(c);
    await target.waitFor({ timeout: c.timeoutMs ?? 10000 });
    const at = now();
    await target.click({ timeout: c.timeoutMs ?? 10000 });
    return { at };
  },
  // A click at the control's place without the checks a locator's click
  // makes: the stamp is taken just before the mouse goes down.
  async fastClick(c) {
    // Looked up each time: the card grows as values come in.
    const box = await locate(c).boundingBox();
    const at = now();
    await page.mouse.click(box.x + box.width / 2, box.y + box.height / 2);
    return { at };
  },
  async text(c) {
    const target = locate(c);
    await target.waitFor({ timeout: c.timeoutMs ?? 10000 });
    return { text: await target.textContent(), label: await target.getAttribute('aria-label') };
  },
  async waitFor(c) {
    const started = Date.now();
    await locate(c).waitFor({ state: c.state ?? 'visible', timeout: c.timeoutMs ?? 10000 });
    return { ms: Date.now() - started };
  },
  // Until the control's text starts with c.prefix.
  async waitText(c) {
    const target = locate(c);
    const started = Date.now();
    const deadline = started + (c.timeoutMs ?? 10000);
    for (;;) {
      const text = (await target.textContent({ timeout: Math.max(1, deadline - Date.now()) })) ?? '';
      if (text.startsWith(c.prefix)) return { ms: Date.now() - started, text };
      if (Date.now() > deadline) throw new Error(`the text is still "${text}"`);
      await new Promise((resolve) => { setTimeout(resolve, 10); });
    }
  },
  async eval(c) { return { value: await page.evaluate(c.js) }; },
  // Tells the driver the moment the element's accessible name becomes label.
  async watch(c) {
    const handle = await locate(c).elementHandle({ timeout: c.timeoutMs ?? 10000 });
    await handle.evaluate((node, label) => {
      const observer = new MutationObserver(() => {
        if (node.getAttribute('aria-label') === label) {
          observer.disconnect();
          window.quendraSeen(label);
        }
      });
      observer.observe(node, { attributes: true, attributeFilter: ['aria-label'] });
    }, c.label);
    return {};
  },
  async seen(c) {
    const deadline = Date.now() + (c.timeoutMs ?? 10000);
    while (!seen.has(c.label)) {
      if (Date.now() > deadline) throw new Error(`the page did not show "${c.label}"`);
      await new Promise((resolve) => { setTimeout(resolve, 1); });
    }
    const at = seen.get(c.label);
    seen.delete(c.label);
    return { at };
  },
  // A WebSocket of the page's own, opened from inside it: says hello (with
  // c.token), sends c.order, and answers with what came back.
  async apiProbe(c) {
    const value = await page.evaluate(({ url, token, order }) => new Promise((resolve) => {
      const got = [];
      let opened = false;
      const ws = new WebSocket(url);
      ws.onopen = () => {
        opened = true;
        ws.send(JSON.stringify({ topic: 'bridge/hello', payload: token ? { token } : {} }));
        if (order) ws.send(JSON.stringify(order));
      };
      ws.onmessage = (e) => {
        const m = JSON.parse(e.data);
        got.push(m.topic);
        if (m.topic.endsWith('/error')) {
          ws.close();
          resolve({ opened, got, reason: m.payload.reason });
        }
      };
      ws.onclose = (e) => resolve({ opened, got, code: e.code });
      setTimeout(() => resolve({ opened, got, code: 'none' }), 8000);
    }), { url: c.url, token: c.token, order: c.order });
    return { value };
  },
  async problems() { return problems; },
  async screenshot(c) { await page.screenshot({ path: c.path, fullPage: c.fullPage !== false }); return {}; },
  async close() {
    if (browser) await browser.close();
    browser = null;
    return {};
  },
};

const input = createInterface({ input: process.stdin });
let queue = Promise.resolve();
input.on('line', (line) => {
  queue = queue.then(async () => {
    let command = {};
    try {
      command = JSON.parse(line);
      const op = ops[command.op];
      if (!op) throw new Error(`no such op "${command.op}"`);
      const answer = await op(command);
      process.stdout.write(`${JSON.stringify({ id: command.id, ok: true, ...answer })}\n`);
    } catch (error) {
      process.stdout.write(`${JSON.stringify({ id: command.id, ok: false, error: String(error.message ?? error) })}\n`);
    }
  });
});
input.on('close', () => { queue.then(() => ops.close()).then(() => process.exit(0)); });
