// The page's pieces: a line with its status and forms, a module's card with
// its display drawn as the emulator draws it, and the forms that send the
// same orders as the broker's .../set topics. Everything that came from the
// bridge is set as text, never as markup.

const SVG = 'http://www.w3.org/2000/svg';

// el('p', {class: 'x'}, 'text', child...): strings become text nodes.
export function el(tag, attributes = {}, ...children) {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) {
    if (value === true) node.setAttribute(name, '');
    else if (value !== false && value !== undefined) node.setAttribute(name, String(value));
  }
  for (const child of children) node.append(child);
  return node;
}

function svg(tag, attributes) {
  const node = document.createElementNS(SVG, tag);
  for (const [name, value] of Object.entries(attributes)) node.setAttribute(name, String(value));
  return node;
}

let uniqueId = 0;
function nextId(stem) {
  uniqueId += 1;
  return `${stem}-${uniqueId}`;
}

// One digit is 1 wide and 2 high, segments 0.2 thick, leaning right; each
// digit takes 1.6 of the row, the row keeps a margin of 0.7 around it.
const Thickness = 0.2;
const Gap = 0.03;
const Slant = 0.12;
const Pitch = 1.6;
const Margin = 0.7;
const Lines = {
  a: [[0, 0], [1, 0]], b: [[1, 0], [1, 1]], c: [[1, 1], [1, 2]], d: [[0, 2], [1, 2]],
  e: [[0, 1], [0, 2]], f: [[0, 0], [0, 1]], g: [[0, 1], [1, 1]],
};

function lean([x, y], left) {
  return [left + Margin + x + Slant * (2 - y), Margin + y];
}

// A long hexagon from p to q, pointed at both ends so that segments meet at a mitre.
function segmentPoints(p, q, left) {
  const length = Math.hypot(q[0] - p[0], q[1] - p[1]);
  const u = [(q[0] - p[0]) / length, (q[1] - p[1]) / length];
  const n = [-u[1], u[0]];
  const h = Thickness / 2;
  const at = (base, along, side) => [base[0] + u[0] * along + n[0] * side, base[1] + u[1] * along + n[1] * side];
  return [at(p, Gap, 0), at(p, Gap + h, h), at(q, -Gap - h, h), at(q, -Gap, 0),
    at(q, -Gap - h, -h), at(p, Gap + h, -h)]
    .map((point) => lean(point, left).map((v) => v.toFixed(3)).join(','))
    .join(' ');
}

export function makeDisplay() {
  const width = 2 * Margin + 5 * Pitch + 1.3;
  const picture = svg('svg', {
    viewBox: `0 0 ${width.toFixed(2)} ${(2 + 2 * Margin).toFixed(2)}`, class: 'display', role: 'img',
    'aria-label': 'Display: dark',
  });
  picture.append(svg('rect', { width: '100%', height: '100%', class: 'face' }));
  for (let position = 0; position < 6; position += 1) {
    const left = position * Pitch;
    const digit = svg('g', { class: 'digit' });
    for (const [name, [p, q]] of Object.entries(Lines)) {
      digit.append(svg('polygon', { points: segmentPoints(p, q, left), 'data-segment': name }));
    }
    const [cx, cy] = lean([1.25, 2 - Thickness / 2], left);
    digit.append(svg('circle', { cx: cx.toFixed(3), cy: cy.toFixed(3), r: 0.12, 'data-segment': '.' }));
    picture.append(digit);
  }
  return picture;
}

// payload: {digits: ["", "bc", ...], dim, shows}: each digit's lit segments by name.
export function showDisplay(picture, payload) {
  const digits = Array.isArray(payload.digits) ? payload.digits : [];
  picture.querySelectorAll('.digit').forEach((digit, position) => {
    const lit = String(digits[position] ?? '');
    for (const segment of digit.children) {
      segment.classList.toggle('on', lit.includes(segment.dataset.segment));
    }
  });
  picture.classList.toggle('dim', payload.dim === true);
  const shows = String(payload.shows ?? '');
  picture.setAttribute('aria-label', `Display: ${shows === '' ? 'dark' : shows}${payload.dim ? ', dim' : ''}`);
}

// A labelled field and its button in one small form; submit(values) sends.
function orderForm(legend, fields, button, submit) {
  const form = el('form', { class: 'order' });
  const inputs = fields.map(({ label, ...attributes }) => {
    const id = nextId('field');
    const input = el('input', { id, ...attributes });
    form.append(el('label', { for: id }, label), input);
    return input;
  });
  form.append(el('button', { type: 'submit' }, button));
  form.addEventListener('submit', (event) => {
    event.preventDefault();
    submit(inputs.map((input) => input.value));
  });
  form.setAttribute('aria-label', legend);
  return form;
}

function pointsForm(send) {
  const form = el('form', { class: 'order points', 'aria-label': 'Decimal points' });
  const boxes = [];
  const row = el('div', { class: 'boxes' });
  for (let position = 1; position <= 6; position += 1) {
    const box = el('input', { type: 'checkbox' });
    boxes.push(box);
    row.append(el('label', {}, box, `Point ${position}`));
  }
  form.append(el('span', { class: 'caption' }, 'Decimal points'), row, el('button', { type: 'submit' }, 'Send points'));
  form.addEventListener('submit', (event) => {
    event.preventDefault();
    // The leftmost position is the highest bit.
    send(String(boxes.reduce((value, box, i) => value | (box.checked ? 1 << (5 - i) : 0), 0)));
  });
  return form;
}

const ValueNames = { text: 'Text', dp: 'Points', long: 'Long', short: 'Short', segments: 'Segments', brightness: 'Brightness' };

// A module's card: the display, the values the line took, and its forms.
export function makeCard(line, uid, send) {
  const title = nextId('module');
  const order = (command) => (value) => send(`${line}/${uid}/${command}/set`, value);
  const values = el('dl', { class: 'values' });
  const card = el('section', { class: 'card', 'aria-labelledby': title },
    el('h3', { id: title }, `Module ${uid}`), makeDisplay(), values);
  card.append(
    orderForm('Text', [{ label: 'Text', type: 'text', maxlength: 6, autocomplete: 'off', spellcheck: 'false' }],
      'Send text', ([text]) => order('text')(text)),
    pointsForm(order('dp')),
    orderForm('Long number', [{ label: 'Long number', type: 'text', inputmode: 'numeric', autocomplete: 'off' }],
      'Send long', ([n]) => order('long')(n.trim())),
    orderForm('Short number', [{ label: 'Short number', type: 'text', inputmode: 'numeric', autocomplete: 'off' }],
      'Send short', ([n]) => order('short')(n.trim())),
    orderForm('Segments', [{ label: 'Segments (six hex bytes)', type: 'text', autocomplete: 'off', placeholder: '3F 06 5B 4F 66 6D' }],
      'Send segments', ([hex]) => order('segments')(hex.trim())),
  );
  const toggle = el('button', { type: 'button', class: 'toggle' }, 'Toggle brightness');
  toggle.addEventListener('click', () => order('brightness')('toggle'));
  card.append(toggle);
  card.values = values;
  card.display = card.querySelector('svg');
  return card;
}

export function showValue(card, command, value) {
  let row = card.values.querySelector(`[data-command="${CSS.escape(command)}"]`);
  if (!row) {
    row = el('div', { 'data-command': command }, el('dt', {}, ValueNames[command] ?? command), el('dd'));
    card.values.append(row);
  }
  row.querySelector('dd').textContent = value;
}

// A line: its name, status and modules, with the forms that reach the whole line.
export function makeLine(info, line, send, addCard) {
  const title = nextId('line');
  const status = el('p', { class: 'status offline', role: 'status' }, 'offline');
  const cards = el('div', { class: 'cards' });
  const section = el('section', { class: 'line panel', 'aria-labelledby': title },
    el('div', { class: 'line-head' }, el('h2', { id: title }, `Line ${line.name}`), status),
    el('p', { class: 'port' }, `${line.port} at ${line.settings}`), cards);
  const tools = el('div', { class: 'line-tools' });
  tools.append(orderForm('Add a module', [{ label: 'UID', type: 'number', min: 0, max: 255, required: true }],
    'Show module', ([uid]) => addCard(line.name, Number(uid))));
  if (info.allowRaw) {
    tools.append(orderForm('Raw frame', [{ label: 'Raw frame (hex)', type: 'text', autocomplete: 'off' }],
      'Send raw frame', ([hex]) => send(`${line.name}/raw/set`, hex.trim())));
  }
  if (info.allowConfig) {
    const form = el('form', { class: 'order config', 'aria-label': 'Configuration' });
    const rate = el('select', { id: nextId('rate') });
    for (const r of info.rates ?? []) rate.append(el('option', { value: r }, `${r} baud`));
    const uid = el('input', { id: nextId('uid'), type: 'number', min: 0, max: 255, required: true });
    form.append(el('label', { for: rate.id }, 'Rate'), rate, el('label', { for: uid.id }, 'New UID'), uid,
      el('button', { type: 'submit' }, 'Send configuration'));
    form.addEventListener('submit', (event) => {
      event.preventDefault();
      send(`${line.name}/config/set`, `${rate.value} ${uid.value}`);
    });
    tools.append(form);
  }
  section.append(tools);
  section.status = status;
  section.cards = cards;
  return section;
}
