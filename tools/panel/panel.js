// The commissioning panel: renders the live feed of /api/events and sends
// the actions as JSON. Values are updated in place, so that a button held
// down (a jog) is never replaced under the pointer.
'use strict';

const LAMPS = [
  ['SERVO_ON', 'servo', ''], ['BUSY', 'busy', 'busy'], ['INPOS', 'in-pos', ''],
  ['HOME', 'home', ''], ['HOME_OK', 'homed', ''], ['+LIMIT', '+limit', 'warn'],
  ['-LIMIT', '-limit', 'warn'], ['ALARM', 'alarm', 'warn'], ['EMG', 'emg', 'warn'],
];
const JOG_RENEW_MS = 100;

let state = null;
let readOnly = false;
let selected = null;  // {board, axis}
let built = '';       // the shape of the boards the page was built for
let plotShownFor = '';

const $ = (id) => document.getElementById(id);

function element(tag, attrs, text) {
  const e = document.createElement(tag);
  for (const [k, v] of Object.entries(attrs || {})) e.setAttribute(k, v);
  if (text !== undefined) e.textContent = text;
  return e;
}

function show(text, refused) {
  const m = $('message');
  m.textContent = text;
  m.className = refused ? 'refused' : 'done';
}

function resultText(call, r) {
  return `${call}: ${r.name} (${r.code})` + (r.text ? `: ${r.text}` : '');
}

async function send(action, body, quiet) {
  let reply;
  try {
    const res = await fetch('/api/' + action, {
      method: 'POST', headers: {'Content-Type': 'application/json'},
      body: JSON.stringify(body), credentials: 'same-origin'});
    reply = await res.json();
  } catch (e) {
    show(`${action}: no answer from the panel (${e})`, true);
    return null;
  }
  if (reply.error !== undefined) show(`${action} refused: ${reply.error}`, true);
  else if (!reply.ok) show('refused ' + resultText(reply.call, reply.result), true);
  else if (!quiet) show(resultText(reply.call, reply.result), false);
  return reply;
}

function build(boards) {
  const root = $('boards');
  root.textContent = '';
  const stops = $('stop-alls');
  stops.textContent = '';
  for (const b of boards) {
    const stop = element('button', {id: `stop-all-${b.board}`, class: 'stop-all'},
      `STOP ALL board ${b.board}`);
    stop.addEventListener('click', () => send('stop-all', {board: b.board}));
    stops.append(stop);

    const box = element('div', {class: 'board', id: `board-${b.board}`});
    box.append(element('h2', {}, `Board ${b.board}`));
    const table = element('table', {class: 'axes'});
    const head = element('tr');
    for (const h of ['axis', 'command', 'actual', 'speed', 'status', 'last stop']) {
      head.append(element('th', {}, h));
    }
    table.append(head);
    for (const a of b.axes) {
      const row = element('tr', {id: `axis-${b.board}-${a.axis}`});
      row.append(element('td', {}, String(a.axis)));
      for (const f of ['command', 'actual', 'speed']) row.append(element('td', {'data-field': f}));
      const flags = element('td', {class: 'flags'});
      for (const [flag, label, kind] of LAMPS) {
        flags.append(element('span', {class: `lamp ${kind}`, 'data-flag': flag}, label));
      }
      row.append(flags);
      row.append(element('td', {class: 'cause', 'data-field': 'cause'}));
      row.addEventListener('click', () => select(b.board, a.axis));
      table.append(row);
    }
    box.append(table);
    box.append(element('h3', {}, 'Inputs'));
    const di = element('div', {class: 'io'});
    b.inputs.forEach((_, w) => {
      for (let c = 0; c < 16; ++c) {
        const ch = w * 16 + c;
        di.append(element('span', {class: 'lamp', id: `di-${b.board}-${ch}`}, `DI${ch}`));
      }
    });
    box.append(di);
    box.append(element('h3', {}, 'Outputs (click to switch)'));
    const dout = element('div', {class: 'io'});
    b.outputs.forEach((_, w) => {
      for (let c = 0; c < 16; ++c) {
        const ch = w * 16 + c;
        const o = element('button', {class: 'action', id: `do-${b.board}-${ch}`}, `DO${ch}`);
        o.addEventListener('click', () => {
          const on = o.classList.contains('on');
          send('output', {board: b.board, channel: ch, value: on ? 0 : 1});
        });
        dout.append(o);
      }
    });
    box.append(dout);
    const save = element('button', {class: 'action', id: `param-save-${b.board}`},
      'Save settings to the parameter file');
    save.addEventListener('click', async () => {
      const r = await send('param-save', {board: b.board}, true);
      if (r && r.ok) show(`board ${b.board}: settings saved to ${r.file}`, false);
    });
    box.append(save);
    root.append(box);
  }
  if (!selected && boards.length && boards[0].axes.length) select(0, 0);
}

function render(s) {
  state = s;
  const shape = JSON.stringify(s.boards.map((b) => [b.axes.length, b.inputs.length,
    b.outputs.length]));
  if (shape !== built) {
    built = shape;
    build(s.boards);
  }
  for (const b of s.boards) {
    for (const a of b.axes) {
      const row = $(`axis-${b.board}-${a.axis}`);
      if (!row) continue;
      for (const f of ['command', 'actual', 'speed']) {
        row.querySelector(`[data-field="${f}"]`).textContent = String(a[f]);
      }
      for (const lamp of row.querySelectorAll('[data-flag]')) {
        lamp.classList.toggle('on', a.flags.includes(lamp.dataset.flag));
      }
      const cause = a.result.code !== 0 ? a.result : a.stop_cause;
      row.querySelector('[data-field="cause"]').textContent =
        cause.code === 0 ? 'none' : `${cause.name} (${cause.code}) ${cause.text}`;
      row.classList.toggle('selected', !!selected && selected.board === b.board &&
        selected.axis === a.axis);
    }
    b.inputs.forEach((word, w) => {
      for (let c = 0; c < 16; ++c) {
        const lamp = $(`di-${b.board}-${w * 16 + c}`);
        if (lamp) lamp.classList.toggle('on', ((word >> c) & 1) === 1);
      }
    });
    b.outputs.forEach((word, w) => {
      for (let c = 0; c < 16; ++c) {
        const o = $(`do-${b.board}-${w * 16 + c}`);
        if (o) o.classList.toggle('on', ((word >> c) & 1) === 1);
      }
    });
  }
  refreshPlot();
}

function selectedAxis() {
  if (!state || !selected) return null;
  const b = state.boards.find((x) => x.board === selected.board);
  return b ? b.axes.find((x) => x.axis === selected.axis) : null;
}

// The plot follows the selected axis's move, a few times a second.
let plotTimer = null;
function refreshPlot(force) {
  const a = selectedAxis();
  if (!a) return;
  const busy = a.flags.includes('BUSY');
  const key = `${a.board}/${a.axis}/${busy}`;
  if (!force && !busy && key === plotShownFor) return;
  if (plotTimer && !force) return;
  plotShownFor = key;
  plotTimer = setTimeout(() => { plotTimer = null; }, 250);
  const img = $('plot');
  img.onload = () => { img.hidden = false; $('no-plot').hidden = true; };
  img.onerror = () => { img.hidden = true; $('no-plot').hidden = false; };
  img.src = `/api/scope.svg?board=${a.board}&axis=${a.axis}&n=${Date.now()}`;
}

async function readSpeeds() {
  if (!selected) return;
  const res = await fetch(`/api/speed?board=${selected.board}&axis=${selected.axis}`);
  const s = await res.json();
  if (!s.ok) {
    show('refused ' + resultText(s.call, s.result), true);
    return;
  }
  $('speed-pos').value = s.pos.join(',');
  $('speed-jog').value = s.jog.join(',');
  $('speed-home').value = s.home.join(',');
  $('speed-shape').value = s.shape === 's-curve' ? '1' : '0';
}

function select(board, axis) {
  selected = {board, axis};
  $('axis-panel').hidden = false;
  $('axis-title').textContent = `Board ${board} axis ${axis}`;
  plotShownFor = '';
  if (state) render(state);
  refreshPlot(true);
  readSpeeds();
}

const target = () => ({board: selected.board, axis: selected.axis});

// Hold-to-run: the jog is renewed while the button is held; the server stops
// the axis when the renewals stop, whatever the reason.
function holdToRun(button, direction) {
  let timer = null;
  const release = () => {
    if (timer === null) return;
    clearInterval(timer);
    timer = null;
    button.classList.remove('held');
    send('stop', target(), true);
  };
  button.addEventListener('pointerdown', async (e) => {
    if (timer !== null || button.disabled) return;
    button.setPointerCapture(e.pointerId);
    button.classList.add('held');
    const t = target();
    timer = setInterval(async () => {
      try {
        const res = await fetch('/api/jog', {
          method: 'POST', headers: {'Content-Type': 'application/json'},
          body: JSON.stringify(Object.assign({direction, renew: true}, t))});
        if (res.status === 409) release();  // ended at a limit, or stopped elsewhere
      } catch (e) {
        // The server stops the axis when renewals stop coming.
      }
    }, JOG_RENEW_MS);
    const r = await send('jog', Object.assign({direction}, t), true);
    if (!r || !r.ok) release();
  });
  for (const ev of ['pointerup', 'pointercancel', 'lostpointercapture']) {
    button.addEventListener(ev, release);
  }
  window.addEventListener('blur', release);
}

function wire() {
  $('servo-on').addEventListener('click', () => send('servo', Object.assign({on: 1}, target())));
  $('servo-off').addEventListener('click', () => send('servo', Object.assign({on: 0}, target())));
  $('alarm-reset').addEventListener('click', () => send('alarm-reset', target()));
  $('home').addEventListener('click', () => send('home', target()));
  $('stop-decel').addEventListener('click', () => send('stop', target()));
  $('stop-sudden').addEventListener('click', () =>
    send('stop', Object.assign({sudden: true}, target())));
  for (const [id, absolute] of [['move-rel', false], ['move-abs', true]]) {
    $(id).addEventListener('click', () => {
      const value = Number($('move-value').value);
      if (!Number.isInteger(value)) return show('a move takes a whole number of pulses', true);
      send('move', Object.assign({value, absolute}, target()));
    });
  }
  holdToRun($('jog-minus'), 0);
  holdToRun($('jog-plus'), 1);
  $('speed-read').addEventListener('click', readSpeeds);
  for (const button of document.querySelectorAll('.speed-set')) {
    button.addEventListener('click', async () => {
      const kind = button.dataset.kind;
      const body = Object.assign({kind}, target());
      if (kind === 'shape') {
        body.shape = Number($('speed-shape').value);
      } else {
        body.values = $(`speed-${kind}`).value.split(',').map((v) => Number(v.trim()));
      }
      const r = await send('speed', body);
      if (r && r.ok) readSpeeds();
    });
  }
}

function readOnlyMode(on) {
  readOnly = on;
  $('mode').textContent = on ? 'read-only' : '';
  for (const b of document.querySelectorAll('button.action, button.stop-all')) b.disabled = on;
}

function connect() {
  const feed = new EventSource('/api/events');
  feed.onopen = () => $('link').classList.add('on');
  feed.onmessage = (e) => {
    render(JSON.parse(e.data));
    readOnlyMode(readOnly);
  };
  feed.onerror = () => $('link').classList.remove('on');
}

async function start() {
  wire();
  const res = await fetch('/api/state');
  const s = await res.json();
  if (s.error) return show(s.error, true);
  readOnly = s.read_only;
  render(s);
  readOnlyMode(readOnly);
  connect();
}

document.addEventListener('DOMContentLoaded', start);
