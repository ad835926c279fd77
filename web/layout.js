// Where each mote is drawn. Positions from a topology file are kept as they
// are (scaled); without them motes go on a square grid in id order, the
// numbering the grid topologies use, so motes with neighbouring ids (and
// neighbours of a grid topology) stay side by side.

// Drawing units between typical neighbours; the SVG scales the whole to fit.
export const SPACING = 60;

function gridPoints(count) {
  const columns = Math.max(1, Math.ceil(Math.sqrt(count)));
  const points = [];
  for (let i = 0; i < count; i++) points.push([i % columns, Math.floor(i / columns)]);
  return points;
}

function usablePositions(count, positions) {
  if (!Array.isArray(positions) || positions.length < count) return null;
  const points = positions.slice(0, count).map((p) => [Number(p?.[0]), Number(p?.[1])]);
  return points.every(([x, y]) => Number.isFinite(x) && Number.isFinite(y)) ? points : null;
}

// The median distance from a mote to its nearest neighbour: one close pair
// in a random placement must not shrink every other mote to a dot.
function typicalSpacing(points) {
  const nearest = points.map(([x, y], i) => {
    let best = Infinity;
    points.forEach(([u, v], j) => {
      if (j !== i) best = Math.min(best, Math.hypot(u - x, v - y));
    });
    return best;
  }).filter((d) => d > 0 && Number.isFinite(d)).sort((a, b) => a - b);
  return nearest.length ? nearest[Math.floor(nearest.length / 2)] : 0;
}

// Returns {points: [[x, y], ...] in drawing units, box: {x, y, width, height},
// fromTopology}. Positions that are missing, short of the mote count, not
// numbers or all on one spot fall back to the grid.
export function layoutMotes(count, positions) {
  let points = usablePositions(count, positions);
  let spacing = points ? typicalSpacing(points) : 0;
  const fromTopology = points !== null && (spacing > 0 || count === 1);
  if (!fromTopology) {
    points = gridPoints(count);
    spacing = 1;
  }
  const scale = SPACING / (spacing || 1);
  const scaled = points.map(([x, y]) => [x * scale, y * scale]);
  const xs = scaled.map((p) => p[0]);
  const ys = scaled.map((p) => p[1]);
  const margin = SPACING * 0.6;
  const low = (values) => (values.length ? Math.min(...values) : 0);
  const high = (values) => (values.length ? Math.max(...values) : 0);
  const left = low(xs) - margin;
  const top = low(ys) - margin;
  return {
    points: scaled,
    box: { x: left, y: top, width: high(xs) + margin - left, height: high(ys) + margin - top },
    fromTopology,
  };
}
