// The page's connection to the bridge: one WebSocket at ./api that mirrors
// the broker's topics. Every message both ways is {"topic": T, "payload": P}.
import { el, makeCard, makeLine, showDisplay, showValue } from './cards.js';

const LogLimit = 300;
const TokenKey = 'quendra-token';

const connection = document.getElementById('connection');
const brokerNote = document.getElementById('broker');
const linesBox = document.getElementById('lines');
const login = document.getElementById('login');
const log = document.getElementById('log');
const pause = document.getElementById('pause');
const held = document.getElementById('held');

let socket = null;
let info = null;
let retryMs = 1000;
const lines = new Map(); // name -> {section, cards: Map uid -> card, state}
const waiting = []; // log entries held while the log is paused

function send(topic, payload) {
  if (socket && socket.readyState === WebSocket.OPEN) {
    socket.send(JSON.stringify({ topic, payload }));
  } else {
    addLog('', 'not connected: the order was not sent', 'error');
  }
}

function clock() {
  const now = new Date();
  const pad = (n, width = 2) => String(n).padStart(width, '0');
  return `${pad(now.getHours())}:${pad(now.getMinutes())}:${pad(now.getSeconds())}.${pad(now.getMilliseconds(), 3)}`;
}

function addLog(line, text, kind = '') {
  const entry = el('li', { class: kind }, el('time', {}, clock()), ' ',
    el('span', { class: 'where' }, line), ' ', el('span', { class: 'what' }, text));
  if (pause.getAttribute('aria-pressed') === 'true') {
    waiting.push(entry);
    held.textContent = `${waiting.length} held`;
    return;
  }
  log.prepend(entry);
  while (log.childElementCount > LogLimit) log.lastElementChild.remove();
}

pause.addEventListener('click', () => {
  const paused = pause.getAttribute('aria-pressed') !== 'true';
  pause.setAttribute('aria-pressed', String(paused));
  if (!paused) {
    for (const entry of waiting.splice(0)) log.prepend(entry);
    while (log.childElementCount > LogLimit) log.lastElementChild.remove();
    held.textContent = '';
  }
});

function card(lineName, uid) {
  const line = lines.get(lineName);
  if (!line || !Number.isInteger(uid) || uid < 0 || uid > 255) return null;
  let found = line.cards.get(uid);
  if (!found) {
    found = makeCard(lineName, uid, send);
    line.cards.set(uid, found);
    // In order of UID.
    const after = [...line.cards.keys()].filter((u) => u > uid).sort((a, b) => a - b)[0];
    line.section.cards.insertBefore(found, after === undefined ? null : line.cards.get(after));
  }
  return found;
}

function showInfo(payload) {
  info = payload;
  if (lines.size > 0) return; // a reconnect: the lines are already there
  for (const line of payload.lines ?? []) {
    const section = makeLine(payload, line, send, (name, uid) => card(name, uid));
    lines.set(line.name, { section, cards: new Map(), state: '' });
    linesBox.append(section);
  }
  brokerNote.hidden = false;
  brokerNote.textContent = payload.broker ? `Broker ${payload.broker}` : 'No broker: this page drives the lines';
}

function showStatus(lineName, detail) {
  const line = lines.get(lineName);
  if (!line) return;
  const online = detail.state === 'online';
  const text = online ? 'online' : `offline${detail.reason ? `: ${detail.reason}` : ''}`;
  line.section.status.textContent = text;
  line.section.status.className = `status ${online ? 'online' : 'offline'}`;
  if (line.state !== text) addLog(lineName, `line ${text}`, online ? 'good' : 'error');
  line.state = text;
}

function describeError(payload) {
  const what = [payload.topic, payload.payload].filter((s) => s).map(String).join(' ');
  return `refused: ${String(payload.reason ?? '')}${what ? ` (${what})` : ''}`;
}

function onMessage(topic, payload) {
  if (topic === 'bridge/info') return showInfo(payload);
  if (topic === 'bridge/broker') {
    brokerNote.textContent = payload.connected ? `Broker ${payload.detail}` : String(payload.detail);
    return addLog('broker', String(payload.connected ? `connected to ${payload.detail}` : payload.detail),
      payload.connected ? 'good' : 'error');
  }
  if (topic === 'bridge/error') return addLog('', describeError(payload), 'error');
  const [lineName, ...rest] = topic.split('/');
  const what = rest.join('/');
  // The detail that follows every status carries its reason too.
  if (what === 'status') return undefined;
  if (what === 'status/detail') return showStatus(lineName, payload);
  if (what === 'error') return addLog(lineName, describeError(payload), 'error');
  if (what === 'frame') return addLog(lineName, `${payload.bytes}  ${payload.meaning}`);
  const uid = Number(rest[0]);
  const target = rest.length === 2 && /^[0-9]+$/.test(rest[0]) ? card(lineName, uid) : null;
  if (!target) return undefined;
  if (rest[1] === 'display') return showDisplay(target.display, payload);
  return showValue(target, rest[1], String(payload));
}

function connect() {
  const url = new URL('api', window.location.href);
  url.protocol = url.protocol === 'https:' ? 'wss:' : 'ws:';
  socket = new WebSocket(url);
  connection.textContent = 'Connecting…';
  socket.addEventListener('open', () => {
    const token = sessionStorage.getItem(TokenKey);
    socket.send(JSON.stringify({ topic: 'bridge/hello', payload: token ? { token } : {} }));
  });
  socket.addEventListener('message', (event) => {
    let message;
    try {
      message = JSON.parse(event.data);
    } catch {
      return;
    }
    if (message.topic === 'bridge/info') {
      connection.textContent = 'Connected';
      connection.className = 'online';
      login.hidden = true;
      retryMs = 1000;
    }
    onMessage(String(message.topic), message.payload ?? '');
  });
  socket.addEventListener('close', (event) => {
    connection.className = 'offline';
    // Without the bridge nothing is known of the lines.
    for (const line of lines.values()) {
      line.section.status.textContent = 'not known: no connection to the bridge';
      line.section.status.className = 'status offline';
      line.state = '';
    }
    if (event.code === 4401) {
      sessionStorage.removeItem(TokenKey);
      connection.textContent = 'Signed out';
      document.getElementById('login-why').textContent = event.reason || 'The bridge asks for its token.';
      login.hidden = false;
      return;
    }
    const why = event.reason ? `: ${event.reason}` : '';
    connection.textContent = `Connection lost${why}; trying again in ${retryMs / 1000} s`;
    setTimeout(connect, retryMs);
    retryMs = Math.min(retryMs * 2, 16000);
  });
}

login.addEventListener('submit', (event) => {
  event.preventDefault();
  sessionStorage.setItem(TokenKey, document.getElementById('token').value.trim());
  document.getElementById('token').value = '';
  connect();
});

connect();
