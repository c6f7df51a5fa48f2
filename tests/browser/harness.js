// Shared rig of the browser tests, the screenshots (scripts/web-screenshots.js), the app's
// ingress check and the latency benchmark: starts `varnel run --simulate --http` in a fresh
// host directory and Debian's chromium.
'use strict';

const { spawn } = require('node:child_process');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const { chromium } = require('playwright-core');

const chromiumPath = process.env.CHROMIUM || '/usr/bin/chromium';

function varnelPath() {
  const p = process.env.VARNEL;
  if (!p) throw new Error('set VARNEL to the varnel executable (run.sh does)');
  return p;
}

// A port nobody listens on now.
function freePort() {
  return new Promise((resolve, reject) => {
    const s = net.createServer();
    s.once('error', reject);
    s.listen(0, '127.0.0.1', () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// A running `varnel run`; `lines` collects its standard output and error as they come,
// each with the moment it arrived (the simulator's steps are told there at once).
class Varnel {
  // `hostDir`: a host directory prepared beforehand (kept); none: a fresh one, removed at the end.
  constructor({ bind = '127.0.0.1', args = [], env = {}, demoScript = null, hostDir = null } = {}) {
    this.bind = bind;
    this.args = args;
    this.env = env;
    this.demoScript = demoScript;
    this.givenHostDir = hostDir;
    this.lines = [];
    this.waiters = [];
    this.exited = null;
  }

  async start() {
    this.port = await freePort();
    this.keepHostDir = Boolean(this.givenHostDir);
    this.hostDir = this.givenHostDir || fs.mkdtempSync(path.join(os.tmpdir(), 'varnel-browser-'));
    const args = ['run', '--simulate', '--http', `${this.bind}:${this.port}`, '--host-dir', this.hostDir, ...this.args];
    if (this.demoScript !== null) {
      const file = path.join(this.hostDir, 'demo.txt');
      fs.writeFileSync(file, this.demoScript);
      args.push('--demo-script', file);
    }
    // A null value takes the variable out of the environment.
    const env = { ...process.env, ...this.env };
    for (const [k, val] of Object.entries(env)) if (val === null) delete env[k];
    this.proc = spawn(varnelPath(), args, {
      env,
      stdio: ['ignore', 'pipe', 'pipe'],
    });
    this.exitPromise = new Promise((resolve) => {
      this.proc.on('exit', (code, signal) => {
        this.exited = { code, signal };
        resolve(this.exited);
      });
    });
    for (const stream of [this.proc.stdout, this.proc.stderr]) {
      let partial = '';
      stream.setEncoding('utf8');
      stream.on('data', (chunk) => {
        const at = Date.now();
        const parts = (partial + chunk).split('\n');
        partial = parts.pop();
        for (const text of parts) this.take({ at, text });
      });
    }
    return this;
  }

  take(line) {
    this.lines.push(line);
    if (process.env.VARNEL_BROWSER_VERBOSE) process.stderr.write(`varnel: ${line.text}\n`);
    this.waiters = this.waiters.filter((w) => !w(line));
  }

  // The next output line (from now) that matches, with its arrival time.
  nextLine(re, timeoutMs = 10000) {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error(`no line matching ${re} within ${timeoutMs} ms`)), timeoutMs);
      this.waiters.push((line) => {
        if (!re.test(line.text)) return false;
        clearTimeout(timer);
        resolve(line);
        return true;
      });
    });
  }

  get url() {
    return `http://127.0.0.1:${this.port}/`;
  }

  // Waits until the page is served and the controller's modules are known.
  async ready(timeoutMs = 20000) {
    const end = Date.now() + timeoutMs;
    while (Date.now() < end) {
      if (this.exited) throw new Error(`varnel ended early (${JSON.stringify(this.exited)}):\n${this.output()}`);
      try {
        const r = await fetch(`${this.url}api/session`);
        if (r.ok) return this;
      } catch {
        // not listening yet
      }
      await sleep(100);
    }
    throw new Error(`varnel did not serve ${this.url} within ${timeoutMs} ms:\n${this.output()}`);
  }

  output() {
    return this.lines.slice(-40).map((l) => l.text).join('\n');
  }

  async stop() {
    if (this.proc && !this.exited) {
      this.proc.kill('SIGTERM');
      const timer = setTimeout(() => this.proc.kill('SIGKILL'), 10000);
      await this.exitPromise;
      clearTimeout(timer);
    }
    if (this.hostDir && !this.keepHostDir) fs.rmSync(this.hostDir, { recursive: true, force: true });
  }
}

// The varnel run's snapshot as the page gets it (loopback: no session needed).
async function state(v) {
  const r = await fetch(`${v.url}api/state`);
  if (!r.ok) throw new Error(`GET /api/state: ${r.status}`);
  return r.json();
}

async function launchBrowser() {
  // --no-sandbox: CI runs as root, where chromium's sandbox refuses to start.
  return chromium.launch({ executablePath: chromiumPath, args: ['--no-sandbox', '--disable-gpu', '--disable-dev-shm-usage'] });
}

// Collects in `page.errors` what a person would see as a fault: a script error, an
// error on the console, a request that failed or that varnel answered with 400 or more.
// `expected`: patterns of the URLs whose refusal a test causes on purpose.
function watchErrors(page, v, expected = []) {
  page.errors = [];
  const meant = (url) => expected.some((re) => re.test(url || ''));
  page.on('pageerror', (e) => page.errors.push(`script: ${e.message}`));
  page.on('console', (m) => {
    if (m.type() === 'error' && !meant(m.location().url)) page.errors.push(`console: ${m.text()} (${m.location().url})`);
  });
  page.on('requestfailed', (r) => {
    // A page that closes, or leaves, ends what it still had open; the test is over then.
    if (r.failure()?.errorText !== 'net::ERR_ABORTED') page.errors.push(`request failed: ${r.url()} (${r.failure()?.errorText})`);
  });
  page.on('response', (r) => {
    if (r.status() >= 400 && r.url().startsWith(v.url) && !meant(r.url())) page.errors.push(`${r.status()}: ${r.url()}`);
  });
  return page;
}

// A page on `v` at the given width, its faults watched from the first request on.
async function openPage(browser, v, { width = 1280, height = 900 } = {}) {
  const context = await browser.newContext({ viewport: { width, height } });
  const page = watchErrors(await context.newPage(), v);
  await page.goto(v.url);
  return page;
}

// Ends a test's page: it fails the test if the page showed a fault.
async function closePage(page) {
  const errors = page.errors;
  await page.context().close();
  if (errors.length) throw new Error(`the page showed faults:\n${errors.join('\n')}`);
}

module.exports = {
  Varnel, state, launchBrowser, openPage, watchErrors, closePage, sleep,
};
