// A bind other than loopback: the page's login. Refusing to start without a password and
// each route's refusal without a session are in tests/web (WebAuth) and tests/integration.
'use strict';

const { test, after } = require('node:test');
const assert = require('node:assert/strict');
const { Varnel, launchBrowser, watchErrors } = require('../harness');

let v;
after(async () => {
  if (v) await v.stop();
});

test('the page asks for the password, refuses a wrong one and shows the controller after the right one', async () => {
  v = await new Varnel({ bind: '0.0.0.0', args: ['--no-demo'], env: { VARNEL_HTTP_PASSWORD: 'correct horse' } }).start();
  await v.ready();
  const browser = await launchBrowser();
  try {
    // The wrong password is refused on purpose; nothing else may fail.
    const page = watchErrors(await browser.newPage(), v, [/\/api\/login$/]);
    await page.goto(v.url);
    await page.locator('#form-login').waitFor({ state: 'visible' });
    assert.ok(await page.locator('#app-view').isHidden());
    await page.fill('#login-password', 'wrong');
    await page.press('#login-password', 'Enter');
    await page.locator('#form-login .outcome', { hasText: 'wrong password' }).waitFor({ timeout: 5000 });
    await page.fill('#login-password', 'correct horse');
    await page.press('#login-password', 'Enter');
    await page.locator('#modules tr[data-unit]').first().waitFor({ timeout: 15000 });
    assert.deepEqual(page.errors, []);
  } finally {
    await browser.close();
  }
});
