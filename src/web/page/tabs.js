// The tab list: one panel shown at a time, the address's #fragment naming it.
import { $, $$ } from './dom.js';

// The tabs in the order the page's navigation lists them.
const tabNames = () => $$('nav [data-tab]').map((b) => b.dataset.tab);
// What a tab does when it is shown: load what it shows only once it is looked at.
const shownHooks = new Map();

export function onShown(name, fn) {
  shownHooks.set(name, fn);
}

let currentTab = null;

export function showTab(name, focus) {
  const names = tabNames();
  if (!names.includes(name)) name = names[0];
  currentTab = name;
  for (const b of $$('nav [data-tab]')) {
    const on = b.dataset.tab === name;
    b.setAttribute('aria-selected', on ? 'true' : 'false');
    b.tabIndex = on ? 0 : -1;
    if (on && focus) b.focus();
  }
  for (const p of $$('[data-panel]')) p.hidden = p.dataset.panel !== name;
  if (location.hash !== `#${name}`) history.replaceState(null, '', `#${name}`);
  const shown = shownHooks.get(name);
  if (shown) shown();
}

export function setUpTabs() {
  const nav = $('nav');
  nav.addEventListener('click', (e) => {
    const b = e.target.closest('[data-tab]');
    if (b) showTab(b.dataset.tab, false);
  });
  // Arrow keys move between tabs, as in any tab list.
  nav.addEventListener('keydown', (e) => {
    const names = tabNames();
    const i = names.indexOf(currentTab);
    let next = null;
    if (e.key === 'ArrowRight') next = names[(i + 1) % names.length];
    if (e.key === 'ArrowLeft') next = names[(i + names.length - 1) % names.length];
    if (e.key === 'Home') next = names[0];
    if (e.key === 'End') next = names[names.length - 1];
    if (next) {
      e.preventDefault();
      showTab(next, true);
    }
  });
  window.addEventListener('hashchange', () => showTab(location.hash.slice(1), false));
}
