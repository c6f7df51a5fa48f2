// The Live tab: the variables, the modules' points and the X10 devices as they change.
import { $, $$, el, flash } from './dom.js';
import { addView, findPoint, snapshot } from './model.js';

const varCells = new Map(); // number -> element
const pointLamps = new Map(); // "unit/point" -> element
const x10Rows = new Map(); // code -> row

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

export function setUp() {
  addView({
    full() {
      renderVariables();
      renderModuleGrids();
      renderX10();
    },
    variable: updateVar,
    point: updatePoint,
    x10: updateX10,
  });
}
