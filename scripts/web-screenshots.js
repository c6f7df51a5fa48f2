// PNGs of the web page at desktop and phone width, over a simulated run with live values.
//   node scripts/web-screenshots.js OUTDIR     (VARNEL names the executable; scripts/web-screenshots.sh runs it)
'use strict';

const fs = require('node:fs');
const path = require('node:path');
const { Varnel, launchBrowser, openPage, state, sleep } = require('../tests/browser/harness');

const shots = [
  { width: 1280, height: 900, tab: 'overview', file: 'overview-desktop.png' },
  { width: 1280, height: 900, tab: 'live', file: 'live-desktop.png' },
  { width: 1280, height: 900, tab: 'control', file: 'control-desktop.png' },
  { width: 1280, height: 900, tab: 'configuration', file: 'configuration-desktop.png', viewportOnly: true },
  { width: 390, height: 844, tab: 'live', file: 'live-phone.png', viewportOnly: true },
  { width: 390, height: 844, tab: 'control', file: 'control-phone.png', viewportOnly: true },
];

async function main() {
  const out = process.argv[2];
  if (!out) throw new Error('usage: web-screenshots.js OUTDIR');
  fs.mkdirSync(out, { recursive: true });
  const varnel = await new Varnel().start();
  let browser;
  try {
    await varnel.ready();
    // Modules found and some of the demo's activity seen, so the lamps and values show.
    const end = Date.now() + 20000;
    while (Date.now() < end && (await state(varnel)).overview.modules.length < 3) await sleep(200);
    await sleep(4000);
    browser = await launchBrowser();
    const configServed = (await fetch(`${varnel.url}api/config`)).status !== 503;
    for (const s of shots) {
      if (s.tab === 'configuration' && !configServed) {
        console.log(`${s.file}: left out, this build serves no configuration form`);
        continue;
      }
      const page = await openPage(browser, varnel, { width: s.width, height: s.height });
      await page.click(`nav [data-tab="${s.tab}"]`);
      if (s.tab === 'configuration') await page.locator('#cfg-OKButton').waitFor({ timeout: 10000 });
      else await page.locator('#modules tr[data-unit]').first().waitFor({ state: 'attached', timeout: 10000 });
      // Let the change highlights fade.
      await sleep(1200);
      await page.screenshot({ path: path.join(out, s.file), fullPage: !s.viewportOnly });
      if (page.errors.length) throw new Error(`page errors on ${s.tab}: ${page.errors.join('; ')}`);
      await page.context().close();
      console.log(path.join(out, s.file));
    }
  } finally {
    if (browser) await browser.close();
    await varnel.stop();
  }
}

main().catch((e) => {
  console.error(e.message);
  process.exit(1);
});
