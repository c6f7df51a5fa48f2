// The Control tab: forms that each make one console line, run through the server.
import { api } from './api.js';
import { $, $$, el } from './dom.js';
import { addView, findPoint, refreshState, snapshot } from './model.js';

async function runLine(line, outcomeEl) {
  outcomeEl.className = 'outcome busy';
  outcomeEl.textContent = `running: ${line}`;
  try {
    const r = await api('POST', 'api/command', { line });
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

export function setUp() {
  control.setUp();
  addView({ full: () => control.refresh() });
}
