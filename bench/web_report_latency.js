// Controller report to the browser's DOM: the simulator toggles an input of module 1
// at random moments and the time from its step (told on varnel's output as it happens)
// to the lamp's change in the page (seen by a MutationObserver in chromium) is taken per
// report, and the share from varnel's host device change (its log line) to the DOM.
// Both clocks are the machine's wall clock. Prints the median and the 90th percentile.
//   bench/web_report_latency.sh [VARNEL] [REPORTS]
'use strict';

const path = require('node:path');
const { Varnel, launchBrowser, openPage, state, sleep } = require(path.join(__dirname, '../tests/browser/harness'));

const reports = Number(process.argv[2] || 120);
// Between two reports, at random: longer than a report can take (so none is taken for
// another), and never in step with the 500 ms variable poll, so the reports meet the line
// at every moment of its cycle.
const gapMs = [400, 800];
const unit = 1;
const point = 3;

function percentile(sorted, p) {
  const i = Math.min(sorted.length - 1, Math.max(0, Math.ceil((p / 100) * sorted.length) - 1));
  return sorted[i];
}

// The steps of the simulator's script, from a fixed seed: enough for the start-up too.
function demoScript(count) {
  let seed = 20261207;
  const random = () => (seed = (seed * 1103515245 + 12345) % 2147483648) / 2147483648;
  const lines = [];
  for (let i = 0, t = 0; i < count; i++) {
    t += gapMs[0] + Math.floor(random() * (gapMs[1] - gapMs[0]));
    lines.push(`${t} input ${unit} ${point} ${i % 2 === 0 ? 1 : 0}`);
  }
  return lines.join('\n') + '\n';
}

async function main() {
  const script = demoScript(reports + 100);
  const varnel = await new Varnel({ demoScript: script }).start();
  let browser;
  try {
    await varnel.ready();
    const end = Date.now() + 20000;
    let code = null;
    while (Date.now() < end && !code) {
      const m = (await state(varnel)).modules.find((x) => x.unit === unit);
      const p = m && m.points.find((x) => x.point === point);
      code = p && p.code;
      if (!code) await sleep(200);
    }
    if (!code) throw new Error(`point ${point} of unit ${unit} has no host device`);
    // The host's own line for the device's change: where the report has crossed the link.
    const eventRe = new RegExp(`Event: ${code} .* set (on|off)`);
    browser = await launchBrowser();
    const page = await openPage(browser, varnel);
    await page.click('nav [data-tab="live"]');
    const sel = `#module-grids [data-unit="${unit}"] [data-point="${point}"]`;
    await page.locator(sel).waitFor({ timeout: 10000 });
    await page.evaluate((s) => {
      window.lampChanges = [];
      const lamp = document.querySelector(s);
      let on = lamp.classList.contains('on');
      new MutationObserver(() => {
        const now = lamp.classList.contains('on');
        if (now !== on) window.lampChanges.push({ at: Date.now(), on: now });
        on = now;
      }).observe(lamp, { attributes: true, attributeFilter: ['class'] });
    }, sel);
    const steps = [];
    const stepRe = new RegExp(`Simulator: input ${unit}/${point} bit ([01])`);
    const from = varnel.lines.length;
    const deadline = Date.now() + (reports + 20) * gapMs[1] + 30000;
    while (steps.length < reports + 2) {
      if (Date.now() > deadline) throw new Error(`the simulator told ${steps.length} of ${reports} steps in time`);
      await sleep(500);
      const fresh = varnel.lines.slice(from).filter((l) => stepRe.test(l.text));
      steps.splice(0, steps.length, ...fresh);
    }
    await sleep(1000);
    const changes = await page.evaluate(() => window.lampChanges);
    // The first step may have raced the observer's start: it is left out.
    const delays = [];
    const pageShare = [];
    let c = 0;
    // Each step flips the input, so each flips the lamp once (which way is the plug-in's
    // reading of the bit): a step's change is the first flip after it.
    for (const step of steps.slice(1, reports + 1)) {
      while (c < changes.length && changes[c].at < step.at) c++;
      if (c >= changes.length) break;
      delays.push(changes[c].at - step.at);
      const host = varnel.lines.find((l) => l.at >= step.at && eventRe.test(l.text));
      if (host && host.at <= changes[c].at) pageShare.push(changes[c].at - host.at);
      c++;
    }
    if (delays.length < reports * 0.9) throw new Error(`only ${delays.length} of ${reports} reports reached the page`);
    const line = (what, list) => {
      const sorted = list.slice().sort((a, b) => a - b);
      console.log(`${what}, ${list.length} reports:`);
      console.log(`  median ${percentile(sorted, 50)} ms, p90 ${percentile(sorted, 90)} ms, min ${sorted[0]} ms, max ${sorted[sorted.length - 1]} ms`);
    };
    line("input change in the simulator to the browser's DOM over loopback (with the wait for a line busy with poll replies)", delays);
    line('report read by varnel (its host device change) to the DOM: the server and the page', pageShare);
  } finally {
    if (browser) await browser.close();
    await varnel.stop();
  }
}

main().catch((e) => {
  console.error(e.message);
  process.exit(1);
});
