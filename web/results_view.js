import { formatTime } from './format.js';

// The results as a table, newest row first, never longer than the state's
// result ring. Columns: the fixed ones, then one per result field (the
// fields the server announced, and any other a result brings).
export class ResultsView {
  constructor(table, state, fields) {
    this.table = table;
    this.state = state;
    this.fields = [...fields];
    this.head = table.createTHead();
    this.body = table.tBodies[0] || table.createTBody();
    this.drawHead();
  }

  drawHead() {
    const row = document.createElement('tr');
    for (const name of ['time', 'mote', 'timestamp', 'epoch', ...this.fields]) {
      const cell = document.createElement('th');
      cell.textContent = name;
      row.appendChild(cell);
    }
    this.head.replaceChildren(row);
  }

  draw() {
    const fresh = this.state.newResults.toArray();
    if (fresh.length === 0) return;
    this.state.newResults.clear();
    const unknown = new Set();
    for (const result of fresh) {
      for (const name of Object.keys(result.fields || {})) if (!this.fields.includes(name)) unknown.add(name);
    }
    if (unknown.size > 0) {
      this.fields.push(...unknown);
      this.drawHead();
      // Older rows get empty cells for the new columns.
      for (const row of this.body.rows) while (row.cells.length < 4 + this.fields.length) row.insertCell();
    }
    const rows = document.createDocumentFragment();
    for (let i = fresh.length - 1; i >= 0; i--) rows.appendChild(this.row(fresh[i]));
    this.body.insertBefore(rows, this.body.firstChild);
    while (this.body.rows.length > this.state.results.capacity) this.body.deleteRow(-1);
  }

  row(result) {
    const row = document.createElement('tr');
    const show = (value) => (value === null || value === undefined ? '–' : String(value));
    const values = [formatTime(result.time), show(result.mote), show(result.timestamp), show(result.epoch),
      ...this.fields.map((name) => show(result.fields?.[name]))];
    for (const value of values) row.insertCell().textContent = value;
    return row;
  }
}
