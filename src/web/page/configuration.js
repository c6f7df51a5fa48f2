// The Configuration tab: the configuration window's controls, driven on the server.
import { api } from './api.js';
import { $, $$, el } from './dom.js';
import { refreshState } from './model.js';
import { onShown } from './tabs.js';

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
      const data = await api('GET', 'api/config');
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
        const r = await api('POST', 'api/config', body);
        if (!r) return;
        this.merge(r.controls);
        if (Array.isArray(r.messages) && r.messages.length) this.showMessages(r.messages);
        if (r.closed) {
          this.showMessages([{ text: 'The configuration form was closed; it is opened again.', style: 'information' }]);
          const again = await api('POST', 'api/config', { action: 'open' });
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
      const r = await api('GET', 'api/config');
      if (!r) return;
      this.merge(r.controls);
      if (Array.isArray(r.messages) && r.messages.length) this.showMessages(r.messages);
      if (!r.busy && !(r.pending > 0)) return;
    }
  },

  async reload() {
    try {
      const data = await api('GET', 'api/config');
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

export function setUp() {
  onShown('configuration', () => config.ensureLoaded());
}
