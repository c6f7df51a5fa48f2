// The app's page as Home Assistant's sidebar shows it, in Debian's chromium through the
// ingress stand-in: it loads under the ingress prefix with no fault, says who is logged
// in, follows a value over its WebSocket, runs a command and opens the configuration.
//   node tests/ha_app/ingress_page.js URL   (URL: http://HOST/api/hassio_ingress/SESSION/)
'use strict';
const path = require('node:path');
const { createRequire } = require('node:module');

const { chromium } = createRequire(path.join(__dirname, '../browser/package.json'))('playwright-core');

async function main(url) {
  const browser = await chromium.launch({
    executablePath: process.env.CHROMIUM || '/usr/bin/chromium',
    args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'],
  });
  const faults = [];
  const sockets = [];
  try {
    const page = await browser.newPage();
    page.on('pageerror', (e) => faults.push(`script: ${e.message}`));
    page.on('console', (m) => m.type() === 'error' && faults.push(`console: ${m.text()}`));
    page.on('requestfailed', (r) => faults.push(`request failed: ${r.url()} (${r.failure()?.errorText})`));
    page.on('response', (r) => r.status() >= 400 && faults.push(`${r.status()}: ${r.url()}`));
    page.on('websocket', (ws) => {
      const s = { url: ws.url(), frames: 0 };
      sockets.push(s);
      ws.on('framereceived', () => s.frames++);
    });
    const prefix = new URL(url).pathname;
    page.on('request', (r) => {
      if (!new URL(r.url()).pathname.startsWith(prefix)) faults.push(`outside the ingress prefix: ${r.url()}`);
    });

    await page.goto(url);
    await page.locator('#modules tr[data-unit]').first().waitFor({ timeout: 20000 });
    const user = (await page.locator('#user').textContent()) || '';
    if (!user.includes('Ada Lovelace')) throw new Error(`the page does not say who is logged in: "${user}"`);

    // A command from the page; its value comes back over the WebSocket.
    await page.click('nav [data-tab="live"]');
    const cell = page.locator('#variables [data-var="5"]');
    await cell.waitFor();
    const want = String(1000 + (Date.now() % 9000));
    await page.click('nav [data-tab="control"]');
    const form = page.locator('#form-var');
    await form.locator('[name=number]').fill('5');
    await form.locator('[name=value]').fill(want);
    await form.locator('button[type=submit]').click();
    await page.click('nav [data-tab="live"]');
    await page.waitForFunction(([v]) => document.querySelector('#variables [data-var="5"]').textContent === v, [want], {
      timeout: 10000,
    });
    const live = sockets.find((s) => s.url.includes(`${prefix}api/live`) && s.frames > 0);
    if (!live) throw new Error(`no WebSocket under ${prefix} carried frames: ${JSON.stringify(sockets)}`);

    await page.click('nav [data-tab="configuration"]');
    await page.locator('#cfg-OKButton').waitFor({ timeout: 10000 });
    if (faults.length) throw new Error(`the page showed faults:\n${faults.join('\n')}`);
    console.log(`ingress page: loaded, "${user}", variable 5 = ${want} over ${live.url} (${live.frames} frames), configuration open`);
  } finally {
    await browser.close();
  }
}

main(process.argv[2]).catch((e) => {
  console.error(`ingress page: ${e.message}`);
  process.exit(1);
});
