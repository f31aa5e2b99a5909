// The module's dialogs drawn from the host's dialog model: one small builder per gadget kind. A
// builder makes the gadget's element and the function that shows the gadget's state as the host
// keeps it; every change the person makes goes to the host, which answers with the new state.

// `ui` is what the dialogs need of the page:
//   call(path, body)           a call to the host (the state is fetched again after it)
//   pressButton(plugin, id)    a button pressed (with the host's question for a file, if any)
//   showError(text)            a message in the status bar
//   gadgetState(plugin, id)    the gadget as the last state showed it
//   hookAreaDrag(img, plugin, id)  pointer drags of a user area sent to the host
//   extrasFor(plugin)          what the page adds to a dialog: { beforeChange(id), beforePress(id),
//                              label(id, text), title(id), decorate(id, holder) for controls
//                              of its own beside a number, shownValue(id, state) and
//                              sentValue(id, typed, state) for a number shown in other units }, each optional

function gadgetRow(label, control) {
  const row = document.createElement('div');
  row.className = 'row';
  const l = document.createElement('span');
  l.className = 'label';
  l.textContent = label;
  row.append(l, control);
  return row;
}

function formatNumber(g) {
  if (g.number === undefined) return '';
  if (g.percent) return +(g.number * 100).toFixed(6);
  if (g.integer) return Math.trunc(g.number);
  return +g.number.toPrecision(12);
}

// A group's frame; a drop area is a group that takes objects and tags dragged from the tree.
function group(g, at) {
  const node = document.createElement('fieldset');
  const legend = document.createElement('legend');
  legend.textContent = g.label;
  node.append(legend);
  at.holders.set(g.id, node);
  return { node, update: (s) => { node.classList.toggle('disabled', !s.usable); } };
}

function droparea(g, at) {
  const built = group(g, at);
  const node = built.node;
  node.classList.add('droparea');
  node.dataset.gadget = g.id;
  node.addEventListener('dragover', (e) => { e.preventDefault(); node.classList.add('over'); });
  node.addEventListener('dragleave', () => node.classList.remove('over'));
  node.addEventListener('drop', (e) => {
    e.preventDefault();
    node.classList.remove('over');
    const item = JSON.parse(e.dataTransfer.getData('application/x-vexlor') || 'null');
    if (!item) return;
    at.send(g.id, { action: 'drop', ...item }).then((r) => {
      if (r && !r.accepted) at.ui.showError(`${g.label}: this drop area does not take that`);
    });
  });
  return built;
}

function checkbox(g, at) {
  const control = document.createElement('input');
  control.type = 'checkbox';
  control.addEventListener('change', () => at.send(g.id, { action: 'set', value: control.checked }));
  const label = document.createElement('label');
  label.append(control, ' ' + g.label);
  const node = document.createElement('div');
  node.className = 'row';
  node.append(label);
  return { node, update: (s) => { control.checked = !!s.flag; control.disabled = !s.usable; } };
}

function button(g, at) {
  const control = document.createElement('button');
  control.addEventListener('click', async () => {
    if (!at.extras.beforePress || (await at.extras.beforePress(g.id))) at.ui.pressButton(at.plugin, g.id);
  });
  const node = document.createElement('div');
  node.className = 'row';
  node.append(control);
  return {
    node,
    update: (s) => {
      control.textContent = at.extras.label ? at.extras.label(g.id, s.label) : s.label;
      control.disabled = !s.usable;
    },
  };
}

// Integers, reals and percentages (shown times 100, sent as fractions).
function number(g, at) {
  const control = document.createElement('input');
  control.type = 'number';
  control.step = 'any';
  const unit = document.createElement('span');
  const wrap = document.createElement('span');
  wrap.style.display = 'flex';
  wrap.style.flex = '1';
  wrap.append(control, unit);
  control.addEventListener('change', () => {
    const s = at.ui.gadgetState(at.plugin, g.id);
    let v = Number(control.value);
    if (control.value.trim() === '' || !Number.isFinite(v)) { at.ui.showError(`${g.label}: not a number`); return; }
    if (at.extras.sentValue) v = at.extras.sentValue(g.id, v, s);
    else if (s && s.percent) v /= 100;
    at.send(g.id, { action: 'set', value: v });
  });
  if (at.extras.decorate) at.extras.decorate(g.id, wrap);
  return {
    node: gadgetRow(g.label, wrap),
    update: (s) => {
      const shown = at.extras.shownValue ? at.extras.shownValue(g.id, s) : undefined;
      if (document.activeElement !== control) control.value = shown ?? formatNumber(s);
      unit.textContent = s.percent ? ' %' : '';
      control.disabled = !s.usable;
    },
  };
}

function text(g) {
  const control = document.createElement('span');
  control.className = 'text';
  return { node: gadgetRow(g.label, control), update: (s) => { control.textContent = s.text ?? ''; } };
}

function edittext(g, at) {
  const control = document.createElement('input');
  control.type = 'text';
  control.addEventListener('change', () => at.send(g.id, { action: 'set', value: control.value }));
  return {
    node: gadgetRow(g.label, control),
    update: (s) => {
      if (document.activeElement !== control) control.value = s.text ?? '';
      control.disabled = !s.usable;
    },
  };
}

function color(g, at) {
  const control = document.createElement('input');
  control.type = 'color';
  control.addEventListener('change', () => {
    const h = control.value;
    const rgb = [1, 3, 5].map((i) => (parseInt(h.substr(i, 2), 16) / 255).toFixed(4));
    at.send(g.id, { action: 'set', value: rgb.join(' ') });
  });
  return {
    node: gadgetRow(g.label, control),
    update: (s) => {
      const c = s.colour || [0, 0, 0];
      control.value = '#' + c.slice(0, 3).map((x) => Math.round(Math.min(1, Math.max(0, x)) * 255).toString(16).padStart(2, '0')).join('');
      control.disabled = !s.usable;
    },
  };
}

// Choices and popups: a select of their entries (the entries' ids are the values).
function choice(g, at) {
  const control = document.createElement('select');
  for (const [id, label] of g.choices || []) {
    const o = document.createElement('option');
    o.value = id;
    o.textContent = label;
    control.append(o);
  }
  control.addEventListener('change', () => at.send(g.id, { action: 'set', value: Number(control.value) }));
  return {
    node: gadgetRow(g.label, control),
    update: (s) => { control.value = String(s.chosen); control.disabled = !s.usable; },
  };
}

function radiogroup(g, at) {
  const node = document.createElement('fieldset');
  const legend = document.createElement('legend');
  legend.textContent = g.label;
  node.append(legend);
  const radios = [];
  for (const [id, label] of g.choices || []) {
    const r = document.createElement('input');
    r.type = 'radio';
    r.name = `radio-${at.plugin}-${g.id}`;
    r.value = id;
    r.addEventListener('change', () => at.send(g.id, { action: 'set', value: id }));
    const l = document.createElement('label');
    l.append(r, ' ' + label + ' ');
    node.append(l);
    radios.push(r);
  }
  return { node, update: (s) => radios.forEach((r) => { r.checked = Number(r.value) === s.chosen; r.disabled = !s.usable; }) };
}

// A user area: the host draws it, the page shows the picture and sends the drags.
function userarea(g, at) {
  const control = document.createElement('img');
  control.className = 'area';
  control.alt = g.label;
  control.draggable = false;
  at.ui.hookAreaDrag(control, at.plugin, g.id);
  return {
    node: gadgetRow(g.label, control),
    update: (s) => {
      const src = `/api/area.png?plugin=${at.plugin}&gadget=${g.id}&r=${s.area ? s.area.redraws : 0}`;
      if (!control.dataset.src || control.dataset.src !== src) {
        control.dataset.src = src;
        at.ui.hostImage(control, src);
      }
    },
  };
}

// Gadget kind (as the host names it) -> builder. Entries and radios are built by their gadget.
const builders = {
  group, droparea, checkbox, button, integer: number, real: number, percent: number, text,
  edittext, filename: edittext, color, choice, popup: choice, radiogroup, userarea,
};

// A dialog's element and its update functions: { el, layout, update: Map(gadget -> fn) }.
export function buildDialog(d, ui) {
  const view = { layout: d.layout, update: new Map() };
  const el = document.createElement('section');
  el.className = 'dialog';
  el.dataset.plugin = d.plugin;
  const title = document.createElement('div');
  title.className = 'title';
  title.textContent = d.title;
  const close = document.createElement('button');
  close.textContent = '×';
  close.title = 'Close';
  close.addEventListener('click', () => ui.call('/api/dialog', { plugin: d.plugin, action: 'close' }));
  title.append(close);
  const body = document.createElement('div');
  body.className = 'body';
  el.append(title, body);
  const extras = ui.extrasFor(d.plugin);
  const at = {
    plugin: d.plugin, ui, extras, holders: new Map([[0, body]]),
    send: async (gadget, extra) => {
      if (extras.beforeChange) await extras.beforeChange(gadget);
      return ui.call('/api/dialog', { plugin: d.plugin, gadget, ...extra });
    },
  };
  for (const g of d.gadgets) {
    const parent = at.holders.get(g.parent);
    const build = builders[g.kind];
    if (!parent || !build) continue;
    const { node, update } = build(g, at);
    node.dataset.gadget = g.id;
    const title = extras.title && extras.title(g.id);
    if (title) node.title = title;
    parent.append(node);
    if (update) view.update.set(g.id, update);
  }
  view.el = el;
  return view;
}
