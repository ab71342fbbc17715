// Reads the server's sound stream off the page's own thread, so that a busy
// page (pictures, tables) never holds the sound back: the chunks go straight
// to the player in the audio thread, and only their loudness to the page.
'use strict';

let player = null;  // the port of the audio worklet

async function stream() {
  for (;;) {
    try {
      const response = await fetch('/audio', { cache: 'no-store' });
      if (!response.ok) throw new Error(`HTTP ${response.status}`);
      postMessage({ rate: Number(response.headers.get('X-Audio-Rate')) || 44100 });
      const reader = response.body.getReader();
      let rest = new Uint8Array(0);
      for (;;) {
        const { value, done } = await reader.read();
        if (done) break;
        const bytes = new Uint8Array(rest.length + value.length);
        bytes.set(rest);
        bytes.set(value, rest.length);
        const usable = bytes.length - (bytes.length % 4);  // whole stereo frames
        rest = bytes.slice(usable);
        if (!usable) continue;
        const samples = new Int16Array(bytes.slice(0, usable).buffer);
        let sum = 0;
        for (let i = 0; i < samples.length; i++) sum += samples[i] * samples[i];
        const rms = Math.sqrt(sum / samples.length) / 32768;
        if (player) player.postMessage(samples, [samples.buffer]);
        postMessage({ rms, frames: usable / 4 });
      }
    } catch (error) {
      postMessage({ lost: String(error.message || error) });
    }
    // The server ended or restarts: try again shortly.
    await new Promise((resolve) => setTimeout(resolve, 1000));
  }
}

onmessage = (event) => {
  if (event.data.player) {
    player = event.data.player;
  }
};

stream();
