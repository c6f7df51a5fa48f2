// Small helpers over the DOM: every text from the server goes in as text, never as markup.

export const $ = (sel, root = document) => root.querySelector(sel);
export const $$ = (sel, root = document) => Array.from(root.querySelectorAll(sel));

// A new element; string children become text nodes.
export function el(tag, props, ...children) {
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

export function setText(id, text) {
  const e = document.getElementById(id);
  if (e && e.textContent !== text) e.textContent = text;
}

export function flash(e) {
  e.classList.remove('changed');
  // Restarts the highlight on the next frame without forcing a layout now.
  requestAnimationFrame(() => e.classList.add('changed'));
}
