import { postCommand } from './api.js';

// The forms and buttons that steer the simulation. Each action writes its
// outcome, the effect or the server's error text, beside the control.
function report(output, result, success) {
  output.classList.toggle('error', !result.ok);
  output.textContent = result.ok ? success(result.reply) : result.error;
}

function numberOf(input) {
  const text = input.value.trim();
  return text === '' ? NaN : Number(text);
}

export function setUpControls(elements, view) {
  const { pause, rateForm, rateInput, rateOutput, linkForm, linkOutput, varForm, varOutput, varNames,
    serialForm, serialOutput, moteOutput } = elements;
  let rate = view.rate;
  let runningRate = rate > 0 ? rate : 1;

  const showRate = () => {
    pause.textContent = rate === 0 ? 'Resume' : 'Pause';
    pause.setAttribute('aria-pressed', String(rate === 0));
    view.onRate(rate);
  };
  const setRate = async (value) => {
    const result = await postCommand('/api/rate', { rate: value });
    if (result.ok) {
      rate = value;
      if (value > 0) runningRate = value;
      showRate();
    }
    report(rateOutput, result, () => (value === 0 ? 'paused' : `running at rate ${value}`));
  };
  pause.addEventListener('click', () => setRate(rate === 0 ? runningRate : 0));
  rateForm.addEventListener('submit', (event) => {
    event.preventDefault();
    const value = numberOf(rateInput);
    if (!(value >= 0)) {
      report(rateOutput, { ok: false, error: 'the rate is a number, 0 or more (0 pauses)' });
      return;
    }
    setRate(value);
  });
  showRate();

  linkForm.addEventListener('submit', async (event) => {
    event.preventDefault();
    const [from, to, p] = ['from', 'to', 'p'].map((name) => numberOf(linkForm.elements[name]));
    const result = await postCommand('/api/link', { from, to, p });
    report(linkOutput, result, () => `link ${from} → ${to}: bit-error probability ${p}`);
  });

  varForm.addEventListener('submit', async (event) => {
    event.preventDefault();
    const mote = numberOf(varForm.elements.mote);
    const name = varForm.elements.name.value;
    const result = await postCommand('/api/var', { mote, name });
    report(varOutput, result, (reply) => `mote ${mote} ${name}\n${reply.hex ?? ''}\n${reply.text ?? ''}`.trimEnd());
  });
  for (const name of view.variables) {
    const option = document.createElement('option');
    option.value = name;
    option.textContent = name;
    varNames.appendChild(option);
  }

  serialForm.addEventListener('submit', async (event) => {
    event.preventDefault();
    const mote = numberOf(serialForm.elements.mote);
    const hex = serialForm.elements.hex.value.trim();
    const result = await postCommand('/api/serial', { mote, hex });
    report(serialOutput, result, () => `sent to mote ${mote}'s serial port: ${hex}`);
  });

  // A click on a mote asks the server to switch it; the mote is drawn as
  // pending until the server's power event says it happened.
  return async function toggleMote(mote) {
    const on = view.state.on[mote] !== 1;
    view.state.requestPower(mote, on);
    const result = await postCommand('/api/mote', { mote, on });
    if (!result.ok) view.state.cancelPower(mote);
    report(moteOutput, result, () => `mote ${mote}: switching ${on ? 'on' : 'off'}`);
  };
}
