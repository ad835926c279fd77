import { Ring } from './ring.js';

// What the page knows about the simulation, fed by the server's events and
// drained once per animation frame by the views. Events only touch plain
// arrays here; the DOM is changed in the frame, so a burst of events from a
// hundred motes costs one repaint, and every queue is bounded so a hidden
// tab (which gets no frames) keeps a fixed amount of memory.
export const LED_COLOURS = ['red', 'green', 'yellow'];

export class ViewState {
  constructor(moteCount, { resultRows = 200, debugLines = 2000, flashQueue = 256 } = {}) {
    this.moteCount = moteCount;
    this.leds = new Uint8Array(moteCount * 3);
    this.on = new Uint8Array(moteCount).fill(1);
    this.pendingPower = new Map(); // mote -> requested on/off, until the server confirms
    this.sent = new Uint32Array(moteCount);
    this.dirtyMotes = new Set();
    this.flashes = new Ring(flashQueue); // {mote, addr, serial} not yet drawn
    this.results = new Ring(resultRows); // every kept result, oldest first
    this.newResults = new Ring(resultRows); // results not yet drawn
    this.debug = new Ring(debugLines);
    this.debugDirty = false;
    this.modes = new Set();
    this.time = 0;
    this.speed = 0;
    this.dropped = 0;
    this.statusDirty = true;
  }

  isMote(id) {
    return Number.isInteger(id) && id >= 0 && id < this.moteCount;
  }

  // Applies one server event; unknown motes and malformed data are ignored.
  apply(type, data) {
    if (data === null || typeof data !== 'object') return;
    if (typeof data.time === 'number' && data.time > this.time) {
      this.time = data.time;
      this.statusDirty = true;
    }
    const mote = data.mote;
    switch (type) {
      case 'led':
        if (!this.isMote(mote)) return;
        LED_COLOURS.forEach((colour, i) => { this.leds[mote * 3 + i] = data[colour] ? 1 : 0; });
        this.dirtyMotes.add(mote);
        break;
      case 'radio':
      case 'serial':
        if (!this.isMote(mote)) return;
        this.sent[mote]++;
        this.flashes.push({ mote, addr: type === 'radio' ? data.addr : null, serial: type === 'serial' });
        this.dirtyMotes.add(mote);
        break;
      case 'power':
        if (!this.isMote(mote)) return;
        this.on[mote] = data.on ? 1 : 0;
        this.pendingPower.delete(mote);
        if (!data.on) this.leds.fill(0, mote * 3, mote * 3 + 3);
        this.dirtyMotes.add(mote);
        break;
      case 'result':
        this.results.push(data);
        this.newResults.push(data);
        break;
      case 'debug':
        if (typeof data.mode === 'string') this.modes.add(data.mode);
        this.debug.push(data);
        this.debugDirty = true;
        break;
      case 'clock':
        if (typeof data.speed === 'number') this.speed = data.speed;
        this.statusDirty = true;
        break;
      case 'coalesced':
        if (Number.isFinite(data.dropped)) this.dropped += data.dropped;
        this.statusDirty = true;
        break;
      default:
        break;
    }
  }

  requestPower(mote, on) {
    this.pendingPower.set(mote, on);
    this.dirtyMotes.add(mote);
  }

  cancelPower(mote) {
    this.pendingPower.delete(mote);
    this.dirtyMotes.add(mote);
  }

  // Debug lines of one mote and/or mode (null for any), newest first.
  debugLines(mote, mode, limit) {
    const out = [];
    const lines = this.debug.toArray();
    for (let i = lines.length - 1; i >= 0 && out.length < limit; i--) {
      const line = lines[i];
      if ((mote === null || line.mote === mote) && (mode === null || line.mode === mode)) out.push(line);
    }
    return out;
  }
}
