// The Log tab: the host log's tail, then its lines as they come.
import { api } from './api.js';
import { $, $$, el } from './dom.js';
import { shortTime } from './format.js';
import { addView, kMaxLogLines } from './model.js';
import { onShown } from './tabs.js';

const levelRank = { info: 0, warning: 1, error: 2 };

const logView = {
  loaded: false,
  loading: false,
  sources: new Set(),
  async ensureLoaded() {
    if (this.loaded || this.loading) return;
    this.loading = true;
    try {
      const data = await api('GET', `api/log?lines=${kMaxLogLines}`);
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

export function setUp() {
  logView.setUp();
  onShown('log', () => logView.ensureLoaded());
  addView({ logs: (lines) => logView.add(lines) });
}
