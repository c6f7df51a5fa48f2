// The History tab: chosen series over a range from api/history, drawn with uPlot
// (vendor/uplot.js, loaded when the tab is first shown). Values are lines with their
// min-max band per bucket, so a spike stays visible; on/off states are bands in lanes
// below them; reports and commands are markers along the top. Dragging across the chart
// zooms in; while the range ends now, live changes are appended as they come.
import { api } from './api.js';
import { $, el } from './dom.js';
import { addView, snapshot } from './model.js';
import { onShown } from './tabs.js';

const kRanges = { '1h': 3600e3, '24h': 86400e3, '7d': 7 * 86400e3, '30d': 30 * 86400e3 };
const kColours = ['#1f6feb', '#d9480f', '#2b8a3e', '#9c36b5', '#e67700', '#0b7285', '#c2255c', '#5c7cfa'];
const kLane = 12; // px of one state's lane (CSS pixels)
const kMaxChosen = 8;

const view = {
  uPlot: null,
  chart: null,
  known: [], // from api/history/series
  chosen: [],
  range: '24h',
  from: 0,
  to: 0,
  data: new Map(), // id -> {kind, t, min, max, last, text}
  loading: 0,
};

const live = () => view.range !== 'custom';
const kindOf = (id) => (view.known.find((s) => s.id === id) || {}).kind || (id.startsWith('var:') ? 'value' : 'state');
const nameOf = (id) => (view.known.find((s) => s.id === id) || {}).name || id;
const colour = (id) => kColours[view.chosen.indexOf(id) % kColours.length];

function toLocalInput(ms) {
  const d = new Date(ms - new Date(ms).getTimezoneOffset() * 60e3);
  return d.toISOString().slice(0, 16);
}

// What the user typed: a series id, a name, or a variable's number.
function resolve(text) {
  const t = text.trim();
  if (!t) return null;
  const lower = t.toLowerCase();
  const hit = view.known.find((s) => s.id === t || s.name.toLowerCase() === lower);
  if (hit) return hit.id;
  if (/^\d{1,3}$/.test(t) && Number(t) <= 127) return `var:${Number(t)}`;
  if (/^(var:\d{1,3}|unit:\d{1,3}:point:\d{1,2}|link|x10|ir|touch|command)$/.test(t)) return t;
  const part = view.known.find((s) => s.name.toLowerCase().includes(lower));
  return part ? part.id : null;
}

function query(extra) {
  const p = new URLSearchParams({
    series: view.chosen.join(','),
    from: new Date(view.from).toISOString(),
    to: new Date(view.to).toISOString(),
    ...extra,
  });
  return p.toString();
}

async function loadSeries() {
  try {
    const r = await api('GET', 'api/history/series');
    view.known = Array.isArray(r.series) ? r.series : [];
    $('#history-kept').textContent = r.kept && typeof r.kept.text === 'string' ? r.kept.text : '';
  } catch (e) {
    $('#history-kept').textContent = e.message;
    return;
  }
  $('#history-options').replaceChildren(
    ...view.known.map((s) => el('option', { value: s.id, label: `${s.name} (${s.count} kept)` })));
  if (!view.chosen.length) {
    const first = view.known.find((s) => s.kind === 'value') || view.known[0];
    if (first) view.chosen.push(first.id);
  }
  renderChosen();
}

function renderChosen() {
  $('#history-chosen').replaceChildren(...view.chosen.map((id) => {
    const swatch = el('span', { class: 'swatch' });
    swatch.style.background = colour(id);
    const b = el('button', { type: 'button', class: 'chip', 'data-series': id, title: 'Remove' }, swatch,
      `${nameOf(id)} ×`);
    b.addEventListener('click', () => {
      view.chosen = view.chosen.filter((x) => x !== id);
      renderChosen();
      reload();
    });
    return b;
  }));
}

function setRange(name) {
  view.range = name;
  for (const b of document.querySelectorAll('#history-range [data-range]'))
    b.setAttribute('aria-pressed', String(b.dataset.range === name));
  $('#form-history-custom').hidden = name !== 'custom';
  if (name !== 'custom') {
    view.to = Date.now();
    view.from = view.to - kRanges[name];
  }
}

async function reload() {
  const box = $('#history-chart');
  $('#history-csv').href = view.chosen.length ? `api/history.csv?${query({})}` : '#';
  if (!view.chosen.length) {
    view.data.clear();
    draw();
    return;
  }
  if (live()) {
    view.to = Date.now();
    view.from = view.to - kRanges[view.range];
  }
  const points = Math.max(50, Math.min(800, Math.round(box.clientWidth || 800)));
  const ticket = ++view.loading;
  try {
    const r = await api('GET', `api/history?${query({ points: String(points) })}`);
    if (ticket !== view.loading) return; // a newer request is under way
    view.data.clear();
    for (const s of r.series || []) view.data.set(s.id, s);
    $('#history-status').textContent = '';
  } catch (e) {
    $('#history-status').textContent = e.message;
  }
  draw();
}

// uPlot's columns: one time axis, and per value series its last, min and max.
function columns() {
  const values = view.chosen.filter((id) => view.data.has(id) && view.data.get(id).kind === 'value');
  const times = new Set();
  for (const id of values) for (const t of view.data.get(id).t) times.add(t);
  const xs = Array.from(times).sort((a, b) => a - b);
  const at = new Map(xs.map((t, i) => [t, i]));
  const cols = [xs];
  for (const id of values) {
    const s = view.data.get(id);
    const last = new Array(xs.length).fill(null);
    const min = new Array(xs.length).fill(null);
    const max = new Array(xs.length).fill(null);
    s.t.forEach((t, i) => {
      const j = at.get(t);
      last[j] = s.last[i];
      min[j] = s.min[i];
      max[j] = s.max[i];
    });
    cols.push(last, min, max);
  }
  return { values, cols };
}

// The states' lanes and the events' markers, over what uPlot drew.
function overlay(u) {
  const ctx = u.ctx;
  const { left, top, width, height } = u.bbox;
  const ratio = window.devicePixelRatio || 1;
  const x = (t) => Math.min(left + width, Math.max(left, u.valToPos(t, 'x', true)));
  ctx.save();
  const states = view.chosen.filter((id) => view.data.has(id) && view.data.get(id).kind === 'state');
  states.forEach((id, lane) => {
    const s = view.data.get(id);
    const y = top + height - (lane + 1) * kLane * ratio;
    ctx.fillStyle = `${colour(id)}22`;
    ctx.fillRect(left, y, width, kLane * ratio - ratio);
    ctx.fillStyle = colour(id);
    for (let i = 0; i < s.t.length; i++) {
      if (!(s.max[i] > 0)) continue; // on at some time of the bucket
      const end = i + 1 < s.t.length ? s.t[i + 1] : Math.min(Date.now(), view.to);
      ctx.fillRect(x(s.t[i]), y, Math.max(ratio, x(end) - x(s.t[i])), kLane * ratio - ratio);
    }
  });
  const events = view.chosen.filter((id) => view.data.has(id) && view.data.get(id).kind === 'event');
  events.forEach((id, row) => {
    ctx.fillStyle = colour(id);
    for (const t of view.data.get(id).t) ctx.fillRect(x(t) - ratio, top + row * 6 * ratio, 2 * ratio, 6 * ratio);
  });
  ctx.restore();
}

function draw() {
  const box = $('#history-chart');
  if (!view.uPlot) return;
  const { values, cols } = columns();
  const series = [{}];
  const bands = [];
  values.forEach((id, i) => {
    const c = colour(id);
    const stepped = view.uPlot.paths.stepped({ align: 1 });
    series.push({ label: nameOf(id), stroke: c, width: 1.5, spanGaps: true, paths: stepped });
    series.push({ label: `${nameOf(id)} min`, stroke: `${c}00`, width: 0, spanGaps: true, paths: stepped, show: true });
    series.push({ label: `${nameOf(id)} max`, stroke: `${c}00`, width: 0, spanGaps: true, paths: stepped, show: true });
    bands.push({ series: [3 * i + 3, 3 * i + 2], fill: `${c}33` });
  });
  const width = Math.max(280, box.clientWidth || 800);
  const height = width < 600 ? 240 : 320;
  if (view.chart) view.chart.destroy();
  view.chart = new view.uPlot(
    {
      width,
      height,
      ms: 1,
      series,
      bands,
      legend: { show: width >= 600 },
      scales: { x: { time: true, range: () => [view.from, view.to] } },
      cursor: { drag: { x: true, y: false, setScale: false } },
      hooks: {
        draw: [overlay],
        setSelect: [
          (u) => {
            if (u.select.width < 5) return;
            const from = u.posToVal(u.select.left, 'x');
            const to = u.posToVal(u.select.left + u.select.width, 'x');
            u.setSelect({ left: 0, width: 0 }, false);
            view.from = Math.round(from);
            view.to = Math.round(to);
            setRange('custom');
            $('#history-from').value = toLocalInput(view.from);
            $('#history-to').value = toLocalInput(view.to);
            reload();
          },
        ],
      },
    },
    cols,
    box,
  );
  // What the browser test reads: how many buckets are drawn, and each series' newest value.
  let count = 0;
  for (const id of view.chosen) if (view.data.has(id)) count += view.data.get(id).t.length;
  box.dataset.points = String(count);
  for (const chip of document.querySelectorAll('#history-chosen [data-series]')) {
    const s = view.data.get(chip.dataset.series);
    chip.dataset.last = s && s.last && s.last.length ? String(s.last[s.last.length - 1]) : '';
  }
  renderEvents();
}

function renderEvents() {
  const items = [];
  for (const id of view.chosen) {
    const s = view.data.get(id);
    if (s && s.kind === 'event') s.t.forEach((t, i) => items.push({ t, text: s.text[i], id }));
  }
  items.sort((a, b) => b.t - a.t);
  $('#history-events').replaceChildren(...items.slice(0, 50).map((e) =>
    el('li', null, el('time', { text: new Date(e.t).toLocaleString() }), ` ${nameOf(e.id)}: ${e.text}`)));
}

// A live change to a shown series: appended while the range ends now.
function append(id, value, text) {
  if (!live() || !view.chart) return;
  const s = view.data.get(id);
  if (!s) return;
  const now = Date.now();
  s.t.push(now);
  if (s.kind === 'event') s.text.push(text);
  else {
    s.min.push(value);
    s.max.push(value);
    s.last.push(value);
  }
  view.to = now;
  view.from = now - kRanges[view.range];
  draw();
}

const eventSeries = { x10: 'x10', ir: 'ir', screen: 'touch', command: 'command' };

export function setUp() {
  for (const b of document.querySelectorAll('#history-range [data-range]'))
    b.addEventListener('click', () => {
      setRange(b.dataset.range);
      if (b.dataset.range === 'custom') {
        $('#history-from').value = toLocalInput(view.from);
        $('#history-to').value = toLocalInput(view.to);
      } else reload();
    });
  $('#form-history-custom').addEventListener('submit', (e) => {
    e.preventDefault();
    const from = new Date($('#history-from').value).getTime();
    const to = new Date($('#history-to').value).getTime();
    if (!(from < to)) {
      $('#history-status').textContent = 'From needs to be before To.';
      return;
    }
    view.from = from;
    view.to = to;
    reload();
  });
  $('#form-history-add').addEventListener('submit', (e) => {
    e.preventDefault();
    const id = resolve($('#history-find').value);
    if (!id) {
      $('#history-status').textContent = `No series "${$('#history-find').value}".`;
      return;
    }
    if (!view.chosen.includes(id) && view.chosen.length < kMaxChosen) view.chosen.push(id);
    $('#history-find').value = '';
    renderChosen();
    reload();
  });
  new ResizeObserver(() => {
    if (view.chart) view.chart.setSize({ width: Math.max(280, $('#history-chart').clientWidth), height: view.chart.height });
  }).observe($('#history-chart'));
  onShown('history', async () => {
    if (!view.uPlot) {
      try {
        view.uPlot = (await import('./vendor/uplot.js')).default;
      } catch (e) {
        $('#history-status').textContent = `The chart could not load: ${e.message}`;
        return;
      }
    }
    setRange(view.range);
    await loadSeries();
    await reload();
  });
  addView({
    variable: (n) => {
      const v = snapshot.variables && snapshot.variables[n];
      if (v && v.value !== null) append(`var:${n}`, v.value);
    },
    point: (unit, point) => {
      const m = (snapshot.modules || []).find((x) => x.unit === unit);
      const p = m && (m.points || []).find((x) => x.point === point);
      if (p && p.on !== null) append(`unit:${unit}:point:${point}`, p.on ? 1 : 0);
    },
    overview: () => {
      const s = view.data.get('link');
      const up = snapshot.overview && snapshot.overview.link === 'up' ? 1 : 0;
      if (s && s.last[s.last.length - 1] !== up) append('link', up);
    },
    events: (list) => {
      for (const e of list) if (eventSeries[e.kind]) append(eventSeries[e.kind], 0, String(e.text ?? ''));
    },
  });
}
