// The app's page as Home Assistant's sidebar shows it, in Debian's chromium through the
// ingress stand-in: it loads under the ingress prefix with no fault, says who is logged
// in, follows a value over its WebSocket, runs a command and opens the configuration.
//   node tests/ha_app/ingress_page.js URL   (URL: http://HOST/api/hassio_ingress/SESSION/)
'use strict';
const { launchBrowser, watchErrors, closePage } = require('../browser/harness');

async function main(url) {
  const browser = await launchBrowser();
  try {
    const page = watchErrors(await (await browser.newContext()).newPage(), { url });
    const sockets = [];
    page.on('websocket', (ws) => {
      const s = { url: ws.url(), frames: 0 };
      sockets.push(s);
      ws.on('framereceived', () => s.frames++);
    });
    page.on('request', (r) => r.url().startsWith(url) || page.errors.push(`outside the ingress prefix: ${r.url()}`));
    await page.goto(url);
    await page.locator('#modules tr[data-unit]').first().waitFor({ timeout: 20000 });
    const user = await page.locator('#user').textContent();
    if (!user.includes('Ada Lovelace')) throw new Error(`the page does not say who is logged in: "${user}"`);
    // A command from the page; its value comes back over the WebSocket.
    const want = String(1000 + (Date.now() % 9000));
    await page.click('nav [data-tab="control"]');
    const form = page.locator('#form-var');
    await form.locator('[name=number]').fill('5');
    await form.locator('[name=value]').fill(want);
    await form.locator('button[type=submit]').click();
    await page.click('nav [data-tab="live"]');
    await page.waitForFunction((v) => document.querySelector('#variables [data-var="5"]').textContent === v, want);
    const live = sockets.find((s) => s.url.startsWith(`${url.replace(/^http/, 'ws')}api/live`) && s.frames > 0);
    if (!live) throw new Error(`no WebSocket under the prefix carried frames: ${JSON.stringify(sockets)}`);
    await page.click('nav [data-tab="configuration"]');
    await page.locator('#cfg-OKButton').waitFor({ timeout: 10000 });
    await closePage(page);
    console.log(`ingress page: loaded, "${user}", variable 5 = ${want} over ${live.url} (${live.frames} frames), configuration open`);
  } finally {
    await browser.close();
  }
}

main(process.argv[2]).catch((e) => {
  console.error(`ingress page: ${e.message}`);
  process.exit(1);
});
