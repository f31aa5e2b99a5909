// The studio page: the host's document in a 3D view, its object tree, and the module's dialogs drawn
// from the host's own dialog model. Every change goes to the host; the page redraws from the state
// the host sends back (and from the event stream when another page or a worker changed something).
import * as THREE from 'three';
import { decodeMesh, meshFromAnswer, normalMapGeometry } from './mesh.js';
import { renderer, scene, camera, controls, draw, renderFrame, holdMoving, standInsShown, resize, surface,
         surfaceActive, surfaceSelection, buildSurface, syncWire, normalMapMaterial, frameAll, centred } from './view.js';
import { buildDialog } from './gadgets.js';
import { pickFile } from './picker.js';
import { reductionExtras } from './reduction.js';
import { hookBrush } from './brush.js';
import * as ids from './ids.js';

const BAKE = ids.OMBRIN_ID;
const BAKE_NORMAL_FILE = ids.IDC_BAKE_NORMAL_FILE, BAKE_OCCLUSION_FILE = ids.IDC_BAKE_OCCLUSION_FILE;
const BAKE_DISPLACEMENT_FILE = ids.IDC_BAKE_DISPLACEMENT_FILE;
const BAKE_LOW_NAME = ids.IDC_BAKE_LOW_NAME;
const BAKE_NORMAL_Y = ids.IDC_BAKE_NORMAL_Y, BAKE_NORMAL_Y_DOWN = ids.IDC_BAKE_NORMAL_Y_DOWN;

const $ = (id) => document.getElementById(id);
let state = null;
// The brush's stroke in progress (the host's main thread is inside the drag until the release).
const brush = { stroking: false, refreshAfter: false, sending: false, path: [], last: [0, 0], frame: 0 };
let lastError = '';
// meshAnswers: the last mesh answers (the document's or a stroke's), their sizes and whether each
// was a change ("VXP1"), for the tests and for a look at what a step costs.
const studio = { meshes: new Map(), state: () => state, version: 0, busyCalls: 0, meshAnswers: [] };
window.studio = studio;  // for the browser tests and for a look from the console

// ---- talking to the host -------------------------------------------------------------------------

// The run's token, given to this page with its HTML: every call to the host sends it back (other
// pages cannot read it, so the host refuses their requests).
const TOKEN = document.querySelector('meta[name="vexlor-token"]')?.content || '';
// A call to the host's interface. A host busy with long work (a stroke, a big file) answers 503
// without running the call: it is sent again a moment later, for up to half a minute.
async function api(path, init = {}) {
  const headers = { ...(init.headers || {}), 'X-Vexlor-Token': TOKEN };
  for (let tries = 0; ; tries++) {
    const res = await fetch(path, { ...init, headers });
    if (res.status !== 503 || tries >= 120) return res;
    await new Promise((r) => setTimeout(r, 250));
  }
}
// The address of an interface resource for the page's tags (images) and the event stream, which
// cannot send headers: the token rides along as a parameter.
function apiUrl(path) {
  return path + (path.includes('?') ? '&' : '?') + 'token=' + encodeURIComponent(TOKEN);
}
// An image of the host's: loaded again a few times when the host was busy.
function hostImage(img, path) {
  let tries = 0;
  img.onerror = () => { if (tries++ < 40 && img.dataset.path === path) setTimeout(() => { img.src = apiUrl(path) + `&try=${tries}`; }, 250); };
  img.dataset.path = path;
  img.src = apiUrl(path);
}
studio.api = api;

// The host's progress, asked twice a second: while long work (a prepare, a reduction) holds the
// host's main thread, the page gets no new state, but this is answered off that thread. A line that
// moved since the last look is shown in the status bar; the next state shows what it says then.
let lastProgress = '';
async function followProgress() {
  let wait = 500;
  try {
    const res = await fetch('/api/progress', { headers: { 'X-Vexlor-Token': TOKEN } });
    const p = res.ok ? await res.json() : null;
    if (p && p.line && p.line !== lastProgress) {
      $('status-fill').style.width = p.percent >= 0 ? `${p.percent}%` : '0';
      $('status-text').textContent = p.line;
      studio.progressSeen.push(p.line);
    }
    if (p) lastProgress = p.line;
  } catch {
    wait = 5000;  // the host may have ended (the event stream says so): asked again now and then
  }
  setTimeout(followProgress, wait);
}
studio.progressSeen = [];  // the moving lines shown, for the tests' figures

async function call(path, body) {
  studio.busyCalls++;
  try {
    const res = await api(path, { method: 'POST', headers: { 'Content-Type': 'application/json' },
                                  body: JSON.stringify(body ?? {}) });
    const answer = await res.json().catch(() => ({}));
    if (!res.ok) {
      showError(answer.error || `${path}: ${res.status}`);
      return null;
    }
    lastError = '';
    await refresh();
    return answer;
  } finally {
    studio.busyCalls--;
  }
}

function showError(text) {
  lastError = text;
  renderStatus();
}

let refreshing = null;
let refreshAgain = false;
async function refresh() {
  if (brush.stroking) { brush.refreshAfter = true; return; }
  if (refreshing) { refreshAgain = true; return refreshing; }
  refreshing = (async () => {
    do {
      refreshAgain = false;
      const res = await api('/api/state');
      if (res.ok) {
        const next = await res.json();
        if (!state || next.version !== state.version) {
          state = next;
          await render();
        }
      }
    } while (refreshAgain);
  })();
  try { await refreshing; } finally { refreshing = null; }
}

function listen() {
  const events = new EventSource(apiUrl('/api/events'));
  events.onmessage = (e) => {
    if (!state || Number(e.data) !== state.version) refresh();
  };
  events.onerror = () => { $('status-text').textContent = 'The host does not answer (it may have ended).'; };
}

// ---- the 3D view -----------------------------------------------------------------------------------

// The mesh of `entry` from `path` (the document's or a stroke's), sent as its changes since the copy
// this page holds where the host still has that copy; a change that does not fit is asked for again,
// whole. Null when the host refuses.
async function fetchMesh(entry, path, from) {
  for (let attempt = 0; attempt < 2; attempt++) {
    const res = await api(`${path}${path.includes('?') ? '&' : '?'}base=${entry.held ? entry.held.serial : 0}`);
    if (!res.ok) return null;
    try {
      const answer = await res.arrayBuffer();
      entry.held = meshFromAnswer(answer, entry.held);
      studio.meshAnswers.push({ from, bytes: answer.byteLength, change: new DataView(answer).getUint32(8) === 0x56585031 });
      if (studio.meshAnswers.length > 100) studio.meshAnswers.shift();
      return decodeMesh(entry.held.bytes);
    } catch (e) {
      entry.held = null;
      if (attempt) console.error(e);
    }
  }
  return null;
}
studio.fetchMesh = fetchMesh;

let framed = false;
async function updateMeshes() {
  const wanted = new Set();
  for (const o of state.objects) {
    if (o.type !== ids.OBJECT_POLYGON || o.meshVersion === undefined) continue;
    wanted.add(o.id);
    let entry = studio.meshes.get(o.id);
    if (!entry) {
      entry = { version: -1, group: new THREE.Group(), mesh: null, normalMapped: false };
      entry.group.userData.entry = entry;  // the view's stand-ins find their mesh through it
      scene.add(entry.group);
      studio.meshes.set(o.id, entry);
    }
    entry.group.visible = o.visible;
    if (entry.version !== o.meshVersion && !state.busy) {
      const mesh = await fetchMesh(entry, `/api/mesh?id=${o.id}`, 'document');
      if (!mesh) continue;
      entry.version = o.meshVersion;
      entry.mesh = mesh;
      // The old buffers go with the old mesh (on a dense mesh they are tens of megabytes each).
      if (entry.surface) entry.surface.geometry.dispose();
      if (entry.wire) { entry.wire.geometry.dispose(); entry.wire.material.dispose(); }
      entry.group.clear();
      entry.surface = new THREE.Mesh(buildSurface(mesh), surface);
      entry.wire = null;
      entry.wireFor = null;
      entry.group.add(entry.surface);
      entry.normalMapped = false;
    }
    if (entry.surface && !entry.normalMapped) {
      const showSelection = state.document.mode === ids.MODE_POLYGONS && entry.mesh.selected;
      entry.surface.material = showSelection ? surfaceSelection : o.active ? surfaceActive : surface;
    }
    syncWire(entry, $('wire').checked);
  }
  for (const [id, entry] of studio.meshes)
    if (!wanted.has(id)) { scene.remove(entry.group); studio.meshes.delete(id); }
  if (!framed) framed = frameAll(studio.meshes.values());
  draw();
}

// ---- the tree --------------------------------------------------------------------------------------

function renderTree() {
  const tree = $('tree');
  tree.textContent = '';
  const children = new Map();
  for (const o of state.objects) {
    if (!children.has(o.parent)) children.set(o.parent, []);
    children.get(o.parent).push(o);
  }
  const add = (parentEl, parentId) => {
    for (const o of children.get(parentId) || []) {
      const li = document.createElement('li');
      const row = document.createElement('div');
      row.className = 'item' + (o.active ? ' active' : '');
      row.dataset.id = o.id;
      row.draggable = true;
      row.addEventListener('dragstart', (e) => e.dataTransfer.setData('application/x-vexlor', JSON.stringify({ object: o.id })));
      const eye = document.createElement('input');
      eye.type = 'checkbox';
      eye.checked = o.visible;
      eye.title = 'Visible';
      eye.addEventListener('click', (e) => { e.stopPropagation(); call('/api/visible', { id: o.id, visible: eye.checked }); });
      const name = document.createElement('span');
      name.className = 'name';
      name.textContent = o.name;
      const count = document.createElement('span');
      count.className = 'count';
      if (o.points !== undefined) count.textContent = `${o.points} pts · ${o.polygons} polys`;
      row.append(eye, name, count);
      row.addEventListener('click', (e) => {
        let ids = [o.id];
        if (e.ctrlKey || e.metaKey || e.shiftKey) {
          const now = state.objects.filter((x) => x.active).map((x) => x.id);
          ids = now.includes(o.id) ? now.filter((x) => x !== o.id) : [...now, o.id];
        }
        call('/api/select', { ids });
      });
      li.append(row);
      const sub = document.createElement('ul');
      for (const t of o.tags) {
        const tl = document.createElement('li');
        tl.className = 'tag';
        tl.draggable = true;
        tl.dataset.object = o.id;
        tl.dataset.tag = t.index;
        tl.textContent = `${t.typeName}${t.name ? ' "' + t.name + '"' : ''}`;
        if (t.type === ids.TAG_POLYGON_SELECTION) {
          tl.title = 'Click: select these polygons (polygon mode)';
          tl.addEventListener('click', () => call('/api/select-group', { object: o.id, tag: t.index }));
        }
        tl.addEventListener('dragstart', (e) => e.dataTransfer.setData('application/x-vexlor', JSON.stringify({ object: o.id, tag: t.index })));
        sub.append(tl);
      }
      add(sub, o.id);
      if (sub.children.length) li.append(sub);
      parentEl.append(li);
    }
  };
  add(tree, 0);
}

// ---- dialogs ---------------------------------------------------------------------------------------

const dialogViews = new Map();  // plugin -> { el, layout, update: Map(gadget -> fn) }

function gadgetState(plugin, id) {
  const d = state && state.dialogs.find((x) => x.plugin === plugin);
  return d && d.gadgets.find((g) => g.id === id);
}

// A user area is pressed and dragged: the host runs the area's drag loop over the moves the page
// collected, a few at a time, so that the area (and the objects behind it) follow while the mouse moves.
function hookAreaDrag(img, plugin, gadget) {
  let press = null, sending = false;
  const chunks = [];  // { x, y, moves } not sent yet; each goes to the host as one press and drag
  const flush = async () => {
    if (sending) return;
    sending = true;
    while (chunks.length) {
      const c = chunks.shift();
      const extras = extrasFor(plugin);
      if (extras.beforeChange) await extras.beforeChange(gadget);
      await call('/api/dialog', { plugin, gadget, action: 'drag', x: c.x, y: c.y, moves: c.moves });
    }
    sending = false;
  };
  img.addEventListener('pointerdown', (e) => {
    e.preventDefault();
    img.setPointerCapture(e.pointerId);
    const sx = img.naturalWidth / img.clientWidth || 1, sy = img.naturalHeight / img.clientHeight || 1;
    press = { x: e.offsetX * sx, y: e.offsetY * sy, lastX: e.clientX, lastY: e.clientY };
  });
  img.addEventListener('pointermove', (e) => {
    if (!press) return;
    const dx = e.clientX - press.lastX, dy = e.clientY - press.lastY;
    if (dx === 0 && dy === 0) return;
    press.lastX = e.clientX;
    press.lastY = e.clientY;
    const last = chunks[chunks.length - 1];
    if (last && last.press === press) last.moves.push([dx, dy]);
    else chunks.push({ press, x: press.x, y: press.y, moves: [[dx, dy]] });
    flush();
  });
  const end = () => { press = null; };
  img.addEventListener('pointerup', end);
  img.addEventListener('pointercancel', end);
  studio.areaDragsPending = () => sending || chunks.length > 0;
}

async function pressButton(plugin, gadget, file) {
  const answer = await call('/api/dialog', { plugin, gadget, action: 'press', ...(file ? { file } : {}) });
  if (answer && answer.fileRequest) {
    const chosen = await askFile(answer.fileRequest);
    if (chosen) await pressButton(plugin, gadget, chosen);
  }
}

function askFile(request) {
  return new Promise((resolve) => {
    $('file-title').textContent = request.title || (request.forSave ? 'Save as' : 'Open');
    $('file-input').value = request.proposed || '';
    $('file-dialog').hidden = false;
    $('file-input').focus();
    const done = (v) => { $('file-dialog').hidden = true; $('file-form').onsubmit = null; $('file-cancel').onclick = null; resolve(v); };
    $('file-form').onsubmit = (e) => { e.preventDefault(); done($('file-input').value.trim() || null); };
    $('file-cancel').onclick = () => done(null);
  });
}

const dialogUi = { call, pressButton, showError, gadgetState, hookAreaDrag, hostImage, extrasFor, refresh, state: () => state,
                   render: () => state && renderDialogs() };
const extras = new Map([[ids.VEXLOR_ID, reductionExtras(dialogUi)]]);
function extrasFor(plugin) { return extras.get(plugin) || {}; }

function renderDialogs() {
  const holder = $('dialogs');
  const open = new Set();
  for (const d of state.dialogs) {
    open.add(d.plugin);
    let view = dialogViews.get(d.plugin);
    if (!view || view.layout !== d.layout) {
      if (view) view.el.remove();
      view = buildDialog(d, dialogUi);
      dialogViews.set(d.plugin, view);
      holder.append(view.el);
    }
    for (const g of d.gadgets) {
      const update = view.update.get(g.id);
      if (update) update(g);
    }
  }
  for (const [plugin, view] of dialogViews)
    if (!open.has(plugin)) { view.el.remove(); dialogViews.delete(plugin); }
}

// ---- baked maps ------------------------------------------------------------------------------------

let mapsShownFor = '';
async function renderMaps() {
  const holder = $('maps');
  const bake = state.dialogs.find((d) => d.plugin === BAKE);
  // The panel belongs to the bake's dialog: it goes with it, and the normal map it showed with it.
  if (!bake) {
    if (holder.children.length) {
      holder.textContent = '';
      mapsShownFor = '';
      if (studio.normalMapShown) await showNormalMap(studio.normalMapShown, null);
    }
    return;
  }
  // The bake's own end message says whether it finished; the status line only shows it in words.
  const ending = state.endings && state.endings[BAKE];
  const finished = ending && ending.outcome === ids.BAKE_END_DONE && !state.busy;
  if (!finished) return;
  const files = [BAKE_NORMAL_FILE, BAKE_OCCLUSION_FILE, BAKE_DISPLACEMENT_FILE]
    .map((id) => gadgetState(BAKE, id))
    .filter((g) => g && g.text && g.usable);
  const key = files.map((g) => g.text).join('|') + '|' + state.version;
  if (key.split('|').slice(0, -1).join('|') === mapsShownFor.split('|').slice(0, -1).join('|') && holder.children.length) return;
  mapsShownFor = key;
  holder.textContent = '';
  const h = document.createElement('h2');
  h.textContent = 'Baked maps';
  holder.append(h);
  for (const g of files) {
    const fig = document.createElement('figure');
    const img = document.createElement('img');
    hostImage(img, `/api/map.png?plugin=${BAKE}&gadget=${g.id}&v=${state.version}`);
    img.dataset.gadget = g.id;
    img.className = 'baked-map';
    const cap = document.createElement('figcaption');
    cap.textContent = g.text;
    fig.append(img, cap);
    holder.append(fig);
  }
  const normal = files.find((g) => g.id === BAKE_NORMAL_FILE);
  const lowName = gadgetState(BAKE, BAKE_LOW_NAME);
  if (normal && lowName && lowName.text) {
    const label = document.createElement('label');
    const box = document.createElement('input');
    box.type = 'checkbox';
    box.id = 'show-normal-map';
    box.addEventListener('change', () => showNormalMap(lowName.text, box.checked ? normal.id : null));
    label.append(box, ` Show the normal map on "${lowName.text}"`);
    holder.append(label);
    // The low object with its maps as one glTF file, for other tools.
    const row = document.createElement('div');
    const input = document.createElement('input');
    input.id = 'asset-path';
    input.size = 30;
    input.value = normal.text.replace(/(\.[^./]*)?$/, '.glb');
    const button = document.createElement('button');
    button.id = 'save-asset';
    button.textContent = 'Save as glTF asset';
    button.addEventListener('click', () => saveAsset(lowName.text, input.value.trim(), files));
    row.append(input, button);
    holder.append(row);
  }
}

async function saveAsset(objectName, path, files) {
  const o = state.objects.find((x) => x.name === objectName);
  if (!o) return showError(`${objectName} is no longer in the document`);
  if (!/\.(glb|gltf)$/i.test(path)) return showError('An asset is a .glb or .gltf file');
  const green = gadgetState(BAKE, BAKE_NORMAL_Y);
  const occlusion = files.find((g) => g.id === BAKE_OCCLUSION_FILE);
  const r = await call('/api/save-asset', {
    path, object: o.id, plugin: BAKE, normal: BAKE_NORMAL_FILE, occlusion: occlusion ? occlusion.id : 0,
    greenDown: !!(green && green.chosen === BAKE_NORMAL_Y_DOWN),
  });
  if (r) { $('status-text').textContent = `Saved "${r.object}" with its maps to ${r.saved}`; studio.lastAsset = r; }
}

async function showNormalMap(objectName, gadget) {
  const o = state.objects.find((x) => x.name === objectName);
  const entry = o && studio.meshes.get(o.id);
  if (!entry || !entry.mesh) return;
  if (gadget === null) {
    entry.normalMapped = false;
    studio.normalMapShown = null;
    entry.surface.geometry = buildSurface(entry.mesh);
    entry.surface.material = o.active ? surfaceActive : surface;
    draw();
    return;
  }
  const data = normalMapGeometry(entry.mesh);
  if (!data) { showError(`${objectName} has no UVs`); return; }
  const texture = await new THREE.TextureLoader().loadAsync(apiUrl(`/api/map.png?plugin=${BAKE}&gadget=${gadget}&v=${state.version}`));
  // Image files hold v = 1 in their first row, as every texture reader takes them; flipping the rows
  // on upload puts that row at WebGL's t = 1.
  texture.flipY = true;
  texture.colorSpace = THREE.NoColorSpace;
  const g = new THREE.BufferGeometry();
  g.setAttribute('position', new THREE.BufferAttribute(data.position, 3));
  g.setAttribute('normal', new THREE.BufferAttribute(data.normal, 3));
  g.setAttribute('uv', new THREE.BufferAttribute(data.uv, 2));
  g.setAttribute('tangent3', new THREE.BufferAttribute(data.tangent, 3));
  g.setAttribute('bitangent3', new THREE.BufferAttribute(data.bitangent, 3));
  entry.surface.geometry = g;
  const green = gadgetState(BAKE, BAKE_NORMAL_Y);
  entry.surface.material = normalMapMaterial(texture, green && green.chosen === BAKE_NORMAL_Y_DOWN);
  entry.normalMapped = true;
  studio.normalMapShown = objectName;
  draw();
}

// ---- toolbar, status -------------------------------------------------------------------------------

function renderStatus() {
  if (!state) return;
  const s = state.status;
  $('status-fill').style.width = s.percent >= 0 ? `${s.percent}%` : '0';
  const text = $('status-text');
  const parts = [];
  if (lastError) parts.push(lastError);
  else {
    if (state.opening) {
      const o = state.opening;
      parts.push(`Opening ${o.path}${o.bytes ? ` (${(o.bytes / 1048576).toFixed(1)} MB)` : ''}… ${o.seconds} s`);
    }
    if (s.line) parts.push(s.line);
    if (state.busy) parts.push(state.busy);
    if (state.notice) parts.push(state.notice);
    if (!parts.length) {
      const active = state.objects.filter((o) => o.active && o.points !== undefined);
      parts.push(active.length ? active.map((o) => `${o.name}: ${o.points} points, ${o.polygons} polygons (${o.quads} quads)`).join(' · ')
                               : 'Ready');
    }
  }
  text.textContent = parts.join(' — ');
  $('stop-open').hidden = !state.opening;
  text.classList.toggle('error', !!lastError);
}

function renderToolbar() {
  const doc = state.document;
  $('undo').disabled = doc.undo === 0 || !!state.busy;
  $('redo').disabled = doc.redo === 0 || !!state.busy;
  $('mode').value = String(doc.mode);
  if (!$('save-path').value && doc.path) $('save-path').value = doc.path.replace(/(\.[^./]*)?$/, '_edited.obj');
  $('view-info').textContent = doc.path ? doc.path : '';
  const tool = state.tool || {};
  $('brush').hidden = !tool.brush;
  $('brush').classList.toggle('on', !!tool.active);
  $('view').classList.toggle('brushing', !!tool.active);
  controls.mouseButtons = tool.active ? { LEFT: null, MIDDLE: THREE.MOUSE.ROTATE, RIGHT: THREE.MOUSE.PAN }
                                      : { LEFT: THREE.MOUSE.ROTATE, MIDDLE: THREE.MOUSE.DOLLY, RIGHT: THREE.MOUSE.PAN };
  document.title = (doc.unsaved ? '● ' : '') + 'Vexlor Studio' + (doc.path ? ' — ' + doc.path : '');
  $('view-info').classList.toggle('unsaved', !!doc.unsaved);
  $('view-info').title = doc.unsaved ? 'Unsaved changes' : '';
}

async function render() {
  followOpening();
  renderToolbar();
  renderTree();
  renderDialogs();
  renderStatus();
  await updateMeshes();
  await renderMaps();
  studio.version = state.version;
}

// A file read within a moment is answered with its objects; a longer read goes on in the host (the
// state names it, with a stop). Either way the state then carries the open's outcome (followOpening),
// and a new file is framed.
async function openFile() {
  const path = await pickFile(api, showError);
  if (path) await call('/api/open', { path });
}
let openSeen = null;
function followOpening() {
  const o = state.opened;
  const serial = o ? o.serial : 0;
  if (openSeen === null) openSeen = serial;  // what ended before this page came is not news
  if (serial === openSeen) return;
  openSeen = serial;
  if (o.error) showError(o.error);
  else if (o.loaded) framed = false;
}
$('open').addEventListener('click', openFile);
$('stop-open').addEventListener('click', () => call('/api/open/stop'));
$('frame').addEventListener('click', () => frameAll(studio.meshes.values()));
$('save').addEventListener('click', async () => {
  const path = $('save-path').value.trim();
  if (!path) return showError('Type the path of the file to save to');
  const r = await call('/api/save', { path });
  if (r) { lastError = ''; $('status-text').textContent = `Saved ${r.points} points to ${r.saved}`; studio.lastSave = r; }
});
$('undo').addEventListener('click', () => call('/api/undo'));
$('redo').addEventListener('click', () => call('/api/redo'));
$('mode').addEventListener('change', () => call('/api/mode', { mode: Number($('mode').value) }));
for (const [id, plugin] of [['cmd-reduce', ids.VEXLOR_ID], ['cmd-bake', ids.OMBRIN_ID]])
  $(id).addEventListener('click', () => call('/api/command', { plugin }));
for (const [option, mode] of [['mode-objects', ids.MODE_OBJECT], ['mode-polygons', ids.MODE_POLYGONS], ['mode-points', ids.MODE_POINTS]])
  $(option).value = String(mode);
$('wire').addEventListener('change', () => { for (const e of studio.meshes.values()) if (e.mesh) syncWire(e, $('wire').checked); draw(); });
// Closing the page with unsaved changes asks first (the host also keeps them a while, and in a
// recovery file when it ends).
window.addEventListener('beforeunload', (e) => {
  if (state && state.document.unsaved) {
    e.preventDefault();
    e.returnValue = 'The document has unsaved changes.';
    return e.returnValue;
  }
});
window.addEventListener('keydown', (e) => {
  if (e.target.tagName === 'INPUT' || e.target.tagName === 'SELECT' || !$('picker').hidden || !$('file-dialog').hidden) return;
  if ((e.ctrlKey || e.metaKey) && e.key.toLowerCase() === 'z') {
    e.preventDefault();
    call(e.shiftKey ? '/api/redo' : '/api/undo');
  } else if (!e.ctrlKey && !e.metaKey && !e.altKey && (e.key === 'f' || e.key === 'F' || e.key === 'Home')) {
    frameAll(studio.meshes.values());
  } else if (!e.ctrlKey && !e.metaKey && !e.altKey && (e.key === 'o' || e.key === 'O')) {
    e.preventDefault();
    openFile();
  }
});

// ---- the brush -------------------------------------------------------------------------------------

hookBrush({ api, call, showError, refresh, state: () => state, studio, brush });

studio.brush = brush;
const canvas = renderer.domElement;
studio.centred = () => centred(studio.meshes.values());
// Whether the canvas pixel (CSS pixels) shows an object, for the tests.
studio.hits = (x, y) => {
  const ray = new THREE.Raycaster();
  ray.setFromCamera(new THREE.Vector2((x / canvas.clientWidth) * 2 - 1, 1 - (y / canvas.clientHeight) * 2), camera);
  const surfaces = [...studio.meshes.values()].filter((e) => e.surface && e.group.visible).map((e) => e.surface);
  return ray.intersectObjects(surfaces, false).length > 0;
};
// The mean time of `n` orbit frames in milliseconds: the camera turned a little around its target
// each time and the frame drawn to the end (a pixel read back waits for it), for the tests' figures.
// The mean time of n frames turning round the object, drawn as while the view moves (its stand-ins
// where the browser draws in software) or, with `still`, each at full detail; and whether a stand-in
// was drawn.
studio.orbitFrameMs = (n, still = false) => {
  const gl = renderer.getContext();
  const pixel = new Uint8Array(4);
  holdMoving(!still);
  renderFrame();  // a stand-in is built at the first frame that moves, not at every one
  gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, pixel);
  const standIns = standInsShown();
  const start = performance.now();
  for (let i = 0; i < n; i++) {
    camera.position.sub(controls.target).applyAxisAngle(new THREE.Vector3(0, 1, 0), 0.05).add(controls.target);
    camera.lookAt(controls.target);
    controls.update();
    renderFrame();
    gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, pixel);
  }
  const ms = (performance.now() - start) / n;
  holdMoving(null);
  draw();
  return { ms, standIns };
};
// Whether the view smooths its edges (multisampling; left off where the browser draws in software).
studio.smoothEdges = () => renderer.getContext().getContextAttributes().antialias;
// Where a point of an object shows on the canvas (CSS pixels), for the tests.
studio.screenOfPoint = (id, i) => {
  const entry = studio.meshes.get(id);
  const v = new THREE.Vector3(...entry.mesh.points.subarray(3 * i, 3 * i + 3)).project(camera);
  return [(v.x + 1) / 2 * canvas.clientWidth, (1 - v.y) / 2 * canvas.clientHeight];
};

resize();
listen();
followProgress();
refresh();
