import { Ring } from './ring.js';
import { moteColour, formatTime } from './format.js';

// A small chart per result field: value against virtual time, a line and
// dots per mote, over the most recent points.
const POINTS = 600;

export class FieldChart {
  constructor(container, field) {
    this.field = field;
    this.points = new Ring(POINTS);
    this.dirty = true;
    const figure = document.createElement('figure');
    figure.className = 'chart';
    const caption = document.createElement('figcaption');
    caption.textContent = field;
    this.canvas = document.createElement('canvas');
    this.canvas.width = 360;
    this.canvas.height = 140;
    this.canvas.setAttribute('aria-label', `${field} over virtual time`);
    figure.append(caption, this.canvas);
    container.appendChild(figure);
  }

  add(time, value, mote) {
    if (!Number.isFinite(time) || !Number.isFinite(value)) return;
    this.points.push({ time, value, mote });
    this.dirty = true;
  }

  draw() {
    if (!this.dirty) return;
    this.dirty = false;
    const context = this.canvas.getContext('2d');
    const { width, height } = this.canvas;
    const pad = { left: 44, right: 8, top: 20, bottom: 20 };
    context.clearRect(0, 0, width, height);
    const points = this.points.toArray();
    context.font = '11px sans-serif';
    context.fillStyle = '#666';
    if (points.length === 0) {
      context.fillText('no results yet', pad.left, height / 2);
      return;
    }
    let t0 = points[0].time;
    let t1 = points[points.length - 1].time;
    let low = Math.min(...points.map((p) => p.value));
    let high = Math.max(...points.map((p) => p.value));
    if (t1 === t0) t1 = t0 + 1;
    if (high === low) { high += 1; low -= 1; }
    const x = (t) => pad.left + ((t - t0) / (t1 - t0)) * (width - pad.left - pad.right);
    const y = (v) => height - pad.bottom - ((v - low) / (high - low)) * (height - pad.top - pad.bottom);

    context.strokeStyle = '#bbb';
    context.beginPath();
    context.moveTo(pad.left, pad.top);
    context.lineTo(pad.left, height - pad.bottom);
    context.lineTo(width - pad.right, height - pad.bottom);
    context.stroke();
    context.textAlign = 'right';
    context.fillText(String(high), pad.left - 4, pad.top + 4);
    context.fillText(String(low), pad.left - 4, height - pad.bottom);
    context.textAlign = 'left';
    context.fillText(formatTime(t0), pad.left, height - 5);
    context.textAlign = 'right';
    context.fillText(formatTime(t1), width - pad.right, height - 5);

    const byMote = new Map();
    for (const p of points) {
      if (!byMote.has(p.mote)) byMote.set(p.mote, []);
      byMote.get(p.mote).push(p);
    }
    for (const [mote, series] of byMote) {
      const colour = mote === null ? '#333' : moteColour(mote);
      context.strokeStyle = colour;
      context.fillStyle = colour;
      context.beginPath();
      series.forEach((p, i) => (i ? context.lineTo(x(p.time), y(p.value)) : context.moveTo(x(p.time), y(p.value))));
      context.stroke();
      for (const p of series) context.fillRect(x(p.time) - 1.5, y(p.value) - 1.5, 3, 3);
    }
    // Which colour is which mote, for the first few motes.
    context.textAlign = 'left';
    let left = pad.left + 6;
    for (const mote of [...byMote.keys()].sort((a, b) => a - b).slice(0, 10)) {
      context.fillStyle = mote === null ? '#333' : moteColour(mote);
      const label = mote === null ? '■ ?' : `■ ${mote}`;
      context.fillText(label, left, 11);
      left += context.measureText(label).width + 8;
    }
  }
}

// One chart per field, created as fields appear.
export class Charts {
  constructor(container, fields) {
    this.container = container;
    this.charts = new Map();
    for (const field of fields) this.chart(field);
  }

  chart(field) {
    if (!this.charts.has(field)) this.charts.set(field, new FieldChart(this.container, field));
    return this.charts.get(field);
  }

  add(result) {
    for (const [field, value] of Object.entries(result.fields || {})) this.chart(field).add(result.time, value, result.mote);
  }

  draw() {
    for (const chart of this.charts.values()) chart.draw();
  }
}
