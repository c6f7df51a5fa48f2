// A bind other than loopback: refused without a password; with one, nothing without a session.
'use strict';

const { test, after } = require('node:test');
const assert = require('node:assert/strict');
const { Varnel, launchBrowser, watchErrors } = require('../harness');

const started = [];
after(async () => {
  for (const v of started) await v.stop();
});

test('a bind to every address without a password does not start', async () => {
  const v = await new Varnel({ bind: '0.0.0.0', args: ['--no-demo'], env: { VARNEL_HTTP_PASSWORD: null } }).start();
  started.push(v);
  const end = await Promise.race([v.exitPromise, new Promise((r) => setTimeout(() => r(null), 15000))]);
  assert.ok(end, 'varnel kept running');
  assert.equal(end.code, 78);
  assert.match(v.output(), /password/);
});

// Each route's refusal without a session is in tests/web (WebAuth); here the page's login.
test('a non-loopback bind asks for the password', async (t) => {
  const v = await new Varnel({ bind: '0.0.0.0', args: ['--no-demo'], env: { VARNEL_HTTP_PASSWORD: 'correct horse' } }).start();
  started.push(v);
  await v.ready();

  await t.test('the page asks for the password, refuses a wrong one and shows the controller after the right one', async () => {
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
      // The session cookie is HttpOnly: the page's script cannot read it.
      assert.equal(await page.evaluate(() => document.cookie), '');
      const cookies = await page.context().cookies();
      const session = cookies.find((c) => c.name === 'varnel_session');
      assert.ok(session && session.httpOnly && session.sameSite === 'Strict', JSON.stringify(cookies));
      assert.deepEqual(page.errors, []);
    } finally {
      await browser.close();
    }
  });
});
