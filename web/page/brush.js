// The brush: the pointer's strokes over the active object go to the host's tool, and the view
// follows the mesh and the highlight the tool sends back while the button is held.
import * as THREE from 'three';
import { renderer, scene, camera, draw, buildSurface, syncWire } from './view.js';

const $ = (id) => document.getElementById(id);

// `ctx`: { api, call, showError, refresh, state(), studio, brush } of the page; `brush` is the stroke's
// state that the page's refresh looks at (no state is fetched while a stroke runs).
export function hookBrush(ctx) {
  const brush = ctx.brush;
  $('brush').addEventListener('click', () => ctx.call('/api/brush', { on: !(ctx.state().tool && ctx.state().tool.active) }));

  // The page's camera as the host viewport takes it: pixels of the canvas, the eye, its axes and the
  // focal length in pixels.
  function hostCamera() {
    camera.updateMatrixWorld();
    const e = camera.matrixWorld.elements;
    const height = renderer.domElement.clientHeight;
    return {
      position: camera.position.toArray(),
      right: [e[0], e[1], e[2]], up: [e[4], e[5], e[6]], forward: [-e[8], -e[9], -e[10]],
      focal: (height / 2) / Math.tan(THREE.MathUtils.degToRad(camera.fov) / 2),
      width: renderer.domElement.clientWidth, height,
    };
  }

  const highlight = new THREE.Mesh(new THREE.BufferGeometry(),
    new THREE.MeshBasicMaterial({ vertexColors: true, side: THREE.DoubleSide, depthTest: false, transparent: true, opacity: 0.7 }));
  highlight.renderOrder = 10;
  scene.add(highlight);

  function showHighlight(polygons) {
    if (polygons && polygons.length) brush.highlighted = (brush.highlighted || 0) + 1;
    const pos = [], col = [];
    for (const p of polygons || []) {
      const tris = p.length === 4 ? [[0, 1, 2], [0, 2, 3]] : [[0, 1, 2]];
      for (const t of tris) for (const k of t) { pos.push(p[k][0], p[k][1], p[k][2]); col.push(p[k][3], p[k][4], p[k][5]); }
    }
    const g = new THREE.BufferGeometry();
    g.setAttribute('position', new THREE.Float32BufferAttribute(pos, 3));
    g.setAttribute('color', new THREE.Float32BufferAttribute(col, 3));
    highlight.geometry.dispose();
    highlight.geometry = g;
    draw();
  }

  // The host's answer to a part of the stroke: the highlight at once; a changed mesh is fetched on
  // the side, one download at a time and the newest frame only, so that the stroke's next part goes
  // out without waiting for it. The wireframe is left out while the stroke runs and built again
  // after it (on a dense mesh it costs more than the surface).
  function showFrame(answer) {
    if (!answer) return;
    showHighlight(answer.highlight);
    if (answer.frame === brush.frame || !answer.object) return;
    brush.frame = answer.frame;
    brush.meshObject = answer.object;
    if (!brush.meshFetch) brush.meshFetch = showFrames().finally(() => { brush.meshFetch = null; });
  }
  async function showFrames() {
    for (let shown = -1; shown !== brush.frame;) {
      shown = brush.frame;
      const entry = ctx.studio.meshes.get(brush.meshObject);
      if (!entry) return;
      const mesh = await ctx.studio.fetchMesh(entry, '/api/brush/mesh', 'brush');
      if (!mesh) return;
      entry.mesh = mesh;
      entry.surface.geometry.dispose();
      entry.surface.geometry = buildSurface(mesh);
      syncWire(entry, false);
      brush.meshesShown = (brush.meshesShown || 0) + 1;
      draw();
    }
  }

  async function brushPost(path, body) {
    const res = await ctx.api(path, { method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify(body) });
    const answer = await res.json().catch(() => ({}));
    if (!res.ok) { ctx.showError(answer.error || `${path}: ${res.status}`); return null; }
    return answer;
  }

  // The pointer's path goes to the host in steps of about two pixels (a fast hand still brushes every
  // polygon it crosses); while one part is on its way, the next one gathers. A part holds at most
  // BRUSH_PART positions (the host takes at most 500 at a time).
  const BRUSH_STEP = 2, BRUSH_PART = 250;
  function addToPath(x, y) {
    const [lx, ly] = brush.last;
    const n = Math.max(1, Math.ceil(Math.hypot(x - lx, y - ly) / BRUSH_STEP));
    for (let i = 1; i <= n; i++) brush.path.push([lx + ((x - lx) * i) / n, ly + ((y - ly) * i) / n]);
    brush.last = [x, y];
  }
  async function sendMoves() {
    if (brush.sending) return;
    brush.sending = true;
    while (brush.path.length) {
      const path = brush.path.slice(0, BRUSH_PART);
      brush.path = brush.path.slice(BRUSH_PART);
      showFrame(await brushPost('/api/brush/event', { kind: 'move', path }));
    }
    brush.sending = false;
  }

  const canvas = renderer.domElement;
  canvas.addEventListener('pointerdown', async (e) => {
    if (!(ctx.state() && ctx.state().tool && ctx.state().tool.active) || e.button !== 0 || brush.stroking) return;
    canvas.setPointerCapture(e.pointerId);
    brush.stroking = true;
    brush.last = [e.offsetX, e.offsetY];
    brush.path = [];
    brush.pressing = brushPost('/api/brush/press', { x: e.offsetX, y: e.offsetY, camera: hostCamera() });
    const answer = await brush.pressing;
    if (!answer) { brush.stroking = false; return; }
  });
  canvas.addEventListener('pointermove', (e) => {
    if (!brush.stroking) return;
    addToPath(e.offsetX, e.offsetY);
    if (brush.pressing) brush.pressing.then(sendMoves); else sendMoves();
  });
  async function endStroke(kind) {
    if (!brush.stroking) return;
    await brush.pressing;
    await sendMoves();
    while (brush.sending) await new Promise((r) => setTimeout(r, 10));
    showFrame(await brushPost('/api/brush/event', { kind }));
    showHighlight([]);
    while (brush.meshFetch) await brush.meshFetch;
    const entry = ctx.studio.meshes.get(brush.meshObject);
    if (entry && entry.mesh) syncWire(entry, $('wire').checked);
    brush.stroking = false;
    brush.pressing = null;
    await ctx.refresh();
  }
  canvas.addEventListener('pointerup', (e) => { if (e.button === 0) endStroke('release'); });
  canvas.addEventListener('pointercancel', () => endStroke('cancel'));
  window.addEventListener('keydown', (e) => { if (e.key === 'Escape') endStroke('cancel'); });
}
