// A scripted stand-in for the view server, for developing and testing the
// page alone: serves the web folder and answers /api/* as the real server
// does, with a small made-up network (four motes; 1 to 3 send light
// readings to mote 0, which passes them to the host as results).
// Usage: node standin_server.mjs --port P --web DIR [--motes N]
import http from 'node:http';
import fs from 'node:fs';
import path from 'node:path';
import { parseArgs } from 'node:util';

const { values: options } = parseArgs({ options: {
  port: { type: 'string' }, web: { type: 'string' }, motes: { type: 'string', default: '4' } } });
const webDir = path.resolve(options.web);
const MOTES = Number(options.motes);
const TYPES = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css', '.png': 'image/png',
  '.svg': 'image/svg+xml', '.json': 'application/json' };
const VARIABLES = { 'LedsM$ledsOn': ['01 00 00 00', '1'], 'TimerM$mState': ['80 03 00 00', 'timers 7, 8, 9 running'] };

let time = 0;
let rate = 20;
const on = new Array(MOTES).fill(true);
const clients = new Set();

function send(type, data) {
  for (const client of clients) client.write(`event: ${type}\ndata: ${JSON.stringify(data)}\n\n`);
}

// Every 100 ms of wall time: the clock moves; each second of virtual time
// every mote that is on toggles its green LED and sends a reading.
let nextRound = 1;
setInterval(() => {
  if (rate === 0) return;
  time += 0.1 * Math.min(rate, 10);
  send('clock', { time, speed: Math.min(rate, 10) });
  if (time < nextRound) return;
  for (let mote = 1; mote < MOTES; mote++) {
    if (!on[mote]) continue;
    send('led', { time, mote, red: 0, green: nextRound % 2, yellow: 1 });
    send('radio', { time, mote, addr: 0, type: 9, length: 12 });
    send('debug', { time, mote, mode: 'am', text: `sending to mote 0, round ${nextRound}` });
    if (on[0]) {
      send('serial', { time, mote: 0, type: 10, length: 14 });
      send('result', { time, mote, timestamp: nextRound, epoch: 0, fields: { light: mote * 100 } });
    }
  }
  nextRound++;
}, 100);

function reply(response, status, body) {
  response.writeHead(status, { 'Content-Type': 'application/json' });
  response.end(JSON.stringify(body));
}

const isMote = (m) => Number.isInteger(m) && m >= 0 && m < MOTES;
const commands = {
  '/api/rate': (b) => (typeof b.rate === 'number' && b.rate >= 0 ? ((rate = b.rate), {}) : 'rate must be a number >= 0'),
  '/api/mote': (b) => {
    if (!isMote(b.mote) || typeof b.on !== 'boolean') return 'unknown mote';
    on[b.mote] = b.on;
    setTimeout(() => send('power', { time, mote: b.mote, on: b.on }), 50);
    return {};
  },
  '/api/link': () => 'link probabilities need the lossy radio model (this simulation runs the simple one)',
  '/api/var': (b) => {
    if (!isMote(b.mote)) return 'unknown mote';
    const known = VARIABLES[b.name];
    return known ? { hex: known[0], text: known[1] } : `unknown variable '${b.name}'`;
  },
  '/api/serial': (b) => (isMote(b.mote) && /^([0-9a-f]{2}\s*)+$/i.test(b.hex ?? '') ? {} : 'bytes must be hex pairs'),
};

http.createServer((request, response) => {
  const url = new URL(request.url, 'http://localhost');
  if (request.method === 'POST' && commands[url.pathname]) {
    let text = '';
    request.on('data', (chunk) => { text += chunk; });
    request.on('end', () => {
      let body;
      try { body = JSON.parse(text); } catch { return reply(response, 400, { error: 'body is not JSON' }); }
      const outcome = commands[url.pathname](body ?? {});
      if (typeof outcome === 'string') reply(response, 400, { error: outcome });
      else reply(response, 200, { ok: true, ...outcome });
    });
    return;
  }
  if (url.pathname === '/api/info') {
    return reply(response, 200, { motes: MOTES, radio_model: 'simple', rate, time, positions: null,
      results: { fields: ['light'] } });
  }
  if (url.pathname === '/api/variables') return reply(response, 200, Object.keys(VARIABLES));
  if (url.pathname === '/api/events') {
    response.writeHead(200, { 'Content-Type': 'text/event-stream', 'Cache-Control': 'no-cache' });
    response.write(': stand-in\n\n');
    clients.add(response);
    request.on('close', () => clients.delete(response));
    return;
  }
  const file = path.join(webDir, url.pathname === '/' ? 'index.html' : path.normalize(url.pathname));
  if (!file.startsWith(webDir + path.sep)) return reply(response, 404, { error: 'not found' });
  fs.readFile(file, (error, data) => {
    if (error) return reply(response, 404, { error: 'not found' });
    response.writeHead(200, { 'Content-Type': TYPES[path.extname(file)] ?? 'application/octet-stream' });
    response.end(data);
  });
}).listen(Number(options.port), '127.0.0.1', () => console.log(`stand-in view server on port ${options.port}`));
