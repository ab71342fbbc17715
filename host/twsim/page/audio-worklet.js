// Plays the server's sound in the browser's audio thread: chunks of 16-bit
// stereo go into a queue, and the output takes from it 128 frames at a time.
// The queue is kept near a small lead: after running dry it waits until the
// lead is there again; when it has grown too long (the two clocks drift
// apart, or chunks came in a burst) the oldest sound is left out.
'use strict';

const LEAD = 0.09;      // seconds queued when the sound starts again
const TOO_LONG = 0.25;  // seconds queued that are cut back to the lead

class TwsimPlayer extends AudioWorkletProcessor {
  constructor() {
    super();
    this.capacity = Math.ceil(sampleRate * 2);
    this.left = new Float32Array(this.capacity);
    this.right = new Float32Array(this.capacity);
    this.read = 0;
    this.count = 0;
    this.waiting = true;  // for the lead, before playing
    this.underruns = 0;
    this.trimmed = 0;
    this.sinceReport = 0;
    this.port.onmessage = (event) => {
      if (event.data.stream) event.data.stream.onmessage = (e) => this.add(e.data);
    };
  }

  add(samples) {
    const frames = samples.length / 2;
    for (let f = 0; f < frames; f++) {
      if (this.count === this.capacity) {  // full: the oldest frame goes
        this.read = (this.read + 1) % this.capacity;
        this.count--;
      }
      const at = (this.read + this.count) % this.capacity;
      this.left[at] = samples[2 * f] / 32768;
      this.right[at] = samples[2 * f + 1] / 32768;
      this.count++;
    }
    if (this.count > TOO_LONG * sampleRate) {
      const cut = this.count - Math.round(LEAD * sampleRate);
      this.read = (this.read + cut) % this.capacity;
      this.count -= cut;
      this.trimmed++;
    }
  }

  process(inputs, outputs) {
    const [left, right] = outputs[0];
    const frames = left.length;
    if (this.waiting && this.count >= LEAD * sampleRate) this.waiting = false;
    if (!this.waiting && this.count < frames) {
      this.waiting = true;
      this.underruns++;
    }
    if (!this.waiting) {
      for (let f = 0; f < frames; f++) {
        left[f] = this.left[this.read];
        if (right) right[f] = this.right[this.read];
        this.read = (this.read + 1) % this.capacity;
      }
      this.count -= frames;
    }
    this.sinceReport += frames;
    if (this.sinceReport >= sampleRate / 10) {
      this.sinceReport = 0;
      this.port.postMessage({ queued: this.count / sampleRate, underruns: this.underruns, trimmed: this.trimmed });
    }
    return true;
  }
}

registerProcessor('twsim-player', TwsimPlayer);
