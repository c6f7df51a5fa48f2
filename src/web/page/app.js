// varnel's web page: watches the controller through /api/live, runs console lines
// through /api/command and drives the configuration form through /api/config.
// Every text from the server goes into the page as text, never as markup.
'use strict';

(() => {
  const $ = (sel, root = document) => root.querySelector(sel);
  const $$ = (sel, root = document) => Array.from(root.querySelectorAll(sel));

  // A new element; string children become text nodes.
  function el(tag, props, ...children) {
    const e = document.createElement(tag);
    if (props) {
      for (const [k, v] of Object.entries(props)) {
        if (v === undefined || v === null || v === false) continue;
        if (k === 'class') e.className = v;
        else if (k === 'text') e.textContent = v;
        else if (k.startsWith('data-') || k.startsWith('aria-') || k === 'for' || k === 'role') e.setAttribute(k, v);
        else e[k] = v;
      }
    }
    for (const c of children) {
      if (c === null || c === undefined) continue;
      e.append(typeof c === 'string' ? document.createTextNode(c) : c);
    }
    return e;
  }

  const kMaxEvents = 300;
  const kMaxLogLines = 500;
  const levelRank = { info: 0, warning: 1, error: 2 };

  let csrf = null;
  let snapshot = null;

  // ---- requests ----

  class HttpError extends Error {
    constructor(status, message) {
      super(message);
      this.status = status;
    }
  }

  async function api(method, path, body) {
    const headers = {};
    if (body !== undefined) headers['Content-Type'] = 'application/json';
    if (method !== 'GET' && csrf) headers['X-CSRF-Token'] = csrf;
    const res = await fetch(path, {
      method,
      headers,
      body: body === undefined ? undefined : JSON.stringify(body),
      credentials: 'same-origin',
      cache: 'no-store',
    });
    if (res.status === 204) return null;
    let data = null;
    try {
      data = await res.json();
    } catch {
      data = null;
    }
    if (!res.ok) {
      const message = data && typeof data.error === 'string' ? data.error : `${res.status} ${res.statusText}`;
      if (res.status === 401) showLogin();
      throw new HttpError(res.status, message);
    }
    return data;
  }

  // ---- formatting ----

  function timeText(iso) {
    if (!iso) return '';
    const d = new Date(iso);
    return Number.isNaN(d.getTime()) ? String(iso) : d.toLocaleString();
  }

  function shortTime(iso) {
    const d = new Date(iso);
    return Number.isNaN(d.getTime()) ? String(iso || '') : d.toLocaleTimeString();
  }

  function agoText(ms) {
    if (ms < 1000) return `${Math.round(ms)} ms ago`;
    if (ms < 120000) return `${(ms / 1000).toFixed(1)} s ago`;
    return `${Math.round(ms / 60000)} min ago`;
  }

  function linkText(o) {
    // The server's own words, as the console says them, when it sends them.
    if (typeof o.linkText === 'string' && o.linkText) return o.linkText;
    switch (o.link) {
      case 'up':
        return 'up';
      case 'reconnecting':
        return o.linkSince ? `reconnecting since ${timeText(o.linkSince)}` : 'reconnecting';
      case 'disconnected':
        if (o.disconnectedBy === 'cmax') return 'disconnected for CMAX';
        if (o.disconnectedBy === 'user') return 'disconnected by the user';
        return 'disconnected';
      case 'starting':
        return 'starting';
      default:
        return String(o.link ?? 'unknown');
    }
  }

  // ---- tabs ----

  const tabNames = ['overview', 'live', 'events', 'control', 'configuration', 'log'];
  let currentTab = null;

  function showTab(name, focus) {
    if (!tabNames.includes(name)) name = 'overview';
    currentTab = name;
    for (const b of $$('nav [data-tab]')) {
      const on = b.dataset.tab === name;
      b.setAttribute('aria-selected', on ? 'true' : 'false');
      b.tabIndex = on ? 0 : -1;
      if (on && focus) b.focus();
    }
    for (const p of $$('[data-panel]')) p.hidden = p.dataset.panel !== name;
    if (location.hash !== `#${name}`) history.replaceState(null, '', `#${name}`);
    if (name === 'configuration') config.ensureLoaded();
    if (name === 'log') logView.ensureLoaded();
  }

  function setUpTabs() {
    const nav = $('nav');
    nav.addEventListener('click', (e) => {
      const b = e.target.closest('[data-tab]');
      if (b) showTab(b.dataset.tab, false);
    });
    // Arrow keys move between tabs, as in any tab list.
    nav.addEventListener('keydown', (e) => {
      const i = tabNames.indexOf(currentTab);
      let next = null;
      if (e.key === 'ArrowRight') next = tabNames[(i + 1) % tabNames.length];
      if (e.key === 'ArrowLeft') next = tabNames[(i + tabNames.length - 1) % tabNames.length];
      if (e.key === 'Home') next = tabNames[0];
      if (e.key === 'End') next = tabNames[tabNames.length - 1];
      if (next) {
        e.preventDefault();
        showTab(next, true);
      }
    });
    window.addEventListener('hashchange', () => showTab(location.hash.slice(1), false));
  }

  // ---- live view: the model, and DOM updates batched per animation frame ----

  const pending = {
    full: false,
    overview: false,
    vars: new Set(),
    points: new Set(),
    x10: new Set(),
    events: [],
    logs: [],
  };
  let frameAsked = false;

  function schedule() {
    if (frameAsked) return;
    frameAsked = true;
    requestAnimationFrame(flush);
  }

  const varCells = new Map(); // number -> element
  const pointLamps = new Map(); // "unit/point" -> element
  const x10Rows = new Map(); // code -> row
  let overviewAt = 0; // when the overview's lastReplyAgoMs was true

  function applyMessage(m) {
    if (!m || typeof m !== 'object') return;
    switch (m.type) {
      case 'state':
        if (m.state && typeof m.state === 'object') {
          snapshot = m.state;
          overviewAt = performance.now();
          pending.full = true;
          pending.vars.clear();
          pending.points.clear();
          pending.x10.clear();
          pending.events = [];
        }
        break;
      case 'variable': {
        const v = snapshot && snapshot.variables && snapshot.variables[m.number];
        if (v) {
          v.value = m.value;
          pending.vars.add(m.number);
        }
        break;
      }
      case 'point': {
        const p = findPoint(m.unit, m.point);
        if (p) {
          p.on = m.on;
          if ('value' in m) p.value = m.value;
          pending.points.add(`${m.unit}/${m.point}`);
        }
        break;
      }
      case 'x10': {
        if (!snapshot) break;
        snapshot.x10 = snapshot.x10 || [];
        let d = snapshot.x10.find((x) => x.code === m.code);
        if (!d) {
          d = { code: String(m.code), name: '', state: null };
          snapshot.x10.push(d);
        }
        d.state = m.state;
        pending.x10.add(d.code);
        break;
      }
      case 'overview':
        if (snapshot && m.overview) {
          snapshot.overview = m.overview;
          overviewAt = performance.now();
          pending.overview = true;
        }
        break;
      case 'event':
        if (m.event) {
          pending.events.push(m.event);
          if (pending.events.length > kMaxEvents) pending.events.splice(0, pending.events.length - kMaxEvents);
        }
        break;
      case 'log':
        if (m.line) {
          pending.logs.push(m.line);
          if (pending.logs.length > kMaxLogLines) pending.logs.splice(0, pending.logs.length - kMaxLogLines);
        }
        break;
      default:
        return;
    }
    schedule();
  }

  function findPoint(unit, point) {
    if (!snapshot || !Array.isArray(snapshot.modules)) return null;
    const m = snapshot.modules.find((x) => x.unit === unit);
    return m && Array.isArray(m.points) ? m.points.find((p) => p.point === point) || null : null;
  }

  function flush() {
    frameAsked = false;
    if (!snapshot) return;
    if (pending.full) {
      pending.full = false;
      renderAll();
    } else {
      if (pending.overview) renderOverview();
      for (const n of pending.vars) updateVar(n);
      for (const k of pending.points) {
        const [u, p] = k.split('/').map(Number);
        updatePoint(u, p);
      }
      for (const c of pending.x10) updateX10(c);
    }
    pending.overview = false;
    pending.vars.clear();
    pending.points.clear();
    pending.x10.clear();
    if (pending.events.length) {
      events.add(pending.events);
      pending.events = [];
    }
    if (pending.logs.length) {
      logView.add(pending.logs);
      pending.logs = [];
    }
  }

  function renderAll() {
    renderOverview();
    renderVariables();
    renderModuleGrids();
    renderX10();
    events.reset(Array.isArray(snapshot.events) ? snapshot.events : []);
    control.refresh();
  }

  function setText(id, text) {
    const e = document.getElementById(id);
    if (e && e.textContent !== text) e.textContent = text;
  }

  function renderOverview() {
    const o = snapshot.overview || {};
    setText('link-state', linkText(o));
    $('#link-state').dataset.link = String(o.link || '');
    setText('startup', o.startup ? `${o.startup.result} (${timeText(o.startup.at)})` : 'none yet');
    tickLastReply();
    setText('timeouts', String(o.timeouts ?? 0));
    setText('checksum-errors', String(o.checksumErrors ?? 0));
    setText('reports', String(o.reportsHandled ?? 0));
    setText('queued', String(o.queued ?? 0));
    setText('mqtt', String(o.mqtt ?? 'off'));
    setText('version', String(o.version ?? ''));
    setText('http-address', String(o.http ?? ''));
    const body = $('#modules');
    const rows = (Array.isArray(o.modules) ? o.modules : []).map((m) =>
      el('tr', { 'data-unit': String(m.unit) },
        el('td', { text: String(m.unit) }),
        el('td', { text: String(m.type ?? '') }),
        el('td', { text: String(m.name ?? '') })));
    if (!rows.length) rows.push(el('tr', null, el('td', { colSpan: 3, text: 'none found yet' })));
    body.replaceChildren(...rows);
  }

  // The time since the last good reply keeps counting between overview messages.
  function tickLastReply() {
    if (!snapshot || !snapshot.overview) return;
    const ago = snapshot.overview.lastReplyAgoMs;
    setText('last-reply', typeof ago === 'number' ? agoText(ago + performance.now() - overviewAt) : 'none yet');
  }

  function varTitle(v) {
    const parts = [`variable ${v.number}`];
    if (v.name) parts.push(String(v.name));
    if (v.code) parts.push(`device ${v.code}`);
    return parts.join(' · ');
  }

  function renderVariables() {
    const list = $('#variables');
    varCells.clear();
    const items = [];
    for (const v of Array.isArray(snapshot.variables) ? snapshot.variables : []) {
      const cell = el('span', { class: 'value', 'data-var': String(v.number) });
      varCells.set(v.number, cell);
      items.push(el('li', { title: varTitle(v) }, el('span', { class: 'num', text: String(v.number) }), cell));
    }
    list.replaceChildren(...items);
    for (const n of varCells.keys()) updateVar(n, true);
  }

  function updateVar(n, initial) {
    const cell = varCells.get(n);
    const v = snapshot.variables[n];
    if (!cell || !v) return;
    const text = v.value === null || v.value === undefined ? '–' : String(v.value);
    if (cell.textContent !== text) {
      cell.textContent = text;
      if (!initial) flash(cell);
    }
    cell.classList.toggle('mirrored', !!v.mirrored);
  }

  function flash(e) {
    e.classList.remove('changed');
    // Restarts the highlight on the next frame without forcing a layout now.
    requestAnimationFrame(() => e.classList.add('changed'));
  }

  function pointTitle(m, p) {
    const parts = [`unit ${m.unit} ${p.kind} ${p.point}`];
    if (p.name) parts.push(String(p.name));
    if (p.code) parts.push(`device ${p.code}`);
    if (p.mirrored) parts.push(p.inverted ? 'mirrored, inverted' : 'mirrored');
    return parts.join(' · ');
  }

  function renderModuleGrids() {
    const box = $('#module-grids');
    pointLamps.clear();
    const grids = [];
    for (const m of Array.isArray(snapshot.modules) ? snapshot.modules : []) {
      const lamps = [];
      for (const p of Array.isArray(m.points) ? m.points : []) {
        const lamp = el('li', { class: `lamp ${p.kind}`, 'data-point': String(p.point), title: pointTitle(m, p) },
          el('span', { class: 'pnum', text: String(p.point) }),
          el('span', { class: 'pval' }));
        lamp.classList.toggle('mirrored', !!p.mirrored);
        pointLamps.set(`${m.unit}/${p.point}`, lamp);
        lamps.push(lamp);
      }
      grids.push(el('div', { class: 'module', 'data-unit': String(m.unit) },
        el('h4', { text: `Unit ${m.unit} · ${m.type ?? ''}` }),
        el('ol', { class: 'lamps' }, ...lamps)));
      for (const p of Array.isArray(m.points) ? m.points : []) updatePoint(m.unit, p.point);
    }
    if (!grids.length) grids.push(el('p', { text: 'No modules found yet.' }));
    box.replaceChildren(...grids);
  }

  function updatePoint(unit, point) {
    const lamp = pointLamps.get(`${unit}/${point}`);
    const p = findPoint(unit, point);
    if (!lamp || !p) return;
    lamp.classList.toggle('on', p.on === true);
    lamp.classList.toggle('unknown', p.on === null || p.on === undefined);
    const val = lamp.lastChild;
    const text = p.kind === 'analog' && p.value !== null && p.value !== undefined ? String(p.value) : '';
    if (val.textContent !== text) val.textContent = text;
    lamp.setAttribute('aria-label', `${pointTitle({ unit }, p)}: ${p.kind === 'analog' ? text || 'no value' : p.on ? 'on' : 'off'}`);
  }

  function renderX10() {
    const body = $('#x10');
    x10Rows.clear();
    const rows = [];
    for (const d of Array.isArray(snapshot.x10) ? snapshot.x10 : []) rows.push(x10Row(d));
    if (!rows.length) rows.push(el('tr', { class: 'none' }, el('td', { colSpan: 3, text: 'none heard or sent yet' })));
    body.replaceChildren(...rows);
    const codes = $('#x10-codes');
    codes.replaceChildren(...(snapshot.x10 || []).map((d) => el('option', { value: String(d.code), label: String(d.name ?? '') })));
  }

  function x10Row(d) {
    const row = el('tr', { 'data-code': String(d.code) },
      el('td', { text: String(d.code) }),
      el('td', { text: String(d.name ?? '') }),
      el('td', { class: 'state', text: d.state === null || d.state === undefined ? '–' : String(d.state) }));
    x10Rows.set(String(d.code), row);
    return row;
  }

  function updateX10(code) {
    const d = (snapshot.x10 || []).find((x) => x.code === code);
    if (!d) return;
    let row = x10Rows.get(code);
    if (!row) {
      row = x10Row(d);
      for (const none of $$('#x10 tr.none')) none.remove();
      $('#x10').append(row);
    }
    row.querySelector('.state').textContent = d.state === null || d.state === undefined ? '–' : String(d.state);
  }

  // ---- events ----

  const events = {
    list: [],
    paused: false,
    reset(all) {
      this.list = all.slice(-kMaxEvents);
      this.render();
    },
    add(items) {
      this.list.push(...items);
      if (this.list.length > kMaxEvents) this.list.splice(0, this.list.length - kMaxEvents);
      if (this.paused) return;
      const box = $('#events');
      const nodes = items.slice(-kMaxEvents).map((e) => this.node(e));
      box.prepend(...nodes.reverse());
      while (box.childElementCount > kMaxEvents) box.lastElementChild.remove();
    },
    node(e) {
      const kind = String(e.kind ?? '');
      const li = el('li', { class: `ev ${kind}`, 'data-kind': kind },
        el('time', { text: shortTime(e.time), dateTime: String(e.time ?? '') }),
        el('span', { class: 'kind', text: kind }),
        el('span', { class: 'text', text: String(e.text ?? '') }));
      li.hidden = !this.matches(li);
      return li;
    },
    matches(li) {
      const kind = $('#event-kind').value;
      if (kind && li.dataset.kind !== kind) return false;
      const f = $('#event-filter').value.trim().toLowerCase();
      return !f || li.textContent.toLowerCase().includes(f);
    },
    render() {
      const box = $('#events');
      box.replaceChildren(...this.list.slice().reverse().map((e) => this.node(e)));
    },
    refilter() {
      for (const li of $$('#events > li')) li.hidden = !this.matches(li);
    },
    setUp() {
      $('#event-filter').addEventListener('input', () => this.refilter());
      $('#event-kind').addEventListener('change', () => this.refilter());
      $('#events-pause').addEventListener('click', (e) => {
        this.paused = !this.paused;
        e.currentTarget.setAttribute('aria-pressed', String(this.paused));
        e.currentTarget.textContent = this.paused ? 'Resume' : 'Pause';
        if (!this.paused) this.render();
      });
    },
  };

  // ---- log ----

  const logView = {
    loaded: false,
    loading: false,
    sources: new Set(),
    async ensureLoaded() {
      if (this.loaded || this.loading) return;
      this.loading = true;
      try {
        const data = await api('GET', `/api/log?lines=${kMaxLogLines}`);
        const box = $('#log');
        const live = Array.from(box.children);
        box.replaceChildren(...(data && Array.isArray(data.lines) ? data.lines : []).slice().reverse().map((l) => this.node(l)));
        // Lines that came live while the tail was on its way stay on top.
        box.prepend(...live);
        this.loaded = true;
      } catch (e) {
        $('#log').replaceChildren(el('li', { class: 'error', text: `The log could not be read: ${e.message}` }));
      } finally {
        this.loading = false;
      }
    },
    node(l) {
      const level = levelRank[l.level] === undefined ? 'info' : l.level;
      const source = String(l.source ?? '');
      if (source && !this.sources.has(source)) {
        this.sources.add(source);
        const sel = $('#log-source');
        sel.append(el('option', { value: source, text: source }));
      }
      const li = el('li', { class: `log ${level}`, 'data-level': level, 'data-source': source },
        el('time', { text: shortTime(l.time), dateTime: String(l.time ?? '') }),
        el('span', { class: 'source', text: source }),
        el('span', { class: 'text', text: String(l.text ?? '') }));
      li.hidden = !this.matches(li);
      return li;
    },
    matches(li) {
      const min = levelRank[$('#log-level').value] || 0;
      if ((levelRank[li.dataset.level] || 0) < min) return false;
      const src = $('#log-source').value;
      return !src || li.dataset.source === src;
    },
    add(lines) {
      if (!this.loaded && !this.loading) return;
      const box = $('#log');
      box.prepend(...lines.map((l) => this.node(l)).reverse());
      while (box.childElementCount > kMaxLogLines) box.lastElementChild.remove();
    },
    setUp() {
      const refilter = () => {
        for (const li of $$('#log > li')) li.hidden = !this.matches(li);
      };
      $('#log-level').addEventListener('change', refilter);
      $('#log-source').addEventListener('change', refilter);
    },
  };

  // ---- control ----

  async function runLine(line, outcomeEl) {
    outcomeEl.className = 'outcome busy';
    outcomeEl.textContent = `running: ${line}`;
    try {
      const r = await api('POST', '/api/command', { line });
      const lines = r && Array.isArray(r.lines) ? r.lines.map(String) : [];
      const outcome = r && typeof r.outcome === 'string' ? r.outcome : 'done';
      outcomeEl.className = `outcome ${outcome}`;
      outcomeEl.textContent = lines.length ? lines.join('\n') : outcome === 'done' ? 'done' : outcome;
      return r;
    } catch (e) {
      outcomeEl.className = 'outcome error';
      outcomeEl.textContent = e.message;
      return null;
    }
  }

  // A fresh snapshot, for what changes without a live message (devices made or deleted).
  async function refreshState() {
    try {
      applyMessage({ type: 'state', state: await api('GET', '/api/state') });
    } catch {
      // The live socket brings a snapshot when it reconnects.
    }
  }

  const control = {
    // The module and point lists of the output form follow the snapshot.
    refresh() {
      const unitSel = $('#output-unit');
      const keep = unitSel.value;
      const mods = (snapshot.modules || []).filter((m) => (m.points || []).some((p) => p.kind === 'output'));
      unitSel.replaceChildren(...mods.map((m) => el('option', { value: String(m.unit), text: `${m.unit} ${m.type ?? ''}` })));
      if (mods.some((m) => String(m.unit) === keep)) unitSel.value = keep;
      this.refreshPoints();
      $('#ir-names').replaceChildren(...(snapshot.irLabels || []).map((l) =>
        el('option', { value: String(l.name ?? l.index), label: String(l.index) })));
    },
    refreshPoints() {
      const sel = $('#output-point');
      const keep = sel.value;
      const m = (snapshot && snapshot.modules || []).find((x) => String(x.unit) === $('#output-unit').value);
      const outs = m ? (m.points || []).filter((p) => p.kind === 'output') : [];
      sel.replaceChildren(...outs.map((p) => el('option', {
        value: String(p.point),
        text: `${p.point}${p.name ? ` ${p.name}` : ''}${p.code ? '' : ' (not mirrored)'}`,
      })));
      if (outs.some((p) => String(p.point) === keep)) sel.value = keep;
    },
    // The console line a form stands for; a promise when the snapshot must be read first.
    lineOf(form, fresh) {
      const f = new FormData(form);
      const v = (k) => String(f.get(k) ?? '').trim();
      switch (form.id) {
        case 'form-var':
          return `var ${v('number')} ${v('value')}`;
        case 'form-output': {
          const unit = Number(v('unit'));
          const point = Number(v('point'));
          const p = findPoint(unit, point);
          if (!p) throw new Error('choose a module and an output point');
          if (!p.code && !fresh) return refreshState().then(() => this.lineOf(form, true));
          // An output is switched through its host device, as the host would.
          if (!p.code) throw new Error(`output ${point} of unit ${unit} is not mirrored into a host device; choose it under Configuration first`);
          return `set ${p.code} ${v('state') === 'off' ? 'off' : 'on'}`;
        }
        case 'form-x10': {
          const fn = v('function');
          const level = v('level');
          const address = v('address').replace(/\s+/g, '');
          return ['x10', address, fn, ['dim', 'bright', 'preset'].includes(fn) ? level : ''].filter(Boolean).join(' ');
        }
        case 'form-ir': {
          const zone = v('zone');
          return `ir play ${zone ? `--zone ${zone} ` : ''}${v('label')}`;
        }
        case 'form-ir-learn':
          return `ir learn ${v('label')}`;
        case 'form-screen': {
          const opts = ['clear', 'beep', 'backlight'].filter((k) => f.get(k)).map((k) => `--${k}`);
          if (f.get('font1')) opts.push('--font 1');
          return ['screen', ...opts, v('x'), v('y'), '--', String(f.get('text') ?? '')].join(' ');
        }
        case 'form-line':
          return v('line');
        default:
          throw new Error('unknown form');
      }
    },
    setUp() {
      for (const form of $$('#tab-control form')) {
        form.addEventListener('submit', async (e) => {
          e.preventDefault();
          const out = form.querySelector('.outcome');
          let line;
          try {
            line = await this.lineOf(form);
          } catch (err) {
            out.className = 'outcome error';
            out.textContent = err.message;
            return;
          }
          const button = form.querySelector('button[type=submit]');
          button.disabled = true;
          try {
            await runLine(line, out);
          } finally {
            button.disabled = false;
          }
        });
      }
      $('#output-unit').addEventListener('change', () => this.refreshPoints());
    },
  };

  // ---- configuration ----

  // The configuration form's controls by the name the window gives them; the kind of a
  // control the server does not state is known from its name.
  const kinds = {
    text: ['TxtComPort', 'TxtPoll', 'aRemap', 'aProjectFile', 'aCMAXexe', 'aIRMaxExe'],
    check: ['Check1', 'ChkLogErrors', 'ChkLogComms', 'ChkInvert', 'aInvert', 'IOPoint', 'aUpdateStrings',
      'aRunAsXapNode', 'aX10Xmit', 'showInMenu', 'aIRRecognitionForward', 'aIncludeVariables', 'aIncludeX10',
      'aIncludeIO', 'aIncludeIR', 'aIncludeMessages'],
    radio: ['aInterfaceChange', 'aSyncMaster'],
    button: ['OKButton', 'CancelButton', 'aClock', 'Disconnect', 'aCreateVariables', 'Command1', 'ButCreate',
      'aIRMax', 'aCMAX', 'aSynchronize'],
    list: ['List1', 'aIRDevice'],
    lamp: ['PortOpen'],
  };
  const kindOfBase = new Map();
  for (const [k, names] of Object.entries(kinds)) for (const n of names) kindOfBase.set(n, k);

  // Captions for controls whose caption the window draws itself.
  const captions = {
    aInterfaceChange_1: 'Varnel', aInterfaceChange_0: 'Applied Digital Ocelot', aClock: 'Set Clock',
    aUpdateStrings: 'Send device string update on value change', aRunAsXapNode: 'Run as xAP node, host is user interface',
    TxtComPort: 'Com port', TxtPoll: 'Poll interval (milliseconds, for variable changes only)',
    PortOpen: 'Com open', Disconnect: 'Disconnect from Ocelot',
    ChkLogErrors: 'Log checksum errors and serial timeouts', ChkLogComms: 'Log comms to ocelot.log',
    aX10Xmit: 'Process X10 transmit from Ocelot', showInMenu: 'Show setup page on host title bar',
    aIRRecognitionForward: 'Do not forward IR recognition to host',
    aCreateVariables: 'Create and delete variables', Command1: 'Create Leopard device',
    ChkInvert: 'Invert inputs', ButCreate: 'Create and delete I/O point devices', aIRDevice: 'IR device',
    aIRMax: 'IRMax', aCMAX: 'CMAX', aIncludeVariables: 'Variables', aIncludeX10: 'X10', aIncludeIO: 'I/O units',
    aIncludeIR: 'IR labels', aIncludeMessages: 'Messages', aSyncMaster_0: 'Host master', aSyncMaster_1: 'CMAX master',
    aSynchronize: 'Synchronize host and CMAX', aIRMaxExe: 'IRmax.exe path', aProjectFile: 'Project file path',
    aCMAXexe: 'cpuxa.exe path', OKButton: 'Update', CancelButton: 'Cancel', List1: 'Units discovered',
  };

  const baseOf = (name) => name.replace(/_\d+$/, '');
  const indexOf = (name) => {
    const m = /_(\d+)$/.exec(name);
    return m ? Number(m[1]) : -1;
  };

  // The server's own kinds, in the page's words.
  const serverKinds = { option: 'radio', choice: 'list', frame: 'frame', label: 'label', text: 'text', check: 'check', button: 'button', list: 'list', lamp: 'lamp' };

  function kindOf(name, c) {
    if (c && typeof c.kind === 'string' && serverKinds[c.kind]) return serverKinds[c.kind];
    const known = kindOfBase.get(baseOf(name)) || kindOfBase.get(name);
    if (known) return known;
    if (c && Array.isArray(c.items) && c.items.length) return 'list';
    if (/^(Txt|txt)/.test(name)) return 'text';
    if (/^(Chk|Check|chk)/.test(name)) return 'check';
    if (/(Button|^But|^cmd)/.test(name)) return 'button';
    return 'label';
  }

  // Sections of the form, in the window's order; a control no section claims goes under
  // a section named by its prefix.
  const sections = [
    { title: 'Interface', names: [/^aInterfaceChange_\d+$/, 'aClock'] },
    { title: 'Connectivity', names: ['aUpdateStrings', 'aRunAsXapNode', 'TxtComPort', 'TxtPoll', 'PortOpen', 'Disconnect'] },
    { title: 'Logging', names: ['ChkLogErrors', 'ChkLogComms'] },
    { title: 'Preferences', names: ['aX10Xmit', 'showInMenu', 'aIRRecognitionForward'] },
    { title: 'Mirrored variables', layout: 'variables', names: [/^aVariableHouseCode\d$/, /^Check1_\d+$/, 'aCreateVariables', 'Command1'] },
    { title: 'Mirrored module points', layout: 'io', names: ['List1', 'ChkInvert', /^aInvert_\d+$/, /^aIOHouse_\d+$/, /^aIOUnit_\d+$/, /^IOPoint_\d+$/, 'ButCreate'] },
    { title: 'IR remap', layout: 'ir', names: ['aIRDevice', /^aIRLabel_\d+$/, /^aRemap_\d+$/] },
    { title: 'System Map synchronisation', names: [/^aInclude/, /^aSyncMaster_\d+$/, 'aSynchronize', 'aProjectFile', 'aCMAXexe', 'aIRMaxExe', 'aCMAX', 'aIRMax', 'Label15', 'Label11'] },
  ];
  // Captions the page has of its own, frames and lines: not shown as controls.
  const skipped = /^(Label(1|2|3|4|7|8|9|10|12|13)(_\d+)?|Frame\d*(_\d+)?|frm|Line1|SSTab1|Include|Synchronize|Applications|CMAXFiles|OKButton|CancelButton|lblver)$/;

  function sectionOf(name) {
    for (const s of sections) {
      if (s.names.some((n) => (typeof n === 'string' ? n === name : n.test(name)))) return s;
    }
    return null;
  }

  const config = {
    controls: {},
    nodes: new Map(), // name -> {kind, root, input}
    loaded: false,
    loading: false,
    sending: false,

    async ensureLoaded() {
      if (this.loaded || this.loading) return;
      this.loading = true;
      this.status('loading…');
      try {
        const data = await api('GET', '/api/config');
        this.build(data && data.controls ? data.controls : {});
        this.loaded = true;
        this.status(data && data.busy ? 'busy: the controller is being asked…' : '');
      } catch (e) {
        this.status(`The configuration could not be read: ${e.message}`);
      } finally {
        this.loading = false;
      }
    },

    status(text) {
      $('#config-status').textContent = text;
    },

    // A text box's or list's label: the server's, else the page's own.
    label(name) {
      const c = this.controls[name];
      if (c && typeof c.label === 'string' && c.label.trim()) return c.label.trim().replace(/:$/, '');
      return captions[name] || name;
    },

    caption(name) {
      const c = this.controls[name];
      if (c && typeof c.text === 'string' && c.text.trim() && kindOf(name, c) !== 'text') return c.text;
      return captions[name] || name;
    },

    // One control's element and input; `opts.caption` replaces the caption the control
    // has, `opts.label` names it for assistive technology where a grid shows no caption.
    make(name, opts = {}) {
      const c = this.controls[name] || {};
      const kind = kindOf(name, c);
      const id = `cfg-${name}`;
      let root;
      let input;
      switch (kind) {
        case 'text':
          input = el('input', { id, type: 'text', name, autocomplete: 'off' });
          if (/^(TxtComPort|TxtPoll|aRemap_\d+)$/.test(name)) input.inputMode = 'numeric';
          input.addEventListener('change', () => this.send({ action: 'text', control: name, text: input.value }));
          root = el('div', { class: 'field' }, el('label', { for: id, text: this.label(name) }), input);
          break;
        case 'check':
        case 'radio':
          input = el('input', { id, type: kind === 'check' ? 'checkbox' : 'radio', name: kind === 'radio' ? baseOf(name) : name });
          input.addEventListener('change', () => this.send({ action: 'check', control: name, checked: input.checked }));
          root = el('label', { class: 'check', for: id }, input, el('span', { class: 'caption' }));
          break;
        case 'button':
          input = el('button', { id, type: 'button', name });
          input.addEventListener('click', () => this.send({ action: 'click', control: name }));
          root = input;
          break;
        case 'list':
          input = el('select', { id, name });
          if (name === 'List1') input.size = 6;
          input.addEventListener('change', () => this.send({ action: 'choose', control: name, index: input.selectedIndex }));
          root = el('div', { class: 'field' }, el('label', { for: id, text: this.label(name) }), input);
          break;
        case 'lamp':
          root = el('span', { class: 'cfg-lamp', id, role: 'img' });
          break;
        default:
          root = el('span', { class: 'cfg-label', id });
      }
      root.dataset.control = name;
      if (opts.label && input) input.setAttribute('aria-label', opts.label);
      this.nodes.set(name, { kind, root, input, caption: opts.caption });
      this.apply(name);
      return root;
    },

    apply(name) {
      const n = this.nodes.get(name);
      const c = this.controls[name];
      if (!n || !c) return;
      const { kind, root, input } = n;
      const caption = n.caption ?? this.caption(name);
      root.hidden = c.visible === false;
      if (input) input.disabled = c.enabled === false || (kind === 'button' && this.sending);
      if (c.tip) root.title = String(c.tip);
      else root.removeAttribute('title');
      switch (kind) {
        case 'text':
          // A box being typed in keeps what the user typed.
          if (document.activeElement !== input) input.value = String(c.text ?? '');
          break;
        case 'check':
        case 'radio':
          input.checked = !!c.checked;
          root.querySelector('.caption').textContent = caption;
          break;
        case 'button':
          input.textContent = caption;
          break;
        case 'list': {
          const items = Array.isArray(c.items) ? c.items.map(String) : [];
          const same = input.options.length === items.length && items.every((t, i) => input.options[i].text === t);
          if (!same) input.replaceChildren(...items.map((t, i) => el('option', { value: String(i), text: t })));
          if (typeof c.index === 'number') input.selectedIndex = c.index;
          break;
        }
        case 'lamp':
          root.classList.toggle('on', !!c.checked);
          root.setAttribute('aria-label', `${caption}: ${c.checked ? 'yes' : 'no'}`);
          root.textContent = caption;
          break;
        default:
          root.textContent = String(c.text ?? '');
      }
    },

    build(controls) {
      this.controls = controls;
      this.nodes.clear();
      const names = Object.keys(controls);
      const bySection = new Map();
      const others = new Map();
      for (const name of names) {
        if (skipped.test(name) || kindOf(name, controls[name]) === 'frame') continue;
        const s = sectionOf(name);
        if (s) {
          if (!bySection.has(s)) bySection.set(s, []);
          bySection.get(s).push(name);
        } else {
          // The frame the server puts it in, else its name's first word.
          const group = controls[name].group;
          const prefix = group && controls[group] && controls[group].text ? String(controls[group].text)
            : (/^[a-z]*[A-Z]?[a-z]+/.exec(baseOf(name)) || [baseOf(name)])[0];
          if (!others.has(prefix)) others.set(prefix, []);
          others.get(prefix).push(name);
        }
      }
      const parts = [];
      for (const s of sections) {
        const list = bySection.get(s);
        if (!list) continue;
        let body;
        if (s.layout === 'variables') body = this.variablesGrid(list);
        else if (s.layout === 'io') body = this.ioGrid(list);
        else if (s.layout === 'ir') body = this.irGrid(list);
        else body = el('div', { class: 'controls' }, ...this.ordered(list, s).map((n) => this.make(n)));
        parts.push(el('fieldset', { class: `cfg-section ${s.layout || ''}` }, el('legend', { text: s.title }), body));
      }
      for (const [prefix, list] of others) {
        parts.push(el('fieldset', { class: 'cfg-section' }, el('legend', { text: prefix }),
          el('div', { class: 'controls' }, ...list.sort(byIndex).map((n) => this.make(n)))));
      }
      const footer = el('div', { class: 'cfg-footer' });
      if (controls.lblver) footer.append(this.make('lblver'));
      for (const b of ['OKButton', 'CancelButton']) if (controls[b]) footer.append(this.make(b));
      if (controls.OKButton && !controls.OKButton.tip) this.nodes.get('OKButton').root.title = 'Store the settings and the IR remap';
      parts.push(footer);
      $('#config').replaceChildren(...parts);
    },

    ordered(list, s) {
      const rank = (n) => s.names.findIndex((p) => (typeof p === 'string' ? p === n : p.test(n)));
      return list.slice().sort((a, b) => rank(a) - rank(b) || byIndex(a, b));
    },

    variablesGrid(list) {
      const box = el('div', { class: 'cfg-vars' });
      for (const half of [0, 1]) {
        const head = `aVariableHouseCode${half + 1}`;
        if (list.includes(head)) box.append(el('p', { class: 'house' }, this.make(head)));
        const grid = el('div', { class: 'checkgrid' });
        for (let i = half * 64; i < half * 64 + 64; i++) {
          const name = `Check1_${i}`;
          if (!list.includes(name)) continue;
          grid.append(this.make(name, { caption: String(i), label: `variable ${i}` }));
        }
        box.append(grid);
      }
      box.append(el('div', { class: 'controls' }, ...['aCreateVariables', 'Command1'].filter((n) => list.includes(n)).map((n) => this.make(n))));
      return box;
    },

    ioGrid(list) {
      const box = el('div', { class: 'cfg-io' });
      const head = el('div', { class: 'controls' }, ...['List1', 'ChkInvert'].filter((n) => list.includes(n)).map((n) => this.make(n)));
      box.append(head);
      const table = el('table', { class: 'iogrid' });
      const hr = el('tr', null, el('th', { scope: 'col', text: 'Invert' }), el('th', { scope: 'col', text: 'House' }), el('th', { scope: 'col', text: 'Unit' }));
      for (let p = 0; p < 16; p++) hr.append(el('th', { scope: 'col', text: String(p) }));
      table.append(el('thead', null, hr));
      const body = el('tbody');
      for (let r = 0; r < 16; r++) {
        if (!list.includes(`IOPoint_${16 * r}`) && !list.includes(`aInvert_${r}`)) continue;
        const row = el('tr', { 'data-row': String(r) });
        const cell = (name, label) => {
          const td = el('td');
          if (list.includes(name)) td.append(this.make(name, { caption: '', label }));
          return td;
        };
        row.append(cell(`aInvert_${r}`, `row ${r + 1}: invert`), cell(`aIOHouse_${r}`, ''));
        const unit = el('td', { class: 'unitcell' });
        for (const i of [r + 32, r + 16, r]) if (list.includes(`aIOUnit_${i}`)) unit.append(this.make(`aIOUnit_${i}`), ' ');
        row.append(unit);
        for (let p = 0; p < 16; p++) row.append(cell(`IOPoint_${16 * r + p}`, `row ${r + 1}: point ${p}`));
        body.append(row);
        this.rowVisibility(row);
      }
      table.append(body);
      box.append(el('div', { class: 'scroll' }, table));
      if (list.includes('ButCreate')) box.append(el('div', { class: 'controls' }, this.make('ButCreate')));
      return box;
    },

    // A grid row of a unit the controller does not have stays out of sight, as in the window.
    rowVisibility(row) {
      const r = Number(row.dataset.row);
      const names = [`aInvert_${r}`, `aIOHouse_${r}`, ...Array.from({ length: 16 }, (_, p) => `IOPoint_${16 * r + p}`)];
      row.hidden = names.every((n) => !this.controls[n] || this.controls[n].visible === false);
    },

    irGrid(list) {
      const box = el('div', { class: 'cfg-ir' });
      if (list.includes('aIRDevice')) box.append(this.make('aIRDevice'));
      const grid = el('div', { class: 'remaps' });
      for (let i = 0; i < 64; i++) {
        const label = `aIRLabel_${i}`;
        const remap = `aRemap_${i}`;
        if (!list.includes(label) && !list.includes(remap)) continue;
        const row = el('div', { class: 'remap' });
        if (list.includes(label)) row.append(this.make(label));
        if (list.includes(remap)) {
          const node = this.make(remap, { label: `${(this.controls[label] && this.controls[label].text) || `label ${i}`}: remap to IR location` });
          node.querySelector('label').classList.add('sr');
          row.append(node);
        }
        grid.append(row);
      }
      box.append(grid);
      return box;
    },

    merge(changed) {
      for (const [name, c] of Object.entries(changed || {})) {
        this.controls[name] = { ...(this.controls[name] || {}), ...c };
        if (this.nodes.has(name)) this.apply(name);
        else if (!skipped.test(name) && kindOf(name, this.controls[name]) !== 'frame') {
          // A control the form did not have yet: shown at the end, so nothing is lost.
          $('#config').append(el('div', { class: 'controls' }, this.make(name)));
        }
      }
      for (const row of $$('#config .iogrid tbody tr')) this.rowVisibility(row);
    },

    showMessages(messages) {
      const box = $('#config-messages');
      const stamp = new Date().toLocaleTimeString();
      for (const m of messages) {
        const style = ['information', 'exclamation', 'critical'].includes(m.style) ? m.style : 'information';
        box.prepend(el('li', { class: `msg ${style}` }, el('time', { text: stamp }), el('span', { text: String(m.text ?? '') })));
      }
      while (box.childElementCount > 20) box.lastElementChild.remove();
    },

    setSending(on) {
      this.sending = on;
      for (const [name, n] of this.nodes) if (n.kind === 'button') n.input.disabled = on || (this.controls[name] && this.controls[name].enabled === false);
      this.status(on ? 'working…' : '');
    },

    // Actions go to the server one after the other, in the order the user made them:
    // a tick and the click that uses it must not overtake each other.
    queue: Promise.resolve(),
    send(action) {
      this.queue = this.queue.then(() => this.sendNow(action));
      return this.queue;
    },

    // Posts one action; questions the server asks are put to the user and the action is
    // sent again with the answers, until nothing is left to ask.
    async sendNow(action) {
      this.setSending(true);
      const answers = {};
      try {
        for (let round = 0; round < 10; round++) {
          const body = Object.keys(answers).length ? { ...action, answers } : action;
          const r = await api('POST', '/api/config', body);
          if (!r) return;
          this.merge(r.controls);
          if (Array.isArray(r.messages) && r.messages.length) this.showMessages(r.messages);
          if (r.closed) {
            this.showMessages([{ text: 'The configuration form was closed; it is opened again.', style: 'information' }]);
            const again = await api('POST', '/api/config', { action: 'open' });
            if (again && again.controls) this.merge(again.controls);
            if (again && Array.isArray(again.messages) && again.messages.length) this.showMessages(again.messages);
            return;
          }
          const questions = Array.isArray(r.questions) ? r.questions.map(String).filter((q) => !(q in answers)) : [];
          if (!questions.length) {
            // A click that waits for the line runs after the reply: its outcome is fetched.
            if (r.busy || r.pending > 0) await this.untilIdle();
            if (action.action === 'click') refreshState();
            return;
          }
          for (const q of questions) answers[q] = await ask(q);
        }
      } catch (e) {
        this.showMessages([{ text: e.message, style: 'critical' }]);
        // The server's state is the truth: a refused change is shown as it is there.
        if (e.status !== 401) this.reload();
      } finally {
        this.setSending(false);
      }
    },

    // Reads the form until no click is running or waiting, showing what each read brings.
    async untilIdle() {
      for (let i = 0; i < 240; i++) {
        await new Promise((resolve) => setTimeout(resolve, 250));
        const r = await api('GET', '/api/config');
        if (!r) return;
        this.merge(r.controls);
        if (Array.isArray(r.messages) && r.messages.length) this.showMessages(r.messages);
        if (!r.busy && !(r.pending > 0)) return;
      }
    },

    async reload() {
      try {
        const data = await api('GET', '/api/config');
        if (data && data.controls) this.merge(data.controls);
      } catch {
        // The message above already says what went wrong.
      }
    },
  };

  function byIndex(a, b) {
    const ba = baseOf(a);
    const bb = baseOf(b);
    return ba === bb ? indexOf(a) - indexOf(b) : ba.localeCompare(bb);
  }

  // A yes/no question in a modal dialog; the keyboard's Escape answers no.
  function ask(question) {
    const dlg = $('#confirm');
    $('#confirm-text').textContent = question;
    if (typeof dlg.showModal !== 'function') return Promise.resolve(window.confirm(question));
    return new Promise((resolve) => {
      dlg.returnValue = '';
      dlg.addEventListener('close', () => resolve(dlg.returnValue === 'yes'), { once: true });
      dlg.showModal();
      dlg.querySelector('button[value=yes]').focus();
    });
  }

  // ---- the WebSocket, with reconnects ----

  const live = {
    socket: null,
    attempts: 0,
    timer: null,
    connect() {
      clearTimeout(this.timer);
      const url = `${location.protocol === 'https:' ? 'wss:' : 'ws:'}//${location.host}/api/live`;
      let ws;
      try {
        ws = new WebSocket(url);
      } catch {
        this.retry();
        return;
      }
      this.socket = ws;
      connectionBadge('connecting');
      ws.onopen = () => {
        this.attempts = 0;
        connectionBadge('live');
      };
      ws.onmessage = (ev) => {
        let m;
        try {
          m = JSON.parse(ev.data);
        } catch {
          return;
        }
        applyMessage(m);
      };
      ws.onclose = () => {
        if (this.socket !== ws) return;
        this.socket = null;
        this.retry();
      };
    },
    // Waits longer after each failure (up to 30 s), with some spread so that many pages
    // do not come back at once; a session that ended shows the login instead.
    async retry() {
      connectionBadge('reconnecting');
      const delay = Math.min(30000, 500 * 2 ** this.attempts) * (0.75 + Math.random() * 0.5);
      this.attempts = Math.min(this.attempts + 1, 10);
      this.timer = setTimeout(async () => {
        try {
          const s = await api('GET', '/api/session');
          if (s.auth === 'password' && !s.loggedIn) {
            showLogin();
            return;
          }
          csrf = s.csrf || csrf;
        } catch {
          // The server is away: try again later.
        }
        this.connect();
      }, delay);
    },
    close() {
      clearTimeout(this.timer);
      const ws = this.socket;
      this.socket = null;
      if (ws) ws.close();
    },
  };

  function connectionBadge(state) {
    const b = $('#connection');
    b.textContent = state;
    b.dataset.state = state;
  }

  // ---- session ----

  function showLogin() {
    live.close();
    connectionBadge('logged out');
    $('#app-view').hidden = true;
    $('#login-view').hidden = false;
    $('#logout').hidden = true;
    $('#login-password').focus();
  }

  function showApp(session) {
    $('#login-view').hidden = true;
    $('#app-view').hidden = false;
    $('#logout').hidden = session.auth !== 'password';
    showTab(location.hash.slice(1) || 'overview', false);
    if (!live.socket) live.connect();
  }

  async function start() {
    setUpTabs();
    events.setUp();
    logView.setUp();
    control.setUp();
    setInterval(tickLastReply, 1000);
    $('#form-login').addEventListener('submit', async (e) => {
      e.preventDefault();
      const out = $('#form-login .outcome');
      out.textContent = '';
      try {
        const r = await fetch('/api/login', {
          method: 'POST',
          headers: { 'Content-Type': 'application/json' },
          body: JSON.stringify({ password: $('#login-password').value }),
          credentials: 'same-origin',
        });
        const data = await r.json().catch(() => ({}));
        if (!r.ok) throw new Error(typeof data.error === 'string' ? data.error : `${r.status} ${r.statusText}`);
        csrf = data.csrf;
        $('#login-password').value = '';
        showApp({ auth: 'password' });
      } catch (err) {
        out.textContent = err.message;
      }
    });
    $('#logout').addEventListener('click', async () => {
      try {
        await api('POST', '/api/logout', {});
      } catch {
        // Logged out either way.
      }
      csrf = null;
      showLogin();
    });
    await checkSession();
  }

  async function checkSession() {
    let s;
    try {
      s = await api('GET', '/api/session');
    } catch (e) {
      connectionBadge(`no answer: ${e.message}`);
      setTimeout(checkSession, 3000);
      return;
    }
    csrf = s.csrf;
    if (s.version) $('#version').textContent = String(s.version);
    if (s.auth === 'password' && !s.loggedIn) showLogin();
    else showApp(s);
  }

  document.addEventListener('DOMContentLoaded', start, { once: true });
})();
