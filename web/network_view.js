import { LED_COLOURS } from './view_state.js';
import { SPACING } from './layout.js';

// The motes drawn on an SVG: a disc per mote with its id and three LEDs, a
// ring that lights up when it sends, and an arrow to the receiving mote for
// packets addressed to one. Arrows come from a fixed pool, so a busy network
// reuses elements instead of creating them.
const SVG = 'http://www.w3.org/2000/svg';
const FLASH_MS = 500;
const ARROWS = 64;
const RADIUS = SPACING * 0.3;

function svg(name, attributes = {}, parent = null) {
  const element = document.createElementNS(SVG, name);
  for (const [key, value] of Object.entries(attributes)) element.setAttribute(key, value);
  if (parent) parent.appendChild(element);
  return element;
}

export class NetworkView {
  constructor(root, layout, state, onMoteClick) {
    this.state = state;
    this.layout = layout;
    this.flashUntil = new Float64Array(state.moteCount);
    this.flashing = new Set();
    const { x, y, width, height } = layout.box;
    this.svg = svg('svg', { viewBox: `${x} ${y} ${width} ${height}`, role: 'img',
      'aria-label': `network of ${state.moteCount} motes` }, root);
    const defs = svg('defs', {}, this.svg);
    const marker = svg('marker', { id: 'arrowhead', viewBox: '0 0 10 10', refX: 9, refY: 5,
      markerWidth: 5, markerHeight: 5, orient: 'auto-start-reverse' }, defs);
    svg('path', { d: 'M 0 0 L 10 5 L 0 10 z' }, marker);

    const arrowLayer = svg('g', { class: 'arrows' }, this.svg);
    this.arrows = [];
    for (let i = 0; i < ARROWS; i++) {
      this.arrows.push({ line: svg('line', { class: 'arrow', 'marker-end': 'url(#arrowhead)' }, arrowLayer), until: 0 });
    }
    this.nextArrow = 0;

    const moteLayer = svg('g', { class: 'motes' }, this.svg);
    this.motes = layout.points.map(([px, py], mote) => {
      const group = svg('g', { class: 'mote', 'data-mote': mote, transform: `translate(${px} ${py})`,
        tabindex: 0, role: 'button' }, moteLayer);
      const title = svg('title', {}, group);
      svg('circle', { class: 'halo', r: RADIUS * 1.45 }, group);
      svg('circle', { class: 'body', r: RADIUS }, group);
      const label = svg('text', { class: 'label', y: -RADIUS * 0.15 }, group);
      label.textContent = String(mote);
      const leds = LED_COLOURS.map((colour, i) =>
        svg('circle', { class: `led ${colour}`, cx: (i - 1) * RADIUS * 0.55, cy: RADIUS * 0.5, r: RADIUS * 0.2 }, group));
      const activate = () => onMoteClick(mote);
      group.addEventListener('click', activate);
      group.addEventListener('keydown', (event) => {
        if (event.key === 'Enter' || event.key === ' ') {
          event.preventDefault();
          activate();
        }
      });
      return { group, title, leds };
    });
    for (let mote = 0; mote < state.moteCount; mote++) this.state.dirtyMotes.add(mote);
  }

  // Applies what changed since the last frame.
  draw(now) {
    const state = this.state;
    for (const flash of state.flashes.toArray()) this.startFlash(flash, now);
    state.flashes.clear();

    for (const mote of state.dirtyMotes) {
      const { group, title, leds } = this.motes[mote];
      const on = state.on[mote] === 1;
      group.classList.toggle('off', !on);
      group.classList.toggle('pending', state.pendingPower.has(mote));
      leds.forEach((led, i) => led.classList.toggle('lit', on && state.leds[mote * 3 + i] === 1));
      title.textContent = `mote ${mote}: ${on ? 'on' : 'off'}, ${state.sent[mote]} packets sent; click to switch ${on ? 'off' : 'on'}`;
    }
    state.dirtyMotes.clear();

    for (const mote of this.flashing) {
      if (this.flashUntil[mote] <= now) {
        this.motes[mote].group.classList.remove('sending', 'serial');
        this.flashing.delete(mote);
      }
    }
    for (const arrow of this.arrows) {
      if (arrow.until !== 0 && arrow.until <= now) {
        arrow.line.classList.remove('active');
        arrow.until = 0;
      }
    }
  }

  startFlash({ mote, addr, serial }, now) {
    const group = this.motes[mote].group;
    group.classList.add('sending');
    group.classList.toggle('serial', serial);
    this.flashUntil[mote] = now + FLASH_MS;
    this.flashing.add(mote);
    if (!this.state.isMote(addr) || addr === mote) return;
    const arrow = this.arrows[this.nextArrow];
    this.nextArrow = (this.nextArrow + 1) % this.arrows.length;
    const [x1, y1] = this.layout.points[mote];
    const [x2, y2] = this.layout.points[addr];
    const length = Math.hypot(x2 - x1, y2 - y1) || 1;
    const trim = RADIUS * 1.1;
    arrow.line.setAttribute('x1', x1 + ((x2 - x1) * trim) / length);
    arrow.line.setAttribute('y1', y1 + ((y2 - y1) * trim) / length);
    arrow.line.setAttribute('x2', x2 - ((x2 - x1) * trim) / length);
    arrow.line.setAttribute('y2', y2 - ((y2 - y1) * trim) / length);
    arrow.line.classList.add('active');
    arrow.until = now + FLASH_MS;
  }

  select(mote) {
    this.motes.forEach(({ group }, i) => group.classList.toggle('selected', i === mote));
  }
}
