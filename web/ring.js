// A fixed-capacity list that forgets its oldest entries, so nothing the page
// keeps (results, debug lines, chart points) grows without bound however
// long a simulation runs.
export class Ring {
  constructor(capacity) {
    this.capacity = capacity;
    this.items = new Array(capacity);
    this.start = 0;
    this.length = 0;
  }

  push(item) {
    if (this.length < this.capacity) {
      this.items[(this.start + this.length) % this.capacity] = item;
      this.length++;
    } else {
      this.items[this.start] = item;
      this.start = (this.start + 1) % this.capacity;
    }
  }

  // Entries from the oldest kept to the newest.
  toArray() {
    const out = new Array(this.length);
    for (let i = 0; i < this.length; i++) out[i] = this.items[(this.start + i) % this.capacity];
    return out;
  }

  clear() {
    this.start = 0;
    this.length = 0;
  }
}
