// The page's copy of the run: the snapshot the server sends, kept up to date by the
// live messages, and drawn by the tabs' views in batches, once per animation frame.
import { api } from './api.js';

export const kMaxEvents = 300;
export const kMaxLogLines = 500;

export let snapshot = null;
export let overviewAt = 0; // when the overview's lastReplyAgoMs was true

// What draws the model. A view has any of: full() when the whole snapshot is new,
// overview(), variable(n), point(unit, point), x10(code) for what changed, events(list)
// and logs(lines) for what came.
const views = [];

export function addView(view) {
  views.push(view);
}

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

export function applyMessage(m) {
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

export function findPoint(unit, point) {
  if (!snapshot || !Array.isArray(snapshot.modules)) return null;
  const m = snapshot.modules.find((x) => x.unit === unit);
  return m && Array.isArray(m.points) ? m.points.find((p) => p.point === point) || null : null;
}

function flush() {
  frameAsked = false;
  if (!snapshot) return;
  if (pending.full) {
    pending.full = false;
    for (const v of views) if (v.full) v.full();
  } else {
    for (const v of views) {
      if (pending.overview && v.overview) v.overview();
      if (v.variable) for (const n of pending.vars) v.variable(n);
      if (v.point) {
        for (const k of pending.points) {
          const [u, p] = k.split('/').map(Number);
          v.point(u, p);
        }
      }
      if (v.x10) for (const c of pending.x10) v.x10(c);
    }
  }
  pending.overview = false;
  pending.vars.clear();
  pending.points.clear();
  pending.x10.clear();
  if (pending.events.length) {
    for (const v of views) if (v.events) v.events(pending.events);
    pending.events = [];
  }
  if (pending.logs.length) {
    for (const v of views) if (v.logs) v.logs(pending.logs);
    pending.logs = [];
  }
}

// A fresh snapshot, for what changes without a live message (devices made or deleted).
export async function refreshState() {
  try {
    applyMessage({ type: 'state', state: await api('GET', 'api/state') });
  } catch {
    // The live socket brings a snapshot when it reconnects.
  }
}
