// Requests to the view server. Commands answer {"ok":true,...} or
// {"error":"text"}; every failure, including a server that has gone away,
// comes back as {ok: false, error} so each action can say what went wrong.
export async function getJson(path) {
  const response = await fetch(path, { cache: 'no-store' });
  if (!response.ok) throw new Error(`${path}: HTTP ${response.status}`);
  return response.json();
}

export async function postCommand(path, body) {
  let response;
  try {
    response = await fetch(path, {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify(body),
    });
  } catch {
    return { ok: false, error: 'no answer from the view server (is brelo-ctl view still running?)' };
  }
  let reply = null;
  try {
    reply = await response.json();
  } catch {
    reply = null;
  }
  if (response.ok && reply && reply.ok) return { ok: true, reply };
  const error = reply && typeof reply.error === 'string' ? reply.error : `HTTP ${response.status}`;
  return { ok: false, error };
}

// The server's event stream; EventSource reconnects by itself after a drop.
export const EVENT_TYPES = ['led', 'radio', 'serial', 'result', 'debug', 'power', 'clock', 'coalesced'];

export function subscribe(onEvent, onConnection) {
  const source = new EventSource('/api/events');
  for (const type of EVENT_TYPES) {
    source.addEventListener(type, (message) => {
      let data;
      try {
        data = JSON.parse(message.data);
      } catch {
        return; // a garbled message is skipped, the stream goes on
      }
      onEvent(type, data);
    });
  }
  source.onopen = () => onConnection(true);
  source.onerror = () => onConnection(false);
  return source;
}
