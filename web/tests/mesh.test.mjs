// The page's mesh handling without a browser: the host's binary mesh, the polygon edges the
// wireframe draws, and the baker's tangent frames, against hand-worked values.
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { decodeMesh, meshFromAnswer, polygonEdges, triangles, usedPointCount, cornerFrame, normalMapGeometry } from '../page/mesh.js';
import { standIn } from '../page/standin.js';

// The host's binary layout, written out by hand: "VXM1", counts, flags, points, polygons, UVs.
function meshBytes(points, polygons, uv) {
  const n = 16 + points.length * 4 + polygons.length * 4 + (uv ? uv.length * 4 : 0);
  const buf = new ArrayBuffer(n);
  const v = new DataView(buf);
  'VXM1'.split('').forEach((c, i) => v.setUint8(i, c.charCodeAt(0)));
  v.setUint32(4, points.length / 3, true);
  v.setUint32(8, polygons.length / 4, true);
  v.setUint32(12, uv ? 1 : 0, true);
  let at = 16;
  for (const x of points) { v.setFloat32(at, x, true); at += 4; }
  for (const x of polygons) { v.setInt32(at, x, true); at += 4; }
  if (uv) for (const x of uv) { v.setFloat32(at, x, true); at += 4; }
  return buf;
}

// Two quads side by side (sharing the edge 1-2), a triangle on top, and a retired polygon.
const points = [0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0, 2, 0, 0, 2, 1, 0, 1, 2, 0];
const polygons = [0, 1, 2, 3, 1, 4, 5, 2, 3, 2, 6, 6, 0, 0, 0, 0];

test('the binary mesh decodes to the same numbers, and a short one is refused', () => {
  const m = decodeMesh(meshBytes(points, polygons, null));
  assert.equal(m.pointCount, 7);
  assert.equal(m.polygonCount, 4);
  assert.deepEqual([...m.points], points);
  assert.deepEqual([...m.polygons], polygons);
  assert.equal(m.uv, null);
  const cut = meshBytes(points, polygons, null).slice(0, 40);
  assert.throws(() => decodeMesh(cut));
  const wrong = meshBytes(points, polygons, null);
  new DataView(wrong).setUint8(0, 'X'.charCodeAt(0));
  assert.throws(() => decodeMesh(wrong), /not a mesh/);
});

test('a polygon selection follows the arrays, padded to whole words', () => {
  const base = meshBytes(points, polygons, null);
  const buf = new Uint8Array(base.byteLength + 4);
  buf.set(new Uint8Array(base));
  new DataView(buf.buffer).setUint32(12, 4, true);
  buf.set([1, 0, 1, 0], base.byteLength);  // four polygons: one word, no padding
  const m = decodeMesh(buf.buffer);
  assert.deepEqual([...m.selected], [1, 0, 1, 0]);
  const short = buf.slice(0, buf.length - 1);
  assert.throws(() => decodeMesh(short.buffer));
});

test('the wireframe draws each polygon side once and no quad diagonal; retired polygons are left out', () => {
  const m = decodeMesh(meshBytes(points, polygons, null));
  const edges = polygonEdges(m);
  const pairs = [];
  for (let i = 0; i < edges.length; i += 2) pairs.push([Math.min(edges[i], edges[i + 1]), Math.max(edges[i], edges[i + 1])].join('-'));
  // 4 + 4 sides of the quads less the shared one, and the triangle's 3 less the one it shares.
  assert.deepEqual(pairs.sort(), ['0-1', '0-3', '1-2', '1-4', '2-3', '2-5', '2-6', '3-6', '4-5'].sort());
  assert.ok(!pairs.includes('0-2') && !pairs.includes('1-3'), 'no diagonal');
  assert.equal(triangles(m).length, 5);  // two per quad, one for the triangle
  assert.equal(usedPointCount(m), 7);
});

const close = (a, b) => a.forEach((x, i) => assert.ok(Math.abs(x - b[i]) < 1e-12, `${a} is not ${b}`));

test('tangent frames: u along +x and v along +y give T = x and B = y', () => {
  const f = cornerFrame([[0, 0, 0], [2, 0, 0], [0, 3, 0]], [[0, 0], [1, 0], [0, 1]], [0, 0, 1]);
  close(f.tangent, [1, 0, 0]);
  close(f.bitangent, [0, 1, 0]);
});

test('tangent frames: a mirrored u turns the tangent around', () => {
  const f = cornerFrame([[0, 0, 0], [2, 0, 0], [0, 3, 0]], [[1, 0], [0, 0], [1, 1]], [0, 0, 1]);
  close(f.tangent, [-1, 0, 0]);
  close(f.bitangent, [0, 1, 0]);
});

test('tangent frames: made orthogonal to a tilted normal only', () => {
  // b = (0, 1, 0) less its part along n = (0, 0.6, 0.8): (0, 0.64, -0.48), normalised (0, 0.8, -0.6).
  const f = cornerFrame([[0, 0, 0], [2, 0, 0], [0, 3, 0]], [[0, 0], [1, 0], [0, 1]], [0, 0.6, 0.8]);
  close(f.tangent, [1, 0, 0]);
  close(f.bitangent, [0, 0.8, -0.6]);
});

test('tangent frames: without a UV spread both directions run from the middle to the last vertex', () => {
  const f = cornerFrame([[0, 0, 0], [2, 0, 0], [0, 3, 0]], [[0.5, 0.5], [0.5, 0.5], [0.5, 0.5]], [0, 0, 1]);
  const s = Math.sqrt(13);
  close(f.tangent, [-2 / s, 3 / s, 0]);
  close(f.bitangent, [-2 / s, 3 / s, 0]);
});

test('normal-map geometry: one flat square gives the frame of its UV layout at every corner', () => {
  const uv = [0, 0, 1, 0, 1, 1, 0, 1];  // corners a, b, c, d of the one quad
  const m = decodeMesh(meshBytes([0, 0, 0, 1, 0, 0, 1, 1, 0, 0, 1, 0], [0, 1, 2, 3], uv));
  const g = normalMapGeometry(m);
  assert.equal(g.position.length, 18);  // two triangles
  for (let v = 0; v < 6; v++) {
    close([...g.normal.slice(3 * v, 3 * v + 3)], [0, 0, 1]);
    close([...g.tangent.slice(3 * v, 3 * v + 3)], [1, 0, 0]);
    close([...g.bitangent.slice(3 * v, 3 * v + 3)], [0, 1, 0]);
  }
  // The second triangle is a, c, d: its UVs are those corners'.
  assert.deepEqual([...g.uv.slice(6, 12)], [0, 0, 1, 1, 0, 1]);
});

// The host's answer with a serial: the whole mesh, then the words that changed since it, written by
// hand; a change to a copy the page does not hold is refused rather than applied to the wrong mesh.
test('a mesh answer is the whole mesh or its changes to the copy held', () => {
  const whole = meshBytes(points, polygons, null);
  const answer = (serial, body) => {
    const out = new Uint8Array(8 + body.byteLength);
    const v = new DataView(out.buffer);
    'VXS1'.split('').forEach((c, i) => v.setUint8(i, c.charCodeAt(0)));
    v.setUint32(4, serial, true);
    out.set(new Uint8Array(body), 8);
    return out.buffer;
  };
  const first = meshFromAnswer(answer(5, whole), null);
  assert.equal(first.serial, 5);
  assert.deepEqual(new Uint8Array(first.bytes), new Uint8Array(whole));

  // Point 6 moves to (3, 3, 0) (words 4 + 18 and 4 + 19) and polygon 2 is retired (words 4 + 29..32).
  const runs = [[22, [3, 3].map((x) => new Float32Array([x])[0])], [33, [0, 0, 0, 0]]];
  const words = whole.byteLength / 4;
  const patch = new DataView(new ArrayBuffer(16 + runs.reduce((n, [, w]) => n + 8 + 4 * w.length, 0)));
  'VXP1'.split('').forEach((c, i) => patch.setUint8(i, c.charCodeAt(0)));
  patch.setUint32(4, 5, true);
  patch.setUint32(8, words, true);
  patch.setUint32(12, runs.length, true);
  let at = 16;
  for (const [firstWord, values] of runs) {
    patch.setUint32(at, firstWord, true);
    patch.setUint32(at + 4, values.length, true);
    at += 8;
    for (const x of values) {
      if (Number.isInteger(x) && firstWord >= 4 + 21) patch.setInt32(at, x, true);
      else patch.setFloat32(at, x, true);
      at += 4;
    }
  }
  const second = meshFromAnswer(answer(6, patch.buffer), first);
  assert.equal(second.serial, 6);
  const m = decodeMesh(second.bytes);
  assert.deepEqual([...m.points.subarray(18, 21)], [3, 3, 0]);
  assert.deepEqual([...m.polygons.subarray(8, 12)], [0, 0, 0, 0]);
  assert.deepEqual([...m.polygons.subarray(0, 8)], polygons.slice(0, 8));
  assert.deepEqual([...decodeMesh(first.bytes).polygons.subarray(8, 12)], [3, 2, 6, 6], 'the copy held is left as it was');

  assert.throws(() => meshFromAnswer(answer(7, patch.buffer), { serial: 4, bytes: whole }), /does not hold/);
  assert.throws(() => meshFromAnswer(answer(7, patch.buffer), null), /does not hold/);
});

// A torus of quads in the page's mesh form, `around` x `across`, scaled.
function torusMesh(around, across, scale) {
  const points = new Float32Array(around * across * 3), polygons = new Int32Array(around * across * 4);
  const at = (i, j) => (i % around) * across + (j % across);
  for (let i = 0; i < around; i++)
    for (let j = 0; j < across; j++) {
      const a = (2 * Math.PI * i) / around, b = (2 * Math.PI * j) / across, r = 1 + 0.35 * Math.cos(b);
      points.set([scale * r * Math.cos(a), scale * 0.35 * Math.sin(b), scale * r * Math.sin(a)], 3 * at(i, j));
      polygons.set([at(i, j), at(i + 1, j), at(i + 1, j + 1), at(i, j + 1)], 4 * at(i, j));
    }
  return { pointCount: around * across, polygonCount: around * across, points, polygons };
}

test('a stand-in is a clean coarse mesh that depends on neither the unit nor the density', () => {
  const coarse = (around, across, scale) => standIn(torusMesh(around, across, scale), 2000);
  const base = coarse(400, 100, 1);
  const n = base.points.length / 3, triangles = base.index.length / 3;
  assert.ok(n > 1000 && n < 4000, `${n} points for 2000 asked`);
  for (let t = 0; t < triangles; t++) {
    const c = [...base.index.subarray(3 * t, 3 * t + 3)];
    assert.ok(c.every((k) => k < n) && new Set(c).size === 3, `triangle ${t}: ${c}`);
  }
  // A closed surface stays closed: about two triangles a point (Euler's formula of a torus: exactly).
  assert.ok(Math.abs(triangles - 2 * n) < 0.02 * n, `${triangles} triangles on ${n} points`);
  // Points are means of the torus's points: within its bounds (x and z within 1.35, y within 0.35).
  for (let i = 0; i < n; i++)
    assert.ok(Math.hypot(base.points[3 * i], base.points[3 * i + 2]) <= 1.3501 && Math.abs(base.points[3 * i + 1]) <= 0.3501);
  // In kilometres instead of metres: the same stand-in, scaled.
  const km = coarse(400, 100, 1000);
  assert.equal(km.index.length, base.index.length);
  for (let i = 0; i < base.points.length; i++) assert.ok(Math.abs(km.points[i] / 1000 - base.points[i]) < 1e-4);
  // Four times as dense: about as many points (the cells follow the area, not the points).
  const dense = coarse(800, 200, 1).points.length / 3;
  assert.ok(Math.abs(dense - n) < 0.15 * n, `${dense} points against ${n}`);
  // A mesh with no area has none.
  assert.equal(standIn({ pointCount: 3, polygonCount: 1, points: new Float32Array(9), polygons: Int32Array.of(0, 1, 2, 2) }, 10), null);
});
