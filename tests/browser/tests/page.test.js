// The web page in a real browser against `varnel run --simulate` on loopback.
'use strict';

const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { Varnel, state, launchBrowser, openPage, watchErrors, closePage, sleep } = require('../harness');

// Variable 5 is mirrored in a new demo host; the simulator sets it to a value the
// random demo never writes, twice a round, so each change can be timed.
const demoScript = ['repeat 3000', '500 var 5 41001', '2000 var 5 41002', ''].join('\n');

let varnel;
let browser;
// Set when the server has no configuration form to offer (503): the two tests that use it
// are then reported as skipped, with the reason, instead of run.
let configMissing = null;

before(async () => {
  varnel = await new Varnel({ demoScript }).start();
  await varnel.ready();
  browser = await launchBrowser();
  const r = await fetch(`${varnel.url}api/config`);
  if (r.status === 503) configMissing = `GET /api/config answers 503 (${(await r.json()).error}): this build serves no configuration form`;
});

after(async () => {
  if (browser) await browser.close();
  if (varnel) await varnel.stop();
});

async function untilState(predicate, what, timeoutMs = 10000) {
  const end = Date.now() + timeoutMs;
  let s;
  while (Date.now() < end) {
    s = await state(varnel);
    if (predicate(s)) return s;
    await sleep(200);
  }
  throw new Error(`${what}: not within ${timeoutMs} ms`);
}

test("the page shows the simulator's modules, served whole by varnel", async () => {
  const s = await untilState((x) => x.overview.modules.length >= 3, 'the simulator modules');
  const context = await browser.newContext({ viewport: { width: 1280, height: 900 } });
  const page = watchErrors(await context.newPage(), varnel);
  const foreign = [];
  let bytes = 0;
  page.on('request', (r) => {
    if (!r.url().startsWith(varnel.url) && !r.url().startsWith(varnel.url.replace('http', 'ws'))) foreign.push(r.url());
  });
  page.on('response', async (r) => {
    const body = await r.body().catch(() => Buffer.alloc(0));
    if (!r.url().includes('/api/')) bytes += body.length;
  });
  await page.goto(varnel.url);
  for (const m of s.overview.modules) {
    const row = page.locator(`#modules tr[data-unit="${m.unit}"]`);
    await row.waitFor({ timeout: 5000 });
    assert.match(await row.textContent(), new RegExp(m.type.replace(/[-]/g, '\\-')));
  }
  await page.click('nav [data-tab="live"]');
  for (const m of s.modules) {
    const lamps = page.locator(`#module-grids [data-unit="${m.unit}"] [data-point]`);
    assert.equal(await lamps.count(), m.points.length, `lamps of unit ${m.unit}`);
  }
  assert.equal(await page.locator('#variables [data-var]').count(), 128);
  assert.equal(await page.locator('#variables [data-var="5"].mirrored').count(), 1);
  assert.deepEqual(foreign, [], 'requests outside varnel');
  assert.ok(bytes > 0 && bytes < 300 * 1024, `the page's files take ${bytes} bytes`);
  await closePage(page);
});

// How fast is bench/web_report_latency.sh's to measure; here that it shows at all, each time.
test('a variable the simulator changes shows on the page', async () => {
  const page = await openPage(browser, varnel);
  await page.click('nav [data-tab="live"]');
  const cell = page.locator('#variables [data-var="5"]');
  await cell.waitFor();
  // Two steps in a row: one to each value.
  for (let i = 0; i < 2; i++) {
    const step = await varnel.nextLine(/Simulator: variable 5 = (4100[12])\b/, 8000);
    const value = step.text.match(/= (4100[12])\b/)[1];
    await page.waitForFunction(([v]) => document.querySelector('#variables [data-var="5"]').textContent === v, [value], {
      timeout: 3000,
    });
  }
  await closePage(page);
});

test('the History tab draws a variable and follows its live changes', async () => {
  const page = await openPage(browser, varnel);
  await page.click('nav [data-tab="history"]');
  await page.fill('#history-find', 'var:5');
  await page.click('#form-history-add button[type="submit"]');
  const chip = page.locator('#history-chosen [data-series="var:5"]');
  await page.locator('#history-chart canvas').first().waitFor({ timeout: 10000 });
  // The recorded values are drawn, then each change the simulator makes is appended as it comes.
  for (const value of ['41001', '41002', '41001']) {
    await page.waitForFunction(
      ([sel, v]) => document.querySelector(sel)?.dataset.last === v,
      ['#history-chosen [data-series="var:5"]', value], { timeout: 10000 });
  }
  assert.ok(Number(await page.locator('#history-chart').getAttribute('data-points')) >= 3);
  assert.match(await chip.textContent(), /Variable 5|var:5/);
  await closePage(page);
});

test('switching an output from the page reaches the simulator', async () => {
  const s = await untilState((x) => x.modules.some((m) => m.points.some((p) => p.kind === 'output' && p.code)), 'a mirrored output');
  const mod = s.modules.find((m) => m.points.some((p) => p.kind === 'output' && p.code));
  const point = mod.points.find((p) => p.kind === 'output' && p.code);
  const page = await openPage(browser, varnel);
  await page.click('nav [data-tab="control"]');
  const form = page.locator('#form-output');
  for (const want of [!point.on, !!point.on]) {
    await form.locator('[name=unit]').selectOption(String(mod.unit));
    await form.locator('[name=point]').selectOption(String(point.point));
    await form.locator('[name=state]').selectOption(want ? 'on' : 'off');
    await form.locator('button[type=submit]').click();
    await page.waitForFunction(() => !document.querySelector('#form-output .outcome').classList.contains('busy'));
    const outcome = form.locator('.outcome');
    assert.ok(await outcome.evaluate((e) => e.classList.contains('done')), `outcome: ${await outcome.textContent()}`);
    // The lamp follows the controller's own report of the write.
    const lamp = page.locator(`#module-grids [data-unit="${mod.unit}"] [data-point="${point.point}"]`);
    await page.waitForFunction(
      ([sel, on]) => document.querySelector(sel).classList.contains('on') === on,
      [`#module-grids [data-unit="${mod.unit}"] [data-point="${point.point}"]`, want],
      { timeout: 3000 },
    );
    assert.equal(await lamp.evaluate((e) => e.classList.contains('on')), want);
    const after = await state(varnel);
    assert.equal(after.modules.find((m) => m.unit === mod.unit).points.find((p) => p.point === point.point).on, want);
  }
  await closePage(page);
});

test('changing a mirror selection creates the host devices', async (t) => {
  if (configMissing) return t.skip(configMissing);
  const before = await state(varnel);
  const free = before.variables.find((v) => !v.mirrored && v.number > 8);
  assert.ok(free, 'a variable not mirrored yet');
  const page = await openPage(browser, varnel);
  await page.click('nav [data-tab="configuration"]');
  const box = page.locator(`#cfg-Check1_${free.number}`);
  await box.waitFor({ timeout: 10000 });
  await box.check();
  // The form may ask before it deletes anything: every question is answered yes.
  const dialogs = [];
  const answer = setInterval(async () => {
    if (await page.locator('#confirm[open]').count()) {
      dialogs.push(await page.locator('#confirm-text').textContent());
      await page.locator('#confirm button[value=yes]').click();
    }
  }, 100);
  try {
    await page.locator('#cfg-aCreateVariables').click();
    const s = await untilState((x) => x.variables[free.number].mirrored && x.variables[free.number].code, `variable ${free.number} mirrored`);
    assert.ok(s.variables[free.number].code, 'a host device code');
  } finally {
    clearInterval(answer);
  }
  await page.click('nav [data-tab="live"]');
  await page.locator(`#variables [data-var="${free.number}"].mirrored`).waitFor({ timeout: 5000 });
  await closePage(page);
});

test('a bad value shows its message', async (t) => {
  const page = await openPage(browser, varnel);
  await t.test('control form', async () => {
    await page.click('nav [data-tab="control"]');
    const form = page.locator('#form-var');
    await form.locator('[name=number]').fill('3');
    await form.locator('[name=value]').fill('70000');
    await form.locator('button[type=submit]').click();
    const out = form.locator('.outcome.error');
    await out.waitFor({ timeout: 5000 });
    assert.match(await out.textContent(), /65535/);
  });
  await t.test('configuration', async (tt) => {
    if (configMissing) return tt.skip(configMissing);
    await page.click('nav [data-tab="configuration"]');
    const poll = page.locator('#cfg-TxtPoll');
    await poll.waitFor({ timeout: 10000 });
    const before = await page.locator('#config-messages li').count();
    await poll.fill('0');
    await poll.press('Tab');
    await page.locator('#cfg-OKButton').click();
    await page.waitForFunction((n) => document.querySelectorAll('#config-messages li').length > n, before, { timeout: 5000 });
    assert.match(await page.locator('#config-messages li').first().textContent(), /[Pp]oll/);
  });
  await closePage(page);
});

test('the page fits a 360 px screen and works from the keyboard', async () => {
  const page = await openPage(browser, varnel, { width: 360, height: 740 });
  await page.locator('#modules tr[data-unit]').first().waitFor({ timeout: 10000 });
  for (const tab of ['overview', 'live', 'events', 'history', 'control', 'configuration', 'log']) {
    if (tab === 'configuration' && configMissing) continue;
    await page.click(`nav [data-tab="${tab}"]`);
    if (tab === 'configuration') await page.locator('#cfg-OKButton').waitFor({ timeout: 10000 });
    if (tab === 'history') await page.locator('#history-chart canvas').first().waitFor({ timeout: 10000 });
    const [scroll, inner] = await page.evaluate(() => [document.documentElement.scrollWidth, window.innerWidth]);
    assert.ok(scroll <= inner, `${tab} is ${scroll} px wide on a ${inner} px screen`);
  }
  // Tab reaches the tab list, the arrow keys choose a page, and a form runs on Enter.
  await page.click('nav [data-tab="overview"]');
  await page.locator('nav [data-tab="overview"]').focus();
  for (let i = 0; i < 4; i++) await page.keyboard.press('ArrowRight');
  assert.ok(await page.locator('#tab-control').isVisible());
  assert.equal(await page.evaluate(() => document.activeElement.dataset.tab), 'control');
  await page.keyboard.press('Tab');
  assert.equal(await page.evaluate(() => document.activeElement.id), 'var-number');
  await page.keyboard.type('40');
  await page.keyboard.press('Tab');
  await page.keyboard.type('321');
  await page.keyboard.press('Enter');
  await page.locator('#form-var .outcome.done').waitFor({ timeout: 5000 });
  await closePage(page);
});
