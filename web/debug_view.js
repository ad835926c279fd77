import { formatTime } from './format.js';

// Recent debug lines, newest first, filtered by mote and mode. Redrawn at
// most a few times a second as one block of text: a flood of lines costs one
// text update, not a DOM node per line.
const SHOWN = 300;
const REDRAW_MS = 250;

export class DebugView {
  constructor({ output, moteFilter, modeFilter }, state) {
    this.output = output;
    this.moteFilter = moteFilter;
    this.modeFilter = modeFilter;
    this.state = state;
    this.knownModes = new Set();
    this.lastDraw = -Infinity;
    const redraw = () => { this.state.debugDirty = true; this.lastDraw = -Infinity; };
    moteFilter.addEventListener('input', redraw);
    modeFilter.addEventListener('change', redraw);
  }

  moteChoice() {
    const text = this.moteFilter.value.trim();
    return text === '' ? null : Number(text);
  }

  draw(now) {
    for (const mode of this.state.modes) {
      if (this.knownModes.has(mode)) continue;
      this.knownModes.add(mode);
      const option = document.createElement('option');
      option.value = mode;
      option.textContent = mode;
      this.modeFilter.appendChild(option);
    }
    if (!this.state.debugDirty || now - this.lastDraw < REDRAW_MS) return;
    this.state.debugDirty = false;
    this.lastDraw = now;
    const mode = this.modeFilter.value === '' ? null : this.modeFilter.value;
    const lines = this.state.debugLines(this.moteChoice(), mode, SHOWN);
    this.output.textContent = lines.length === 0
      ? 'no debug lines (yet) for this filter'
      : lines.map((l) => `${formatTime(l.time).padStart(12)}  ${String(l.mote).padStart(3)}  ${String(l.mode).padEnd(8)} ${l.text}`).join('\n');
  }
}
