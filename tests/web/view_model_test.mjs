// The page's pure parts under Node's test runner: where motes are drawn,
// and how the state that events feed stays correct and bounded.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { layoutMotes, SPACING } from '../../web/layout.js';
import { ViewState } from '../../web/view_state.js';
import { Ring } from '../../web/ring.js';

const distance = (a, b) => Math.hypot(a[0] - b[0], a[1] - b[1]);

test('without positions motes sit on a square grid in id order, neighbours one spacing apart', () => {
  const { points, fromTopology } = layoutMotes(100, null);
  assert.equal(fromTopology, false);
  assert.equal(points.length, 100);
  assert.equal(distance(points[0], points[1]), SPACING); // along a row
  assert.equal(distance(points[0], points[10]), SPACING); // down a column
  assert.equal(new Set(points.map((p) => p.join())).size, 100); // no two on one spot
});

test('topology positions keep their shape, scaled, and the box holds every mote', () => {
  const positions = [[0, 0], [10, 0], [0, 10], [30, 40]];
  const { points, box, fromTopology } = layoutMotes(4, positions);
  assert.equal(fromTopology, true);
  assert.equal(distance(points[0], points[1]), SPACING);
  assert.equal(distance(points[0], points[3]), 5 * SPACING);
  for (const [x, y] of points) {
    assert.ok(x > box.x && x < box.x + box.width && y > box.y && y < box.y + box.height);
  }
});

test('positions that cannot be drawn fall back to the grid', () => {
  for (const positions of [[[0, 0], [1, 1]], [[5, 5], [5, 5], [5, 5]], [[0, 0], ['a', 1], [2, 2]]]) {
    assert.equal(layoutMotes(3, positions).fromTopology, false, JSON.stringify(positions));
  }
  assert.equal(layoutMotes(1, [[7, 7]]).fromTopology, true);
  assert.deepEqual(layoutMotes(0, null).points, []);
});

test('a ring keeps the newest entries in order', () => {
  const ring = new Ring(3);
  for (let i = 1; i <= 5; i++) ring.push(i);
  assert.deepEqual(ring.toArray(), [3, 4, 5]);
  ring.clear();
  ring.push(9);
  assert.deepEqual(ring.toArray(), [9]);
});

test('events update motes, ignore unknown motes, and mark what to redraw', () => {
  const state = new ViewState(4);
  state.apply('led', { time: 1.5, mote: 2, red: 1, green: 0, yellow: 1 });
  assert.deepEqual([...state.leds.slice(6, 9)], [1, 0, 1]);
  assert.ok(state.dirtyMotes.has(2));
  assert.equal(state.time, 1.5);

  state.apply('led', { time: 2, mote: 4, red: 1 });
  state.apply('radio', { time: 2, mote: -1, addr: 0 });
  state.apply('power', null);
  assert.equal(state.leds.reduce((a, b) => a + b), 2);
  assert.equal(state.flashes.length, 0);

  state.apply('radio', { time: 3, mote: 1, addr: 0, type: 9, length: 12 });
  state.apply('serial', { time: 3, mote: 0, type: 10, length: 14 });
  assert.deepEqual(state.flashes.toArray(), [{ mote: 1, addr: 0, serial: false }, { mote: 0, addr: null, serial: true }]);
  assert.equal(state.sent[1], 1);

  // Switching off: pending until the server says so, then off with its LEDs dark.
  state.requestPower(2, false);
  assert.equal(state.on[2], 1);
  state.apply('power', { time: 4, mote: 2, on: false });
  assert.equal(state.on[2], 0);
  assert.equal(state.pendingPower.has(2), false);
  assert.deepEqual([...state.leds.slice(6, 9)], [0, 0, 0]);

  state.apply('coalesced', { dropped: 7 });
  state.apply('coalesced', { dropped: 5 });
  assert.equal(state.dropped, 12);
});

test('results and debug lines stay bounded, and the debug filter picks by mote and mode', () => {
  const state = new ViewState(3, { resultRows: 5, debugLines: 10 });
  for (let i = 0; i < 50; i++) {
    state.apply('result', { time: i, mote: 1, fields: { light: i } });
    state.apply('debug', { time: i, mote: i % 3, mode: i % 2 ? 'am' : 'boot', text: `line ${i}` });
  }
  assert.deepEqual(state.results.toArray().map((r) => r.time), [45, 46, 47, 48, 49]);
  assert.deepEqual(state.debugLines(null, null, 3).map((l) => l.text), ['line 49', 'line 48', 'line 47']);
  assert.deepEqual(state.debugLines(1, 'am', 10).map((l) => l.text), ['line 49', 'line 43']);
  assert.deepEqual([...state.modes].sort(), ['am', 'boot']);
});
