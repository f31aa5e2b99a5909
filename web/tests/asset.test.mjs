// The glTF asset of a bake in a real client: three.js's own GLTFLoader in headless Chromium. The low
// object with its normal map must look markedly more like the high object than the same low object
// without it, and the same map with its rows turned upside down must lose that advantage, so that
// the test tells a map the right way up from one upside down.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import { mkdtempSync, readFileSync, existsSync, writeFileSync } from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { vexlor, launchBrowser, artefacts, root } from './harness.mjs';

const three = path.join(root, 'web/node_modules/three');

// Serves three.js, the asset files and the page that renders them, on loopback only.
function serve(folder) {
  const types = { '.js': 'text/javascript', '.html': 'text/html', '.glb': 'model/gltf-binary' };
  const server = http.createServer((req, res) => {
    const url = decodeURIComponent(new URL(req.url, 'http://x').pathname);
    const file = url.startsWith('/three/') ? path.join(three, url.slice(7)) : path.join(folder, url.slice(1));
    const base = url.startsWith('/three/') ? three : folder;
    if (!path.resolve(file).startsWith(base + path.sep) || !existsSync(file)) { res.writeHead(404); res.end(); return; }
    res.writeHead(200, { 'Content-Type': types[path.extname(file)] || 'application/octet-stream' });
    res.end(readFileSync(file));
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve(server)));
}

const page = `<!doctype html><html><body style="margin:0;background:#000">
<script type="importmap">{"imports": {"three": "/three/build/three.module.js", "three/addons/": "/three/examples/jsm/"}}</script>
<script type="module">
import * as THREE from 'three';
import { GLTFLoader } from 'three/addons/loaders/GLTFLoader.js';

const size = 320;
const renderer = new THREE.WebGLRenderer({ antialias: false, preserveDrawingBuffer: true });
renderer.setSize(size, size);
document.body.append(renderer.domElement);
const loader = new GLTFLoader();
const load = async (name) => {
  const gltf = await loader.loadAsync(name);
  let mesh = null;
  gltf.scene.traverse((o) => { if (o.isMesh && !mesh) mesh = o; });
  gltf.scene.updateMatrixWorld(true);
  return { scene: gltf.scene, mesh };
};

// One light from the camera's upper left, little ambient: the shading shows the normals.
function render(object, camera) {
  const scene = new THREE.Scene();
  scene.background = new THREE.Color(0, 0, 0);
  scene.add(new THREE.AmbientLight(0xffffff, 0.15));
  const sun = new THREE.DirectionalLight(0xffffff, 2.5);
  sun.position.copy(camera.position).add(new THREE.Vector3(-0.6, 0.8, 0.2).multiplyScalar(camera.position.length()));
  scene.add(sun);
  scene.add(object);
  renderer.render(scene, camera);
  scene.remove(object);
  const gl = renderer.getContext();
  const pixels = new Uint8Array(size * size * 4);
  gl.readPixels(0, 0, size, size, gl.RGBA, gl.UNSIGNED_BYTE, pixels);
  return { pixels, png: renderer.domElement.toDataURL('image/png') };
}

// Mean absolute difference of the grey levels where both images show the object.
function difference(a, b) {
  let sum = 0, n = 0;
  for (let i = 0; i < a.length; i += 4) {
    if (a[i + 3] === 0 || (a[i] + a[i + 1] + a[i + 2] === 0) || (b[i] + b[i + 1] + b[i + 2] === 0)) continue;
    sum += Math.abs(a[i] - b[i]);
    n += 1;
  }
  return { mean: sum / Math.max(n, 1), pixels: n };
}

window.compare = async () => {
  const high = await load('/high.glb');
  const low = await load('/asset.glb');
  // The loader's own material, as a client shows the asset (it knows glTF's texture and tangent
  // conventions); the occlusion map is left out so that only the normal map makes a difference.
  const loaded = low.mesh.material;
  const material = (normalMap) => {
    const m = loaded.clone();
    m.aoMap = null;
    m.normalMap = normalMap;
    return m;
  };
  const plainMaterial = new THREE.MeshStandardMaterial({ color: loaded.color, roughness: loaded.roughness, metalness: loaded.metalness });
  const baked = loaded.normalMap;
  // The same map with its rows the other way up, in a texture set up like the loader's.
  const image = baked.image;
  const canvas = document.createElement('canvas');
  canvas.width = image.width;
  canvas.height = image.height;
  const ctx = canvas.getContext('2d');
  ctx.translate(0, image.height);
  ctx.scale(1, -1);
  ctx.drawImage(image, 0, 0);
  const flipped = new THREE.CanvasTexture(canvas);
  for (const k of ['flipY', 'colorSpace', 'wrapS', 'wrapT', 'magFilter', 'minFilter', 'channel']) flipped[k] = baked[k];
  flipped.needsUpdate = true;

  const box = new THREE.Box3().setFromObject(high.scene);
  const centre = box.getCenter(new THREE.Vector3()), radius = box.getSize(new THREE.Vector3()).length() / 2;
  const camera = new THREE.PerspectiveCamera(30, 1, radius * 0.1, radius * 20);
  camera.position.copy(centre).add(new THREE.Vector3(0.35, 0.45, 1).normalize().multiplyScalar(radius * 3.2));
  camera.lookAt(centre);
  camera.updateMatrixWorld(true);

  // The high object carries no normals of its own: smooth ones, as our renderer shades it.
  if (!high.mesh.geometry.attributes.normal) high.mesh.geometry.computeVertexNormals();
  high.mesh.material = plainMaterial;
  const reference = render(high.scene, camera);
  const shots = { high: reference.png };
  const results = {};
  for (const [name, map] of [['mapped', baked], ['plain', null], ['flipped', flipped]]) {
    low.mesh.material = material(map);
    const r = render(low.scene, camera);
    shots[name] = r.png;
    results[name] = difference(reference.pixels, r.pixels);
  }
  return { results, shots, hasNormals: !!low.mesh.geometry.attributes.normal };
};
window.ready = true;
</script></body></html>`;

test('a baked asset shows its normal map the right way up in three.js', { timeout: 600000 }, async () => {
  const dir = mkdtempSync(path.join(os.tmpdir(), 'vexlor-asset-'));
  const run = (args) => execFileSync(vexlor, args, { stdio: ['ignore', 'pipe', 'pipe'] });
  run(['bake', '--high', path.join(root, 'samples/bake_high.obj'), '--low', path.join(root, 'samples/bake_low.obj'),
       '--normal', path.join(dir, 'normal.png'), '--size', '512', '--supersampling', '1',
       '--asset', path.join(dir, 'asset.glb')]);
  run(['convert', path.join(root, 'samples/bake_high.obj'), '-o', path.join(dir, 'high.glb')]);
  writeFileSync(path.join(dir, 'index.html'), page);

  const server = await serve(dir);
  const browser = await launchBrowser();
  try {
    const tab = await browser.newPage({ viewport: { width: 400, height: 400 } });
    const errors = [];
    tab.on('pageerror', (e) => errors.push(e.message));
    await tab.goto(`http://127.0.0.1:${server.address().port}/index.html`);
    await tab.waitForFunction(() => window.ready === true, null, { timeout: 120000 });
    const { results, shots, hasNormals } = await tab.evaluate(() => window.compare());
    assert.deepEqual(errors, []);
    for (const [name, url] of Object.entries(shots))
      writeFileSync(path.join(artefacts, `asset-${name}.png`), Buffer.from(url.split(',')[1], 'base64'));
    console.log('# mean grey difference from the high render:', JSON.stringify(results));
    assert.ok(hasNormals, 'the asset carries the smooth normals its map was baked over');
    assert.ok(results.mapped.pixels > 5000, 'the object covers the image');
    // The map brings the low object markedly closer to the high one...
    assert.ok(results.mapped.mean < 0.7 * results.plain.mean, JSON.stringify(results));
    // ...and upside down it does not.
    assert.ok(results.flipped.mean > 1.3 * results.mapped.mean, JSON.stringify(results));
  } finally {
    await browser.close();
    server.close();
  }
});
