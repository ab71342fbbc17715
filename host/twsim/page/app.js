// The page of twsim serve: shows what the server's events say, sends what
// the builder does as small JSON requests, and plays the mixer's sound.
'use strict';

const $ = (id) => document.getElementById(id);
const COMMANDS = [
  [0, 'stop', 'stop, back to the start'],
  [1, 'once', 'play once at the configured volume, centred'],
  [2, 'loop', 'play looping at the configured volume, centred'],
  [3, 'set vol', 'set the volume from buffervolwrite'],
  [4, 'read vol', 'write the volume into buffervolread'],
  [5, 'set pan', 'set the pan from bufferpanwrite'],
  [6, 'read pan', 'write the pan into bufferpanread'],
  [7, 'once v/p', 'play once with the volume and pan of the registers'],
  [8, 'loop v/p', 'play looping with the volume and pan of the registers'],
];
const WITH_REGISTERS = new Set([3, 5, 7, 8]);
const MASTER = [[1, 'stop all'], [2, 'silence all'], [3, 'restore all']];

// What the page knows; also read by the browser test.
const page = {
  folder: null,
  state: null,
  gaugeFrames: {},   // gauge index -> pictures received
  stats: { chunks: 0, energetic: 0, silentRun: 0, lastRms: 0, maxRms: 0, clickToArrivalMs: null, clickToSoundMs: null },
};
window.twsim = page;

function setText(element, text) {
  text = String(text);
  if (element.textContent !== text) element.textContent = text;
}
function make(tag, props = {}, ...children) {
  const element = document.createElement(tag);
  for (const [key, value] of Object.entries(props)) {
    if (key === 'class') element.className = value;
    else if (key.startsWith('data-')) element.setAttribute(key, value);
    else element[key] = value;
  }
  for (const child of children) element.append(child);
  return element;
}
function number(value, digits = 0) {
  return value === null || value === undefined ? '–' : Number(value).toFixed(digits).replace(/^-0(\.0+)?$/, '0$1');
}

let toastTimer = 0;
function toast(text, error = false) {
  const element = $('toast');
  setText(element, text);
  element.className = 'shown' + (error ? ' error' : '');
  clearTimeout(toastTimer);
  toastTimer = setTimeout(() => { element.className = ''; }, error ? 6000 : 2500);
}

// Every request says what became of it; a refusal shows its reason.
async function post(path, body, quiet = false) {
  try {
    const response = await fetch(path, {
      method: 'POST',
      headers: { 'Content-Type': 'application/json' },
      body: JSON.stringify(body),
    });
    const answer = await response.json().catch(() => ({ error: `HTTP ${response.status}` }));
    if (!response.ok) {
      toast(answer.error || `HTTP ${response.status}`, true);
      return null;
    }
    if (!quiet && answer.message) toast(answer.message);
    return answer;
  } catch (error) {
    toast(`the server cannot be reached: ${error.message}`, true);
    return null;
  }
}

// ---- The folder: items, sliders, tests, the checker ----------------------

function renderFolder(folder) {
  page.folder = folder;
  setText($('folder-path'), folder.soundFolder || 'no sound folder (start with --sound-folder DIR)');
  setText($('reload-message'), folder.reloadProblem ? `reload: ${folder.reloadProblem}` : '');

  const sliders = $('sliders');
  if (!sliders.childElementCount) {
    folder.sliders.forEach((s, i) => {
      const input = make('input', { type: 'range', min: s.min, max: s.max, step: s.step, value: Math.max(s.min, 0),
                                    id: `slider-${i}`, 'data-variable': s.variable });
      const output = make('output', { id: `slider-${i}-value` }, '–');
      input.addEventListener('input', () => sendSlider(i, input));
      sliders.append(make('label', { class: 'slider', title: s.variable }, s.label, input, output));
    });
    const tests = $('tests');
    folder.tests.forEach((t, i) => {
      const button = make('button', { type: 'button', id: `test-${t.test}`, title: `sets ${t.variable} to 2` }, `Press ${t.label.toLowerCase()}`);
      button.addEventListener('click', () => post('/api/test', { test: t.test }));
      tests.append(make('span', { class: 'test' }, button, make('span', { id: `test-${i}-value`, class: 'dim' }, '')));
    });
  }

  const body = $('items').tBodies[0];
  body.replaceChildren();
  folder.items.forEach((item, i) => {
    const row = make('tr', { id: `item-${i}`, 'data-item': item.name, class: item.slot === null ? 'dropped' : '' });
    const wav = item.wavUrl ? make('a', { href: item.wavUrl, target: '_blank', title: 'the file as it is in the sound folder' }, item.wav) : item.wav;
    const volume = make('input', { type: 'number', min: -10000, max: 0, step: 100, value: item.defaultVolume ?? 0, class: 'reg-volume', title: 'volume for commands 3, 7, 8' });
    const pan = make('input', { type: 'number', min: -10000, max: 10000, step: 100, value: 0, class: 'reg-pan', title: 'pan for commands 5, 7, 8' });
    const commands = make('td', { class: 'commands' });
    for (const [value, label, meaning] of COMMANDS) {
      const button = make('button', { type: 'button', class: 'cmd', title: `${value} ${label}: ${meaning}`, 'data-value': value }, String(value));
      button.addEventListener('click', () => {
        noteClick();
        const request = { item: item.name, value };
        if (WITH_REGISTERS.has(value)) {
          request.volume = Math.trunc(Number(volume.value) || 0);
          request.pan = Math.trunc(Number(pan.value) || 0);
        }
        post('/api/command', request, true);
      });
      commands.append(button);
    }
    const name = make('td', { title: `${item.variable}, line ${item.line} of twsound.cfg` }, item.name);
    if (item.slot === null) name.title += ` — dropped: ${item.dropReason}`;
    row.append(
      name,
      make('td', { title: item.wavProblem || '' }, wav),
      make('td', { class: 'num' }, item.defaultVolume === null ? '–' : String(item.defaultVolume)),
      make('td', { class: 'loaded', title: item.slot === null ? `line ${item.line} of twsound.cfg was dropped: ${item.dropReason}` : item.wavProblem || '' },
        item.slot === null ? 'dropped' : '…'),
      make('td', { class: 'state' }, ''),
      make('td', { class: 'num volume' }, ''),
      make('td', { class: 'num pan' }, ''),
      make('td', { class: 'num value' }, ''),
      make('td', { class: 'last' }, ''),
      commands,
      make('td', {}, volume, ' ', pan));
    body.append(row);
  });
  if (!folder.items.length) body.append(make('tr', {}, make('td', { colSpan: 11, class: 'dim' }, 'no sound items: the folder has no twsound.cfg with a [sounditems] section')));

  setText($('legend'), 'Commands: ' + COMMANDS.map(([value, label]) => `${value} ${label}`).join(' · ') +
    '. Volume and pan go into the registers with 3, 5, 7 and 8.');
  const master = $('master');
  master.replaceChildren();
  if (folder.master) {
    master.append(make('span', { title: folder.master }, `Master controller (${folder.master})`));
    for (const [value, label] of MASTER) {
      const button = make('button', { type: 'button', class: 'cmd', 'data-master': value, title: `${value}: ${label}` }, `${value} ${label}`);
      button.addEventListener('click', () => { noteClick(); post('/api/master', { value }, true); });
      master.append(button);
    }
    master.append(make('span', { id: 'master-value', class: 'dim' }, ''));
  } else {
    master.append(make('span', { class: 'dim' }, 'no master controller: twsound.cfg sets no mastercontroller='));
  }

  const check = folder.check;
  const badge = $('check-badge');
  const problems = check.droppedItems + check.unusableWaves;
  badge.className = 'badge ' + (check.ok ? 'ok' : 'bad');
  setText(badge, !check.configRead ? 'no twsound.cfg read' : check.ok ? 'no problems' :
    `${check.droppedItems} item line(s) dropped, ${check.unusableWaves} WAV file(s) unusable`);
  badge.title = `${problems} problem(s), ${check.ignoredLines} ignored line(s), ${check.notes} note(s)`;
  setText($('check-text'), check.text);
}

// Sliders send the newest value, one request at a time.
const sliderSending = {};
function sendSlider(i, input) {
  setText($(`slider-${i}-value`), number(input.value, input.step < 1 ? 1 : 0) + ' ' + page.folder.sliders[i].unit);
  if (sliderSending[i]) { sliderSending[i].again = true; return; }
  sliderSending[i] = { again: false };
  const send = async () => {
    await post('/api/variable', { name: input.dataset.variable, value: Number(input.value) }, true);
    if (sliderSending[i].again) { sliderSending[i].again = false; return send(); }
    delete sliderSending[i];
  };
  send();
}

// ---- The state, after every update ----------------------------------------

function toggle(id, on, onText, offText) {
  const button = $(id);
  button.classList.toggle('on', on);
  button.setAttribute('aria-pressed', String(on));
  setText(button, on ? onText : offText);
}

// "2 play looped → -1 acknowledged: played": a command and the module's answer.
function describeCommand(command, idle) {
  if (!command) return ['', ''];
  const value = `${command.value} ${command.meaning}`;
  const result = command.result ? `: ${command.result}` : '';
  if (command.outcome === 'acknowledged') return [`${value} → ${idle} acknowledged${result}`, 'outcome-acknowledged'];
  if (command.outcome === 'pending') return [`${value} … waiting`, 'outcome-pending'];
  return [`${value} → ${command.outcome}${result}`, `outcome-${command.outcome}`];
}

function renderState(state) {
  page.state = state;
  setText($('clock'), `${number(state.time, 2)} s`);
  const perf = state.perf;
  setText($('rate'), `${number(perf.rate, 1)} updates/s · CPU ${number(perf.cpu, 0)} %`);
  $('rate').title = `updates a second over the last seconds (the simulator makes 18); an update started at most ${number(perf.lateMs, 1)} ms late; ` +
    `its work takes ${number(perf.workMs, 2)} ms on average; CPU: the whole program ${number(perf.cpu, 1)} %, the simulation ${number(perf.simCpu, 1)} % of one core`;

  const sim = state.sim;
  toggle('pause', sim.paused, 'Paused', 'Pause');
  toggle('simstop', !sim.running, 'Sim stopped', 'Sim stop');
  toggle('soundswitch', !sim.soundOn, 'Sound is off', 'Sound off');
  toggle('slew', sim.slewing, 'Slewing', 'Slew');
  const stateText = [sim.paused && 'paused', !sim.running && 'sim stopped', !sim.soundOn && 'simulator sound off', sim.slewing && 'slewing']
    .filter(Boolean).join(', ');
  setText($('sim-state'), (stateText ? `Sounds are silenced: ${stateText}. ` : 'Running. ') + `View ${sim.view}.`);

  if (page.folder) {
    state.sliders.forEach((value, i) => {
      const input = $(`slider-${i}`);
      if (!input) return;
      const s = page.folder.sliders[i];
      if (document.activeElement !== input && !sliderSending[i] && value !== null) input.value = value;
      setText($(`slider-${i}-value`), (value === null ? '–' : number(value, s.step < 1 ? 1 : 0)) + ' ' + s.unit);
    });
    state.tests.forEach((value, i) => {
      const element = $(`test-${i}-value`);
      if (element) setText(element, `= ${value === null ? 'not set' : number(value, 0)}${value > 1 ? ' (testing)' : ''}`);
    });
  }

  state.items.forEach((item, i) => {
    const row = $(`item-${i}`);
    if (!row) return;
    const stateCell = row.querySelector('.state');
    setText(stateCell, item.status);
    stateCell.className = `state state-${item.status.replace(' ', '-')}`;
    if (row.classList.contains('dropped')) setText(row.querySelector('.loaded'), 'dropped');
    else setText(row.querySelector('.loaded'), item.loaded ? 'yes' : 'no');
    setText(row.querySelector('.volume'), number(item.volume));
    setText(row.querySelector('.pan'), number(item.pan));
    setText(row.querySelector('.value'), number(item.value));
    const [text, cls] = describeCommand(item.command, -1);
    const last = row.querySelector('.last');
    setText(last, text);
    last.className = `last ${cls}`;
    if (item.command) last.title = `written at ${number(item.command.time, 2)} s` + (item.command.resolvedAt !== null ? `, ${item.command.outcome} at ${number(item.command.resolvedAt, 2)} s` : '');
  });
  const masterValue = $('master-value');
  if (masterValue) {
    const [text] = describeCommand(state.master.command, 0);
    setText(masterValue, `= ${number(state.master.value)}${text ? ' · last: ' + text : ''}`);
  }
  const registers = Object.entries(state.registers).filter(([, value]) => value !== null);
  setText($('registers'), registers.length ? 'Registers: ' + registers.map(([key, value]) => `${key} = ${number(value)}`).join(' · ') : '');

  state.gauges.forEach((gauge, i) => {
    const img = $(`gauge-${i}`);
    if (!img || !gauge) return;
    if (img.title !== gauge.tooltip) img.title = gauge.tooltip;
    const needles = gauge.needles.map((n) => n.angle === null ? '–' : `${number(n.angle, 1)}°`).join(' ');
    img.dataset.angles = needles;
  });

  renderVariables(state.variables);
  renderFindings(state.findings);
}

const variableRows = new Map();
function renderVariables(variables) {
  const body = $('variables').tBodies[0];
  for (const v of variables) {
    let row = variableRows.get(v.name);
    if (!row) {
      row = make('tr', {}, make('td', {}, v.name), make('td', { class: 'num' }), make('td'));
      variableRows.set(v.name, row);
      body.append(row);
    }
    row.classList.toggle('now', v.now);
    setText(row.cells[1], v.value === null ? 'not set' : String(Math.round(v.value * 1000) / 1000));
    setText(row.cells[2], v.access);
  }
}

let findingsShown = -1;
function renderFindings(findings) {
  if (findings.count === findingsShown) return;
  findingsShown = findings.count;
  const badge = $('findings-count');
  badge.className = 'badge' + (findings.count ? ' bad' : '');
  setText(badge, findings.count ? String(findings.count) : '');
  $('findings').replaceChildren(...findings.recent.map((f) =>
    make('li', {}, make('span', { class: 'kind' }, `${number(f.time, 2)} s ${f.kind}: `), f.text)));
  if (!findings.count) $('findings').append(make('li', { class: 'dim' }, 'nothing suspicious so far'));
}

function renderGauge(picture) {
  let img = $(`gauge-${picture.index}`);
  if (!img) {
    img = make('img', { id: `gauge-${picture.index}`, alt: picture.name, width: picture.width, height: picture.height });
    const figure = make('figure', { 'data-index': picture.index }, img, make('figcaption', {}, picture.name));
    // In placing order, whatever order the pictures came in.
    const after = [...$('gauges').children].find((f) => Number(f.dataset.index) > picture.index);
    $('gauges').insertBefore(figure, after || null);
  }
  img.src = picture.png;
  page.gaugeFrames[picture.index] = (page.gaugeFrames[picture.index] || 0) + 1;
  img.dataset.frame = page.gaugeFrames[picture.index];
}

function appendLog(lines) {
  const log = $('log');
  const atEnd = log.scrollTop + log.clientHeight >= log.scrollHeight - 4;
  const text = (log.textContent ? log.textContent + '\n' : '') + lines.join('\n');
  // The tail: the last 400 lines.
  const kept = text.split('\n');
  log.textContent = kept.slice(-400).join('\n');
  if (atEnd) log.scrollTop = log.scrollHeight;
}

// ---- Events from the server -----------------------------------------------

function connect() {
  const events = new EventSource('/events');
  events.addEventListener('open', () => { setText($('connection'), 'live'); $('connection').className = 'badge ok'; });
  events.addEventListener('error', () => { setText($('connection'), 'reconnecting'); $('connection').className = 'badge bad'; });
  events.addEventListener('folder', (e) => {
    // A new session (the server was started again) starts the log afresh.
    if (page.state && JSON.parse(e.data).soundFolder !== (page.folder && page.folder.soundFolder)) $('log').textContent = '';
    renderFolder(JSON.parse(e.data));
  });
  events.addEventListener('gauge', (e) => renderGauge(JSON.parse(e.data)));
  events.addEventListener('log', (e) => appendLog(JSON.parse(e.data)));
  events.addEventListener('state', (e) => renderState(JSON.parse(e.data)));
}

// ---- The sound --------------------------------------------------------------
// A worker reads the stream and hands the chunks to a player in the audio
// thread (audio-worker.js, audio-worklet.js); the page hears only how loud
// each chunk was, for the meter and the click-to-sound delay.

const sound = { context: null, gain: null, muted: false, silentBefore: true, clickAt: null, queued: 0, worker: null };

function noteClick() {
  sound.clickAt = performance.now();
  if (sound.context && sound.context.state === 'suspended') sound.context.resume();
}

async function startPlayer(rate) {
  if (sound.context) return;
  const context = new AudioContext({ sampleRate: rate, latencyHint: 'interactive' });
  sound.context = context;
  await context.audioWorklet.addModule('/audio-worklet.js');
  const player = new AudioWorkletNode(context, 'twsim-player', { numberOfInputs: 0, outputChannelCount: [2] });
  sound.gain = context.createGain();
  sound.gain.gain.value = sound.muted ? 0 : 1;
  player.connect(sound.gain).connect(context.destination);
  player.port.onmessage = (event) => {
    const report = event.data;
    sound.queued = report.queued;
    page.stats.queuedMs = Math.round(report.queued * 1000);
    page.stats.underruns = report.underruns;
    page.stats.dropped = report.trimmed;
  };
  const channel = new MessageChannel();
  player.port.postMessage({ stream: channel.port1 }, [channel.port1]);
  sound.worker.postMessage({ player: channel.port2 }, [channel.port2]);
  updateMute();
}

function heardChunk(rms) {
  const stats = page.stats;
  stats.chunks++;
  stats.lastRms = rms;
  stats.maxRms = Math.max(stats.maxRms, rms);
  if (rms > 1e-3) stats.energetic++;
  stats.silentRun = rms === 0 ? stats.silentRun + 1 : 0;
  $('level').value = Math.min(1, rms * 4);
  // From a click to the sound it made: the first chunk with sound after
  // silence, played once what is queued before it has played.
  if (rms > 1e-3 && sound.silentBefore && sound.clickAt !== null) {
    const arrived = performance.now() - sound.clickAt;
    const context = sound.context;
    stats.clickToArrivalMs = Math.round(arrived);
    if (context && context.state === 'running') {
      const output = context.outputLatency || context.baseLatency || 0;
      stats.outputLatencyMs = Math.round(output * 1000);
      stats.clickToSoundMs = Math.round(arrived + (sound.queued + output) * 1000);
      setText($('latency'), `click → sound ${stats.clickToSoundMs} ms`);
    }
    sound.clickAt = null;
  }
  sound.silentBefore = rms <= 1e-3;
}

function streamAudio() {
  sound.worker = new Worker('/audio-worker.js');
  sound.worker.onmessage = (event) => {
    const message = event.data;
    if (message.rate) startPlayer(message.rate).catch((error) => toast(`no sound: ${error.message}`, true));
    else if (message.rms !== undefined) heardChunk(message.rms);
  };
}

function updateMute() {
  const button = $('mute');
  const suspended = sound.context && sound.context.state === 'suspended';
  button.setAttribute('aria-pressed', String(sound.muted));
  button.classList.toggle('on', sound.muted || suspended);
  setText(button, suspended ? 'Click to hear' : sound.muted ? 'Muted' : 'Mute');
  if (sound.gain) sound.gain.gain.value = sound.muted ? 0 : 1;
}

// ---- Controls -----------------------------------------------------------------

function wire() {
  $('mute').addEventListener('click', () => {
    if (sound.context && sound.context.state === 'suspended') sound.context.resume().then(updateMute);
    else { sound.muted = !sound.muted; updateMute(); }
  });
  // Browsers start sound only after a click on the page.
  document.addEventListener('click', () => {
    if (sound.context && sound.context.state === 'suspended') sound.context.resume().then(updateMute);
  });
  setInterval(updateMute, 1000);

  const notice = (body) => { noteClick(); post('/api/notice', body, true); };
  $('pause').addEventListener('click', () => notice({ notice: page.state && page.state.sim.paused ? 'unpause' : 'pause' }));
  $('simstop').addEventListener('click', () => notice({ notice: page.state && !page.state.sim.running ? 'simstart' : 'simstop' }));
  $('soundswitch').addEventListener('click', () => notice({ notice: page.state && !page.state.sim.soundOn ? 'sound_on' : 'sound_off' }));
  $('slew').addEventListener('click', () => post('/api/slew', { on: !(page.state && page.state.sim.slewing) }, true));
  $('send-view').addEventListener('click', () => notice({ notice: 'view', view: Number($('view').value) }));
  $('reload-panel').addEventListener('click', () => post('/api/reload-panel', {}));
  $('reload-folder').addEventListener('click', async () => {
    setText($('reload-message'), 'reloading…');
    const answer = await post('/api/reload-folder', {});
    setText($('reload-message'), answer ? answer.message : 'the reload failed');
  });
  $('set-variable').addEventListener('submit', (e) => {
    e.preventDefault();
    post('/api/variable', { name: $('variable-name').value.trim(), value: Number($('variable-value').value) });
  });
}

wire();
connect();
streamAudio();
