import { chromium } from 'playwright-core';
const port = process.argv[2];
const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', headless: true,
  args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking', '--disable-component-update', '--disable-sync'] });
const ctx = await browser.newContext({ httpCredentials: { username: 'op', password: '0123456789abcdef0123' } });
const page = await ctx.newPage();
page.on('console', (m) => console.log('console', m.type(), m.text()));
await page.goto(`http://${port}/`);
await page.waitForTimeout(1500);
console.log(await page.locator('#connection').textContent(), await page.locator('#login').isVisible());
await browser.close();
