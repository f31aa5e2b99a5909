// The binary mesh the host sends (see host/studio/Studio.h) and what the view builds from it:
// flat-shaded triangles, the polygons' own edges (so a quad shows as a quad), and the tangent
// frames the baker uses, for showing a baked normal map.

export function decodeMesh(buffer) {
  const view = new DataView(buffer);
  const magic = String.fromCharCode(view.getUint8(0), view.getUint8(1), view.getUint8(2), view.getUint8(3));
  if (magic !== 'VXM1') throw new Error('not a mesh from this host');
  const pointCount = view.getUint32(4, true);
  const polygonCount = view.getUint32(8, true);
  const flags = view.getUint32(12, true);
  let at = 16;
  const take = (Type, n) => {
    const out = new Type(buffer.slice(at, at + n * 4));
    at += n * 4;
    return out;
  };
  const points = take(Float32Array, pointCount * 3);
  const polygons = take(Int32Array, polygonCount * 4);
  const uv = flags & 1 ? take(Float32Array, polygonCount * 8) : null;
  const normals = flags & 2 ? take(Float32Array, polygonCount * 12) : null;
  let selected = null;
  if (flags & 4) {
    selected = new Uint8Array(buffer.slice(at, at + polygonCount));
    at += Math.ceil(polygonCount / 4) * 4;
  }
  if (at !== buffer.byteLength) throw new Error('the mesh has ' + (buffer.byteLength - at) + ' bytes too many or too few');
  return { pointCount, polygonCount, points, polygons, uv, normals, selected };
}

// The answer to /api/mesh?base=S (host/studio/MeshChanges.h): "VXS1", the serial of this mesh,
// then the whole mesh or the words that changed since the copy `held` (the bytes of the mesh whose
// serial was S). Returns { serial, bytes } with the whole mesh's bytes; throws when a patch does not
// fit the copy held.
export function meshFromAnswer(buffer, held) {
  const view = new DataView(buffer);
  const tag = (at) => String.fromCharCode(view.getUint8(at), view.getUint8(at + 1), view.getUint8(at + 2), view.getUint8(at + 3));
  if (buffer.byteLength < 12 || tag(0) !== 'VXS1') throw new Error('not a mesh answer from this host');
  const serial = view.getUint32(4, true);
  if (tag(8) !== 'VXP1') return { serial, bytes: buffer.slice(8) };
  const words = view.getUint32(16, true);
  if (!held || held.bytes.byteLength !== 4 * words || held.serial !== view.getUint32(12, true))
    throw new Error('a change to a mesh this page does not hold');
  const bytes = held.bytes.slice(0);
  const out = new Uint32Array(bytes);
  const runs = view.getUint32(20, true);
  let at = 24;
  for (let r = 0; r < runs; r++) {
    const first = view.getUint32(at, true), count = view.getUint32(at + 4, true);
    at += 8;
    if (first + count > words || at + 4 * count > buffer.byteLength) throw new Error('a change beyond the mesh');
    out.set(new Uint32Array(buffer, at, count), first);  // a view: a step of a dense mesh has thousands of runs
    at += 4 * count;
  }
  if (at !== buffer.byteLength) throw new Error('the change has bytes left over');
  return { serial, bytes };
}

// A polygon is dead when its first two corners are the same point.
const isDead = (p, i) => p[4 * i] === p[4 * i + 1];

// Triangles of the live polygons: corners as point indices and as polygon corner numbers (0-3).
export function triangles(mesh) {
  const out = [];
  const p = mesh.polygons;
  for (let i = 0; i < mesh.polygonCount; i++) {
    if (isDead(p, i)) continue;
    const c = [p[4 * i], p[4 * i + 1], p[4 * i + 2], p[4 * i + 3]];
    out.push({ polygon: i, points: [c[0], c[1], c[2]], corners: [0, 1, 2] });
    if (c[2] !== c[3]) out.push({ polygon: i, points: [c[0], c[2], c[3]], corners: [0, 2, 3] });
  }
  return out;
}

// Every edge of the live polygons once (a quad gives its four sides, not a diagonal), as pairs of
// point numbers in a Uint32Array. The sides are packed into one number each (lower end first) and
// sorted natively, which takes a fraction of the time a set of millions of keys takes.
export function polygonEdges(mesh) {
  const p = mesh.polygons;
  const keys = new Float64Array(4 * mesh.polygonCount);
  let n = 0;
  for (let i = 0; i < mesh.polygonCount; i++) {
    if (isDead(p, i)) continue;
    const sides = p[4 * i + 2] === p[4 * i + 3] ? 3 : 4;
    for (let k = 0; k < sides; k++) {
      const a = p[4 * i + k], b = p[4 * i + ((k + 1) % sides)];
      keys[n++] = a < b ? a * 4294967296 + b : b * 4294967296 + a;
    }
  }
  const sorted = keys.subarray(0, n).sort();
  const out = new Uint32Array(2 * n);
  let m = 0;
  for (let i = 0; i < n; i++) {
    if (i > 0 && sorted[i] === sorted[i - 1]) continue;
    out[m++] = Math.floor(sorted[i] / 4294967296);
    out[m++] = sorted[i] % 4294967296;
  }
  return out.subarray(0, m);
}

// Points that a live polygon uses.
export function usedPointCount(mesh) {
  const used = new Uint8Array(mesh.pointCount);
  let n = 0;
  const p = mesh.polygons;
  for (let i = 0; i < mesh.polygonCount; i++) {
    if (isDead(p, i)) continue;
    for (let k = 0; k < 4; k++) if (!used[p[4 * i + k]]) { used[p[4 * i + k]] = 1; n++; }
  }
  return n;
}

const sub = (a, b) => [a[0] - b[0], a[1] - b[1], a[2] - b[2]];
const add = (a, b) => [a[0] + b[0], a[1] + b[1], a[2] + b[2]];
const scale = (a, s) => [a[0] * s, a[1] * s, a[2] * s];
const dot = (a, b) => a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
const cross = (a, b) => [a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]];
const length = (a) => Math.sqrt(dot(a, a));

// The baker's tangent frame at one corner of a triangle: positions P[3], texture coordinates
// UV[3] ([u, v] each) and that corner's normal n (used as given). The tangent follows growing u
// along the line of constant v through the middle vertex, the bitangent growing v along the line
// of constant u; both are made orthogonal to the normal only.
export function cornerFrame(P, UV, n) {
  const s0 = P.map((p, i) => ({ p, u: UV[i][0], v: UV[i][1] }));
  const sortBy = (key) => {
    const swap = (i, j) => { const t = s0[i]; s0[i] = s0[j]; s0[j] = t; };
    if (s0[0][key] < s0[1][key]) swap(0, 1);
    if (s0[0][key] < s0[2][key]) swap(0, 2);
    if (s0[1][key] < s0[2][key]) swap(1, 2);
  };
  const along = (key, other, fallback) => {
    sortBy(key);
    const d = s0[2][key] - s0[0][key];
    const s = Math.abs(d) > 1e-7 ? (s0[1][key] - s0[0][key]) / d : 1;
    let t = sub(add(s0[0].p, scale(sub(s0[2].p, s0[0].p), s)), s0[1].p);
    if (s0[0][other] + s * (s0[2][other] - s0[0][other]) < s0[1][other]) t = scale(t, -1);
    t = sub(t, scale(n, dot(t, n)));
    const len = length(t);
    return len >= 1e-7 ? scale(t, 1 / len) : fallback;
  };
  const tangent = along('v', 'u', [1, 0, 0]);
  const bitangent = along('u', 'v', [0, 0, 1]);
  return { tangent, bitangent };
}

// Per-triangle-corner arrays for showing a tangent-space normal map the way the baker wrote it:
// positions, smooth normals (the sum of the face normals around each point, normalised), UVs and
// the corner frames. Null when the mesh has no UVs.
export function normalMapGeometry(mesh) {
  if (!mesh.uv) return null;
  const tris = triangles(mesh);
  const P = (i) => [mesh.points[3 * i], mesh.points[3 * i + 1], mesh.points[3 * i + 2]];
  const faceNormals = tris.map((t) => {
    const [a, b, c] = t.points.map(P);
    const n = cross(sub(b, a), sub(c, a));
    const len = length(n);
    return len > 0 ? scale(n, 1 / len) : [0, 0, 0];
  });
  const sums = new Float64Array(mesh.pointCount * 3);
  tris.forEach((t, i) => t.points.forEach((p) => {
    for (let k = 0; k < 3; k++) sums[3 * p + k] += faceNormals[i][k];
  }));
  const smooth = (p) => {
    const v = [sums[3 * p], sums[3 * p + 1], sums[3 * p + 2]];
    const len = length(v);
    return len > 0 ? scale(v, 1 / len) : [0, 0, 1];
  };
  const n = tris.length * 3;
  const out = { position: new Float32Array(n * 3), normal: new Float32Array(n * 3), uv: new Float32Array(n * 2),
                tangent: new Float32Array(n * 3), bitangent: new Float32Array(n * 3) };
  tris.forEach((t, i) => {
    const pos = t.points.map(P);
    const uv = t.corners.map((k) => [mesh.uv[8 * t.polygon + 2 * k], mesh.uv[8 * t.polygon + 2 * k + 1]]);
    for (let k = 0; k < 3; k++) {
      const v = 3 * i + k;
      const nk = smooth(t.points[k]);
      const f = cornerFrame(pos, uv, nk);
      out.position.set(pos[k], 3 * v);
      out.normal.set(nk, 3 * v);
      out.uv.set(uv[k], 2 * v);
      out.tangent.set(f.tangent, 3 * v);
      out.bitangent.set(f.bitangent, 3 * v);
    }
  });
  return out;
}
