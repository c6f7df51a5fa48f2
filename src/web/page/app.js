// varnel's web page: watches the controller through api/live, runs console lines
// through api/command and drives the configuration form through api/config. Each tab
// is a module named after it; this one logs in and starts them.
import { api, session } from './api.js';
import * as configuration from './configuration.js';
import * as control from './control.js';
import { $ } from './dom.js';
import * as events from './events.js';
import * as history from './history.js';
import * as live from './live.js';
import * as log from './log.js';
import * as overview from './overview.js';
import { connectionBadge, liveSocket } from './socket.js';
import { setUpTabs, showTab } from './tabs.js';

function showLogin() {
  liveSocket.close();
  connectionBadge('logged out');
  $('#app-view').hidden = true;
  $('#login-view').hidden = false;
  $('#logout').hidden = true;
  $('#login-password').focus();
}

function showApp(s) {
  $('#login-view').hidden = true;
  $('#app-view').hidden = false;
  $('#logout').hidden = s.auth !== 'password';
  // Behind Home Assistant's ingress: who Home Assistant has logged in.
  $('#user').textContent = s.user ? `Home Assistant: ${s.user}` : '';
  $('#user').hidden = !s.user;
  showTab(location.hash.slice(1) || 'overview', false);
  if (!liveSocket.socket) liveSocket.connect();
}

async function start() {
  session.loggedOut = showLogin;
  setUpTabs();
  // Views draw in this order when a whole snapshot comes.
  overview.setUp();
  live.setUp();
  events.setUp();
  history.setUp();
  control.setUp();
  configuration.setUp();
  log.setUp();
  $('#form-login').addEventListener('submit', async (e) => {
    e.preventDefault();
    const out = $('#form-login .outcome');
    out.textContent = '';
    try {
      const r = await fetch('api/login', {
        method: 'POST',
        headers: { 'Content-Type': 'application/json' },
        body: JSON.stringify({ password: $('#login-password').value }),
        credentials: 'same-origin',
      });
      const data = await r.json().catch(() => ({}));
      if (!r.ok) throw new Error(typeof data.error === 'string' ? data.error : `${r.status} ${r.statusText}`);
      session.csrf = data.csrf;
      $('#login-password').value = '';
      showApp({ auth: 'password' });
    } catch (err) {
      out.textContent = err.message;
    }
  });
  $('#logout').addEventListener('click', async () => {
    try {
      await api('POST', 'api/logout', {});
    } catch {
      // Logged out either way.
    }
    session.csrf = null;
    showLogin();
  });
  await checkSession();
}

async function checkSession() {
  let s;
  try {
    s = await api('GET', 'api/session');
  } catch (e) {
    connectionBadge(`no answer: ${e.message}`);
    setTimeout(checkSession, 3000);
    return;
  }
  session.csrf = s.csrf;
  if (s.version) $('#version').textContent = String(s.version);
  if (s.auth === 'password' && !s.loggedIn) showLogin();
  else showApp(s);
}

// A module runs once the page is parsed.
start();
