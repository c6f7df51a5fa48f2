// How times and the link's state are written on the page.

export function timeText(iso) {
  if (!iso) return '';
  const d = new Date(iso);
  return Number.isNaN(d.getTime()) ? String(iso) : d.toLocaleString();
}

export function shortTime(iso) {
  const d = new Date(iso);
  return Number.isNaN(d.getTime()) ? String(iso || '') : d.toLocaleTimeString();
}

export function agoText(ms) {
  if (ms < 1000) return `${Math.round(ms)} ms ago`;
  if (ms < 120000) return `${(ms / 1000).toFixed(1)} s ago`;
  return `${Math.round(ms / 60000)} min ago`;
}

export function linkText(o) {
  // The server's own words, as the console says them, when it sends them.
  if (typeof o.linkText === 'string' && o.linkText) return o.linkText;
  switch (o.link) {
    case 'up':
      return 'up';
    case 'reconnecting':
      return o.linkSince ? `reconnecting since ${timeText(o.linkSince)}` : 'reconnecting';
    case 'disconnected':
      if (o.disconnectedBy === 'cmax') return 'disconnected for CMAX';
      if (o.disconnectedBy === 'user') return 'disconnected by the user';
      return 'disconnected';
    case 'starting':
      return 'starting';
    default:
      return String(o.link ?? 'unknown');
  }
}
