// The pictures of quendra-bridge's page for the README, light and dark, at a
// desktop's and a phone's width: three emulated modules on a pseudo-terminal,
// the bridge with --web alone, a few orders given through the page itself.
//   node screenshots.mjs BRIDGE EMULATOR OUTPUT-FOLDER
import { chromium } from 'playwright-core';
import { spawn } from 'node:child_process';
import { existsSync, mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

const [bridgePath, emulatorPath, output] = process.argv.slice(2);
if (!output) {
  console.error('usage: node screenshots.mjs BRIDGE EMULATOR OUTPUT-FOLDER');
  process.exit(2);
}

const Flags = ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync'];

async function until(what, test, ms = 15000) {
  const deadline = Date.now() + ms;
  for (;;) {
    const value = test();
    if (value) return value;
    if (Date.now() > deadline) throw new Error(`no ${what} within ${ms} ms`);
    await new Promise((resolve) => { setTimeout(resolve, 20); });
  }
}

const folder = mkdtempSync(join(tmpdir(), 'quendra-web-shots-'));
const link = join(folder, 'module.tty');
const children = [];
let browser = null;
try {
  const emulator = spawn(emulatorPath, ['--pty', '--link', link, '--uid', '1,2,5', '--headless'], { stdio: 'ignore' });
  children.push(emulator);
  await until('emulated line', () => existsSync(link));
  const bridge = spawn(bridgePath, ['--web', '127.0.0.1:0', '--allow-config', '--line', `desk=${link}@9600,n,8,1`,
    '--modules', 'desk:1,2,5'], { stdio: ['ignore', 'ignore', 'pipe'] });
  children.push(bridge);
  let said = '';
  bridge.stderr.on('data', (chunk) => { said += chunk; });
  const url = (await until('page', () => /the page is at (\S+)/.exec(said)))[1];

  browser = await chromium.launch({ executablePath: process.env.QUENDRA_CHROMIUM || '/usr/bin/chromium', args: Flags });
  const shots = [
    ['web-light.png', 'light', 1280, 900, true],
    ['web-dark.png', 'dark', 1280, 900, true],
    ['web-phone-light.png', 'light', 360, 780, false],
    ['web-phone-dark.png', 'dark', 360, 780, false],
  ];
  for (const [name, colorScheme, width, height, fullPage] of shots) {
    const context = await browser.newContext({ viewport: { width, height }, colorScheme });
    const page = await context.newPage();
    await page.goto(url);
    await page.getByRole('status', { name: 'Connection' }).filter({ hasText: 'Connected' }).waitFor();
    const card = (uid) => page.getByRole('region', { name: 'Line desk' }).getByRole('region', { name: `Module ${uid}`, exact: true });
    const order = async (uid, field, value, button) => {
      await card(uid).getByRole('textbox', { name: field, exact: true }).fill(value);
      await card(uid).getByRole('button', { name: button, exact: true }).click();
    };
    // The same orders for every picture: each page has its own log.
    await order(1, 'Text', 'HELLO', 'Send text');
    await order(2, 'Long number', '1234', 'Send long');
    await card(2).getByRole('checkbox', { name: 'Point 5' }).check();
    await card(2).getByRole('button', { name: 'Send points' }).click();
    await order(5, 'Text', '-42-', 'Send text');
    await card(5).getByRole('img', { name: /^Display: -42-/ }).waitFor();
    // Module 5 dim in every picture: the toggle only when it is not.
    if (!(await card(5).getByRole('img').getAttribute('aria-label')).endsWith('dim')) {
      await card(5).getByRole('button', { name: 'Toggle brightness' }).click();
    }
    await card(5).getByRole('img', { name: 'Display: -42-, dim' }).waitFor();
    await order(5, 'Segments (six hex bytes)', 'ZZ', 'Send segments');
    await page.getByRole('log').getByText('refused').waitFor();
    await page.evaluate(() => window.scrollTo(0, 0));
    await page.screenshot({ path: join(output, name), fullPage });
    await context.close();
    console.log('wrote', join(output, name));
  }
} finally {
  if (browser) await browser.close();
  for (const child of children.reverse()) child.kill('SIGTERM');
  rmSync(folder, { recursive: true, force: true });
}
