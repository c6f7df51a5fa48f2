// See history_page.sh.
'use strict';

const path = require('node:path');
const { Varnel, launchBrowser, openPage } = require(path.join(__dirname, '../tests/browser/harness'));

async function main() {
  const varnel = await new Varnel({ hostDir: process.argv[2] }).start();
  let browser;
  try {
    await varnel.ready();
    browser = await launchBrowser();
    const page = await openPage(browser, varnel);
    await page.click('nav [data-tab="history"]');
    await page.locator('#history-chart canvas').first().waitFor({ timeout: 20000 });
    // The tab shows a first series by itself: only the four are measured.
    await page.locator('#history-chosen [data-series]').first().waitFor();
    while ((await page.locator('#history-chosen [data-series]').count()) > 0)
      await page.locator('#history-chosen [data-series]').first().click();
    for (const id of ['var:12', 'var:13', 'unit:2:point:5', 'unit:3:point:0']) {
      await page.fill('#history-find', id);
      await page.click('#form-history-add button[type="submit"]');
    }
    await page.locator('#history-chosen [data-series="unit:3:point:0"]').waitFor();
    const times = [];
    for (let i = 0; i < 10; i++) {
      await page.click('#history-range [data-range="1h"]');
      await page.waitForFunction(() => Number(document.querySelector('#history-chart').dataset.points) < 100);
      const t0 = Date.now();
      await page.click('#history-range [data-range="30d"]');
      await page.waitForFunction(() => Number(document.querySelector('#history-chart').dataset.points) > 2000);
      times.push(Date.now() - t0);
    }
    times.sort((a, b) => a - b);
    const points = await page.locator('#history-chart').getAttribute('data-points');
    console.log(`History tab, 4 series over 30 days (${points} buckets): median ${times[5]} ms, max ${times[9]} ms`);
  } finally {
    if (browser) await browser.close();
    await varnel.stop();
  }
}

main().catch((e) => {
  console.error(e);
  process.exit(1);
});
