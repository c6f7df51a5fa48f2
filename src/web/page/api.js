// Requests to the server. Every path is relative to the page, so the page works
// wherever it is served from (a reverse proxy may put it below a path of its own).

// The session's CSRF token and what to do when the server says the session ended.
export const session = {
  csrf: null,
  loggedOut: () => {},
};

export class HttpError extends Error {
  constructor(status, message) {
    super(message);
    this.status = status;
  }
}

export async function api(method, path, body) {
  const headers = {};
  if (body !== undefined) headers['Content-Type'] = 'application/json';
  if (method !== 'GET' && session.csrf) headers['X-CSRF-Token'] = session.csrf;
  const res = await fetch(path, {
    method,
    headers,
    body: body === undefined ? undefined : JSON.stringify(body),
    credentials: 'same-origin',
    cache: 'no-store',
  });
  if (res.status === 204) return null;
  let data = null;
  try {
    data = await res.json();
  } catch {
    data = null;
  }
  if (!res.ok) {
    const message = data && typeof data.error === 'string' ? data.error : `${res.status} ${res.statusText}`;
    if (res.status === 401) session.loggedOut();
    throw new HttpError(res.status, message);
  }
  return data;
}
