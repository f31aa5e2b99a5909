// A coarse stand-in for a dense mesh, drawn while the view moves where every frame of the full mesh
// would take too long (a browser drawing in software spends about half a microsecond a triangle).
// The points are clustered in a grid whose cell follows the mesh's own surface area, so the same
// surface in other units or at another density gives the same stand-in; each cell's points merge at
// their mean, and a triangle is kept when its three corners fall in three different cells.

// Triangles of the live polygons (a quad as two), handed to `each(a, b, c)`.
function forEachTriangle(mesh, each) {
  const p = mesh.polygons;
  for (let i = 0; i < mesh.polygonCount; i++) {
    const a = p[4 * i], b = p[4 * i + 1], c = p[4 * i + 2], d = p[4 * i + 3];
    if (a === b) continue;
    each(a, b, c);
    if (c !== d) each(a, c, d);
  }
}

function surfaceArea(mesh) {
  const q = mesh.points;
  let area = 0;
  forEachTriangle(mesh, (a, b, c) => {
    const ux = q[3 * b] - q[3 * a], uy = q[3 * b + 1] - q[3 * a + 1], uz = q[3 * b + 2] - q[3 * a + 2];
    const vx = q[3 * c] - q[3 * a], vy = q[3 * c + 1] - q[3 * a + 1], vz = q[3 * c + 2] - q[3 * a + 2];
    area += Math.hypot(uy * vz - uz * vy, uz * vx - ux * vz, ux * vy - uy * vx) / 2;
  });
  return area;
}

// An open-addressing table from keys of three non-negative integers to dense ids 0, 1, 2, ...
class TripleIds {
  constructor(expected) {
    let size = 16;
    while (size < 2 * expected) size *= 2;
    this.mask = size - 1;
    this.keys = new Int32Array(3 * size);
    this.ids = new Int32Array(size).fill(-1);
    this.count = 0;
  }
  // Doubles the table when it is half full, so that a probe always ends.
  grow() {
    const { keys, ids } = this;
    this.mask = 2 * ids.length - 1;
    this.keys = new Int32Array(6 * ids.length);
    this.ids = new Int32Array(2 * ids.length).fill(-1);
    for (let s = 0; s < ids.length; s++) {
      if (ids[s] < 0) continue;
      let h = this.hash(keys[3 * s], keys[3 * s + 1], keys[3 * s + 2]);
      while (this.ids[h & this.mask] >= 0) h = (h + 1) >>> 0;
      const t = h & this.mask;
      this.ids[t] = ids[s];
      this.keys.set(keys.subarray(3 * s, 3 * s + 3), 3 * t);
    }
  }
  hash(x, y, z) { return (Math.imul(x, 0x9e3779b1) ^ Math.imul(y, 0x85ebca77) ^ Math.imul(z, 0xc2b2ae3d)) >>> 0; }
  id(x, y, z) {
    if (2 * this.count >= this.ids.length) this.grow();
    for (let h = this.hash(x, y, z);; h = (h + 1) >>> 0) {
      const s = h & this.mask;
      if (this.ids[s] < 0) {
        this.ids[s] = this.count++;
        this.keys[3 * s] = x; this.keys[3 * s + 1] = y; this.keys[3 * s + 2] = z;
        return this.ids[s];
      }
      if (this.keys[3 * s] === x && this.keys[3 * s + 1] === y && this.keys[3 * s + 2] === z) return this.ids[s];
    }
  }
}

// The stand-in with about `points` points: { points: Float32Array, index: Uint32Array }, or null when
// the mesh has no area to cluster. The triangles keep the winding of those they come from.
export function standIn(mesh, points) {
  const area = surfaceArea(mesh);
  if (!(area > 0) || !(points >= 1)) return null;
  const q = mesh.points;
  const used = new Uint8Array(mesh.pointCount);
  forEachTriangle(mesh, (a, b, c) => { used[a] = 1; used[b] = 1; used[c] = 1; });
  const low = [Infinity, Infinity, Infinity], high = [-Infinity, -Infinity, -Infinity];
  for (let i = 0; i < mesh.pointCount; i++) {
    if (!used[i]) continue;
    for (let k = 0; k < 3; k++) {
      low[k] = Math.min(low[k], q[3 * i + k]);
      high[k] = Math.max(high[k], q[3 * i + k]);
    }
  }
  // A cell of a surface holds about one cell's square of its area; no axis gets more than 2^20 cells,
  // which keeps a long thin mesh's grid coordinates within the table's integers.
  const longest = Math.max(high[0] - low[0], high[1] - low[1], high[2] - low[2]);
  const cell = Math.max(Math.sqrt(area / points), longest / (1 << 20));
  const cellOf = new Int32Array(mesh.pointCount);
  const cells = new TripleIds(Math.min(mesh.pointCount, 4 * points));
  for (let i = 0; i < mesh.pointCount; i++) {
    if (!used[i]) continue;
    cellOf[i] = cells.id(Math.floor((q[3 * i] - low[0]) / cell), Math.floor((q[3 * i + 1] - low[1]) / cell),
                         Math.floor((q[3 * i + 2] - low[2]) / cell));
  }
  const sum = new Float64Array(3 * cells.count), count = new Uint32Array(cells.count);
  for (let i = 0; i < mesh.pointCount; i++) {
    if (!used[i]) continue;
    const c = cellOf[i];
    sum[3 * c] += q[3 * i]; sum[3 * c + 1] += q[3 * i + 1]; sum[3 * c + 2] += q[3 * i + 2];
    count[c]++;
  }
  const out = new Float32Array(3 * cells.count);
  for (let c = 0; c < cells.count; c++)
    for (let k = 0; k < 3; k++) out[3 * c + k] = sum[3 * c + k] / count[c];
  // Cells cut a surface along clean lines, so two triangles rarely span the same three cells; when they
  // do, the stand-in draws that triangle twice for the moment the view moves.
  const index = [];
  forEachTriangle(mesh, (a, b, c) => {
    const x = cellOf[a], y = cellOf[b], z = cellOf[c];
    if (x !== y && y !== z && x !== z) index.push(x, y, z);
  });
  return { points: out, index: Uint32Array.from(index) };
}
