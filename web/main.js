import { getJson, subscribe } from './api.js';
import { layoutMotes } from './layout.js';
import { ViewState } from './view_state.js';
import { NetworkView } from './network_view.js';
import { ResultsView } from './results_view.js';
import { Charts } from './chart.js';
import { DebugView } from './debug_view.js';
import { setUpControls } from './controls.js';
import { formatTime, formatSpeed } from './format.js';

// The live view of a simulation: reads what the server knows once
// (/api/info, /api/variables), then follows its event stream. Events update
// the ViewState; one animation frame applies all of them to the page.
const byId = (id) => document.getElementById(id);

async function start() {
  const info = await getJson('/api/info');
  const variables = await getJson('/api/variables').catch(() => []);
  const motes = Number.isInteger(info.motes) && info.motes > 0 ? info.motes : 0;
  const state = new ViewState(motes);
  state.time = Number(info.time) || 0;
  const fields = info.results?.fields ?? [];

  const layout = layoutMotes(motes, info.positions);
  byId('model').textContent = `${motes} motes, ${info.radio_model ?? 'unknown'} radio model, ` +
    (layout.fromTopology ? 'placed as in the topology' : 'laid out on a grid by id');

  const selectMote = (mote) => {
    network.select(mote);
    byId('var-form').elements.mote.value = mote;
    byId('serial-form').elements.mote.value = mote;
  };
  let toggleMote = () => {};
  const network = new NetworkView(byId('network'), layout, state, (mote) => {
    selectMote(mote);
    toggleMote(mote);
  });
  const results = new ResultsView(byId('results'), state, fields);
  const charts = new Charts(byId('charts'), fields);
  const debug = new DebugView({ output: byId('debug'), moteFilter: byId('debug-mote'),
    modeFilter: byId('debug-mode') }, state);

  let rate = Number(info.rate);
  toggleMote = setUpControls({
    pause: byId('pause'), rateForm: byId('rate-form'), rateInput: byId('rate'), rateOutput: byId('rate-output'),
    linkForm: byId('link-form'), linkOutput: byId('link-output'),
    varForm: byId('var-form'), varOutput: byId('var-output'), varNames: byId('var-name'),
    serialForm: byId('serial-form'), serialOutput: byId('serial-output'), moteOutput: byId('mote-output'),
  }, {
    state, rate, variables: Array.isArray(variables) ? variables : [],
    onRate: (value) => { rate = value; state.statusDirty = true; },
  });
  byId('rate').value = Number.isFinite(rate) ? rate : '';
  if (motes > 0) selectMote(0);

  let connected = false;
  const frame = (now) => {
    network.draw(now);
    results.draw();
    charts.draw();
    debug.draw(now);
    if (state.statusDirty) {
      state.statusDirty = false;
      byId('time').textContent = formatTime(state.time);
      byId('speed').textContent = rate === 0 ? 'paused' : formatSpeed(state.speed);
      byId('dropped').textContent = state.dropped > 0
        ? `${state.dropped} display events skipped by the server to keep up` : '';
      byId('connection').textContent = connected ? 'live' : 'disconnected, retrying…';
      byId('connection').classList.toggle('error', !connected);
    }
    requestAnimationFrame(frame);
  };
  subscribe((type, data) => {
    state.apply(type, data);
    if (type === 'result') charts.add(data);
  }, (open) => {
    connected = open;
    state.statusDirty = true;
  });
  requestAnimationFrame(frame);
  document.body.dataset.ready = 'true';
}

start().catch((error) => {
  byId('model').textContent = `cannot start the view: ${error.message}`;
  byId('model').classList.add('error');
});
