// The Events tab: what the controller reported and what was sent, newest first.
import { $, $$, el } from './dom.js';
import { shortTime } from './format.js';
import { addView, kMaxEvents, snapshot } from './model.js';

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

export function setUp() {
  events.setUp();
  addView({
    full: () => events.reset(Array.isArray(snapshot.events) ? snapshot.events : []),
    events: (list) => events.add(list),
  });
}
