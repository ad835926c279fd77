// Virtual seconds as "12.345 s", with hours and minutes once they add up.
export function formatTime(seconds) {
  if (!Number.isFinite(seconds)) return '–';
  const whole = Math.floor(seconds);
  const fraction = (seconds - whole).toFixed(3).slice(1);
  if (whole < 60) return `${whole}${fraction} s`;
  const h = Math.floor(whole / 3600);
  const m = Math.floor((whole % 3600) / 60);
  const s = String(whole % 60).padStart(2, '0');
  return h > 0 ? `${h}:${String(m).padStart(2, '0')}:${s}${fraction}` : `${m}:${s}${fraction}`;
}

export function formatSpeed(speed) {
  if (!Number.isFinite(speed)) return '–';
  return `${speed >= 100 ? speed.toFixed(0) : speed.toFixed(2)}× real time`;
}

// One colour per mote, far apart for neighbouring ids.
export function moteColour(mote) {
  return `hsl(${(mote * 137.508) % 360} 70% 42%)`;
}
