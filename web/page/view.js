// The 3D view: the scene, its camera and orbit controls, and the geometry and materials that show
// the host's meshes (flat surfaces, wireframe, the selection, a baked normal map).
import * as THREE from 'three';
import { OrbitControls } from 'three/addons/controls/OrbitControls.js';
import { polygonEdges } from './mesh.js';
import { standIn } from './standin.js';

const viewEl = document.getElementById('view');
// Smoothed edges cost four samples a pixel: nothing on a graphics card, but most of a frame's time
// where the browser draws in software (no card, a remote desktop), so they are left off there.
function drawsInSoftware() {
  const gl = document.createElement('canvas').getContext('webgl2') || document.createElement('canvas').getContext('webgl');
  if (!gl) return false;
  const info = gl.getExtension('WEBGL_debug_renderer_info');
  const name = String(gl.getParameter(info ? info.UNMASKED_RENDERER_WEBGL : gl.RENDERER));
  gl.getExtension('WEBGL_lose_context')?.loseContext();
  return /swiftshader|llvmpipe|softpipe|software/i.test(name);
}
const software = drawsInSoftware();
export const renderer = new THREE.WebGLRenderer({ antialias: !software, preserveDrawingBuffer: true });
renderer.setPixelRatio(window.devicePixelRatio);
viewEl.appendChild(renderer.domElement);
export const scene = new THREE.Scene();
scene.background = new THREE.Color(0x3a3c40);
export const camera = new THREE.PerspectiveCamera(40, 1, 0.01, 1000);
camera.position.set(3, 2.2, 3);
export const controls = new OrbitControls(camera, renderer.domElement);
controls.enableDamping = false;
controls.addEventListener('start', () => { dragging = true; });
controls.addEventListener('end', () => { dragging = false; settleSoon(); });
controls.addEventListener('change', () => { moving = true; settleSoon(); draw(); });
scene.add(new THREE.HemisphereLight(0xffffff, 0x404048, 1.2));
const sun = new THREE.DirectionalLight(0xffffff, 1.6);
sun.position.set(3, 5, 4);
scene.add(sun);
export const grid = new THREE.GridHelper(10, 20, 0x555555, 0x444444);
scene.add(grid);

export function resize() {
  const w = viewEl.clientWidth, h = viewEl.clientHeight;
  renderer.setSize(w, h);
  camera.aspect = w / Math.max(h, 1);
  camera.updateProjectionMatrix();
  draw();
}
window.addEventListener('resize', resize);

let drawQueued = false;
export function draw() {
  if (drawQueued) return;
  drawQueued = true;
  requestAnimationFrame(() => { drawQueued = false; renderFrame(); });
}
export function renderFrame() {
  fadeWires();
  showStandIns();
  renderer.render(scene, camera);
}

// While the view moves (a drag of the camera, and a moment after the last wheel step), a browser that
// draws in software shows each dense object through its coarse stand-in: a frame of a million
// triangles takes it about half a second, one of the stand-in's forty thousand about a twentieth. The
// full mesh comes back as soon as the view rests. A graphics card draws the full mesh throughout.
const kStandInAbove = 200000;  // triangles of an object above which it gets a stand-in
const kStandInPoints = 20000;  // about twice as many triangles
const kRestMs = 250;
let moving = false, dragging = false, settleTimer = null;
function settleSoon() {
  clearTimeout(settleTimer);
  settleTimer = setTimeout(() => {
    if (dragging) return settleSoon();
    moving = false;
    draw();
  }, kRestMs);
}
// For the tests: frames drawn as while the view moves (true) or rests (false), whatever the
// controls say, until null hands it back to them.
let held = null;
export function holdMoving(on) { held = on; }
function triangleCount(g) { return (g.index ? g.index.count : g.attributes.position.count) / 3; }
function showStandIns() {
  for (const group of scene.children) {
    const entry = group.userData.entry;
    if (!entry || !entry.surface || !entry.mesh) continue;
    const use = (held ?? moving) && software && !entry.normalMapped && triangleCount(entry.surface.geometry) > kStandInAbove;
    if (use && entry.standInFor !== entry.mesh) {
      const coarse = standIn(entry.mesh, kStandInPoints);
      if (entry.standIn) entry.standIn.geometry.dispose();
      const g = new THREE.BufferGeometry();
      if (coarse) {
        g.setAttribute('position', new THREE.BufferAttribute(coarse.points, 3));
        g.setIndex(new THREE.BufferAttribute(coarse.index, 1));
      }
      entry.standIn = entry.standIn || new THREE.Mesh(g, surface);
      entry.standIn.geometry = g;
      entry.standInFor = entry.mesh;
    }
    const shown = use && entry.standIn && entry.standInFor === entry.mesh;
    if (entry.standIn) {
      if (entry.standIn.parent !== group) group.add(entry.standIn);
      // Selection colours are per corner of the full mesh: the stand-in shows the plain surface.
      entry.standIn.material = entry.surface.material.vertexColors ? surface : entry.surface.material;
      entry.standIn.visible = !!shown;
    }
    entry.surface.visible = !shown;
    if (shown && entry.wire) entry.wire.material.visible = false;
  }
}
// Whether some object is drawn through its stand-in now, for the tests.
export function standInsShown() {
  return scene.children.some((g) => g.userData.entry && g.userData.entry.standIn && g.userData.entry.standIn.visible);
}

// A wireframe whose edges come out shorter than a few pixels would cover its surface in black: it
// fades from full strength at six pixels a mean edge to nothing at two (where lines of one pixel would
// cover most of the surface). A wire that would not show at all is not even built until the view
// comes close enough (pendingWires).
const kWireFullPixels = 6, kWireGonePixels = 2;
const wireCentre = new THREE.Vector3();
const pendingWires = new Set();
function edgePixels(meanEdge, object, box) {
  const pixel = 2 * Math.tan(THREE.MathUtils.degToRad(camera.fov) / 2) / Math.max(renderer.domElement.clientHeight, 1);
  box.getCenter(wireCentre).applyMatrix4(object.matrixWorld);
  const far = Math.max(camera.position.distanceTo(wireCentre), camera.near);
  return meanEdge / (far * pixel);
}
function fadeWires() {
  for (const entry of [...pendingWires]) {
    if (entry.group.parent) syncWire(entry, true);
    else pendingWires.delete(entry);  // its object left the scene
  }
  scene.traverse((o) => {
    if (!o.isLineSegments || !o.userData.meanEdge || !o.geometry.boundingBox) return;
    const pixels = edgePixels(o.userData.meanEdge, o, o.geometry.boundingBox);
    o.material.opacity = Math.min(1, Math.max(0, (pixels - kWireGonePixels) / (kWireFullPixels - kWireGonePixels)));
    o.material.transparent = o.material.opacity < 1;
    o.material.visible = o.material.opacity >= 0.02;  // not even sent to be drawn
  });
}

export const surface = new THREE.MeshStandardMaterial({ color: 0xb8bcc4, flatShading: true, roughness: 0.75,
                                                 polygonOffset: true, polygonOffsetFactor: 1, polygonOffsetUnits: 1,
                                                 side: THREE.DoubleSide });
export const surfaceActive = surface.clone();
surfaceActive.color.set(0xd9b98a);
// Each wire has its own copy, since its fading is its own.
const wireMaterial = new THREE.LineBasicMaterial({ color: 0x1c1d20 });

// Selected polygons are shown in the polygon mode: the surface then takes per-corner colours.
export const surfaceSelection = surface.clone();
surfaceSelection.vertexColors = true;
surfaceSelection.color.set(0xffffff);

// The live polygons as flat triangles (a quad as two), straight into typed arrays: a dense mesh has
// millions of triangles, and an object per triangle would cost more than the drawing. No normals:
// the materials shade flat from the positions.
export function buildSurface(mesh) {
  const p = mesh.polygons, q = mesh.points;
  let count = 0;
  for (let i = 0; i < mesh.polygonCount; i++)
    if (p[4 * i] !== p[4 * i + 1]) count += p[4 * i + 2] === p[4 * i + 3] ? 1 : 2;
  if (!mesh.selected) return indexedSurface(mesh, count);
  const pos = new Float32Array(count * 9);
  const colour = mesh.selected ? new Float32Array(count * 9) : null;
  let at = 0;
  const corner = (k) => { pos[at++] = q[3 * k]; pos[at++] = q[3 * k + 1]; pos[at++] = q[3 * k + 2]; };
  const paint = (from, selected) => {
    const c = selected ? [0.95, 0.45, 0.15] : [0.72, 0.74, 0.77];
    for (let k = from; k < at; k += 3) colour.set(c, k);
  };
  for (let i = 0; i < mesh.polygonCount; i++) {
    const a = p[4 * i], b = p[4 * i + 1], c = p[4 * i + 2], d = p[4 * i + 3];
    if (a === b) continue;
    const from = at;
    corner(a); corner(b); corner(c);
    if (c !== d) { corner(a); corner(c); corner(d); }
    if (colour) paint(from, mesh.selected[i]);
  }
  const g = new THREE.BufferGeometry();
  g.setAttribute('position', new THREE.BufferAttribute(pos, 3));
  if (colour) g.setAttribute('color', new THREE.BufferAttribute(colour, 3));
  g.computeBoundingBox();
  g.computeBoundingSphere();
  return g;
}

// Without selection colours the triangles share the mesh's own points: a corner is shaded once per
// point instead of once per triangle corner (a sixth of the vertex work on a closed triangle mesh) and
// the positions are not copied (a third of the memory of a dense surface).
function indexedSurface(mesh, count) {
  const p = mesh.polygons;
  const index = new Uint32Array(count * 3);
  let at = 0;
  for (let i = 0; i < mesh.polygonCount; i++) {
    const a = p[4 * i], b = p[4 * i + 1], c = p[4 * i + 2], d = p[4 * i + 3];
    if (a === b) continue;
    index[at++] = a; index[at++] = b; index[at++] = c;
    if (c !== d) { index[at++] = a; index[at++] = c; index[at++] = d; }
  }
  const g = new THREE.BufferGeometry();
  g.setAttribute('position', new THREE.BufferAttribute(mesh.points, 3));
  g.setIndex(new THREE.BufferAttribute(index, 1));
  g.computeBoundingBox();
  g.computeBoundingSphere();
  return g;
}

export function buildWire(mesh) {
  const edges = polygonEdges(mesh);
  const g = new THREE.BufferGeometry();
  g.setAttribute('position', new THREE.BufferAttribute(mesh.points, 3));
  g.setIndex(new THREE.BufferAttribute(edges, 1));
  g.computeBoundingBox();
  // The mean edge length, which decides how strongly the wire is drawn (fadeWires).
  let sum = 0;
  const q = mesh.points;
  for (let i = 0; i < edges.length; i += 2) {
    const a = 3 * edges[i], b = 3 * edges[i + 1];
    sum += Math.hypot(q[a] - q[b], q[a + 1] - q[b + 1], q[a + 2] - q[b + 2]);
  }
  g.userData.meanEdge = edges.length ? sum / (edges.length / 2) : 0;
  return g;
}

// The mean edge of a mesh from a sample of its live polygons (a few thousand sides), to judge
// whether its wire would show before building it.
function sampledMeanEdge(mesh) {
  const p = mesh.polygons, q = mesh.points;
  const every = Math.max(1, Math.floor(mesh.polygonCount / 1000));
  let sum = 0, n = 0;
  for (let i = 0; i < mesh.polygonCount; i += every) {
    if (p[4 * i] === p[4 * i + 1]) continue;
    const sides = p[4 * i + 2] === p[4 * i + 3] ? 3 : 4;
    for (let k = 0; k < sides; k++) {
      const a = 3 * p[4 * i + k], b = 3 * p[4 * i + ((k + 1) % sides)];
      sum += Math.hypot(q[a] - q[b], q[a + 1] - q[b + 1], q[a + 2] - q[b + 2]);
      n++;
    }
  }
  return n ? sum / n : 0;
}

// The entry's wireframe as `visible` asks: built only when it is to be seen, its mesh changed since it
// was last built and its edges would come out long enough to be drawn (building it costs more than the
// surface on a dense mesh); until then it waits among the pending wires, which each drawing looks at.
export function syncWire(entry, visible) {
  if (!entry.wire) {
    entry.wire = new THREE.LineSegments(new THREE.BufferGeometry(), wireMaterial.clone());
    entry.group.add(entry.wire);
  }
  pendingWires.delete(entry);
  if (visible && entry.mesh && entry.wireFor !== entry.mesh) {
    const box = entry.surface && entry.surface.geometry.boundingBox;
    if (entry.estimateFor !== entry.mesh) {
      entry.meanEdgeEstimate = sampledMeanEdge(entry.mesh);
      entry.estimateFor = entry.mesh;
    }
    if (box && edgePixels(entry.meanEdgeEstimate, entry.surface, box) < kWireGonePixels) {
      pendingWires.add(entry);
    } else {
      entry.wire.geometry.dispose();
      entry.wire.geometry = buildWire(entry.mesh);
      entry.wire.userData.meanEdge = entry.wire.geometry.userData.meanEdge;
      entry.wireFor = entry.mesh;
    }
  }
  entry.wire.visible = visible && entry.wireFor === entry.mesh;
}

// The baked normal map on the low object: the decoded map vector taken from tangent space through
// the blended corner frames (not renormalised before the final step), as the shader does.
// A map baked with its green channel down the texture has y negated before it is used.
export function normalMapMaterial(texture, greenDown) {
  return new THREE.ShaderMaterial({
    uniforms: {
      map: { value: texture }, light: { value: new THREE.Vector3(0.5, 0.8, 0.6).normalize() },
      ySign: { value: greenDown ? -1.0 : 1.0 },
    },
    vertexShader: `
      attribute vec3 tangent3; attribute vec3 bitangent3;
      varying vec3 vN; varying vec3 vT; varying vec3 vB; varying vec2 vUv;
      void main() {
        vN = normalize(mat3(modelMatrix) * normal); vT = mat3(modelMatrix) * tangent3;
        vB = mat3(modelMatrix) * bitangent3; vUv = uv;
        gl_Position = projectionMatrix * modelViewMatrix * vec4(position, 1.0);
      }`,
    fragmentShader: `
      uniform sampler2D map; uniform vec3 light; uniform float ySign;
      varying vec3 vN; varying vec3 vT; varying vec3 vB; varying vec2 vUv;
      void main() {
        vec3 c = texture2D(map, vUv).rgb;
        vec3 n = (c * 255.0 - 127.5) * 0.00784313725490196;
        n.y *= ySign;
        vec3 v = n.x * vT + n.y * vB + n.z * vN;
        float l = length(v);
        v = l > 0.0 ? v / l : vec3(0.0);
        float d = max(dot(v, light), 0.0);
        gl_FragColor = vec4(vec3(0.18 + 0.8 * d), 1.0);
      }`,
  });
}

// Puts every shown object in view; false when there is none yet.
export function frameAll(entries) {
  const box = new THREE.Box3();
  for (const e of entries) if (e.surface) box.expandByObject(e.group);
  if (box.isEmpty()) return false;
  const c = box.getCenter(new THREE.Vector3());
  const r = box.getSize(new THREE.Vector3()).length() * 0.5;
  controls.target.copy(c);
  camera.position.copy(c).add(new THREE.Vector3(1, 0.8, 1.2).normalize().multiplyScalar(r * 2.6));
  camera.near = r / 100; camera.far = r * 100;
  camera.updateProjectionMatrix();
  grid.position.y = box.min.y;
  controls.update();
  return true;
}

// Whether the shown objects sit in the middle of the view, their centre within its middle half and
// in front of the camera (for the tests: a framed view, and one panned away).
export function centred(entries) {
  const box = new THREE.Box3();
  for (const e of entries) if (e.surface && e.group.visible) box.expandByObject(e.group);
  if (box.isEmpty()) return false;
  camera.updateMatrixWorld();
  const v = box.getCenter(new THREE.Vector3()).project(camera);
  return Math.abs(v.x) < 0.5 && Math.abs(v.y) < 0.5 && v.z < 1;
}
