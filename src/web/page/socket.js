// The live WebSocket, with reconnects.
import { api, session } from './api.js';
import { $ } from './dom.js';
import { applyMessage } from './model.js';

export const liveSocket = {
  socket: null,
  attempts: 0,
  timer: null,
  connect() {
    clearTimeout(this.timer);
    const url = new URL('api/live', document.baseURI);
    url.protocol = url.protocol === 'https:' ? 'wss:' : 'ws:';
    let ws;
    try {
      ws = new WebSocket(url);
    } catch {
      this.retry();
      return;
    }
    this.socket = ws;
    connectionBadge('connecting');
    ws.onopen = () => {
      this.attempts = 0;
      connectionBadge('live');
    };
    ws.onmessage = (ev) => {
      let m;
      try {
        m = JSON.parse(ev.data);
      } catch {
        return;
      }
      applyMessage(m);
    };
    ws.onclose = () => {
      if (this.socket !== ws) return;
      this.socket = null;
      this.retry();
    };
  },
  // Waits longer after each failure (up to 30 s), with some spread so that many pages
  // do not come back at once; a session that ended shows the login instead.
  async retry() {
    connectionBadge('reconnecting');
    const delay = Math.min(30000, 500 * 2 ** this.attempts) * (0.75 + Math.random() * 0.5);
    this.attempts = Math.min(this.attempts + 1, 10);
    this.timer = setTimeout(async () => {
      try {
        const s = await api('GET', 'api/session');
        if (s.auth === 'password' && !s.loggedIn) {
          session.loggedOut();
          return;
        }
        session.csrf = s.csrf || session.csrf;
      } catch {
        // The server is away: try again later.
      }
      this.connect();
    }, delay);
  },
  close() {
    clearTimeout(this.timer);
    const ws = this.socket;
    this.socket = null;
    if (ws) ws.close();
  },
};

export function connectionBadge(state) {
  const b = $('#connection');
  b.textContent = state;
  b.dataset.state = state;
}
