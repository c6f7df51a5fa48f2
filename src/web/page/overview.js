// The Overview tab: the link, the counts, the modules found.
import { $, el, setText } from './dom.js';
import { agoText, linkText, timeText } from './format.js';
import { addView, overviewAt, snapshot } from './model.js';

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

export function setUp() {
  addView({ full: renderOverview, overview: renderOverview });
  setInterval(tickLastReply, 1000);
}
