// Splitting of bad quads after a reduction. Edge contraction can leave quads that fold over one of
// their diagonals or have a corner of nearly 180 degrees; such a quad is cut into two triangles
// along a diagonal that ends at its first unsound corner.
//
// For a quad a, b, c, d with u = Pb - Pa, v = Pd - Pa, w = Pb - Pc, x = Pd - Pc and the quad's
// normal n = (Pb - Pd) x (Pc - Pa), corner a is sound when cos(u, v) >= -0.99 and n . (u x v) >= 0;
// corner b with cos(u, w) and n . (w x u); corner c with cos(w, x) and n . (x x w); corner d with
// cos(v, x) and n . (v x x). The quad is bad when any corner is unsound.
#pragma once

#include <cstdint>

#include "sources/HostInterface.h"
#include "sources/HostPolygonObject.h"
#include "sources/HostSelection.h"

// Which corners of a quad are sound, bit k for corner k (a = 0 ... d = 3).
int32_t soundQuadCorners(const float* points, const HostPolygon& quad);
// True for a quad (a != b, c != d) with an unsound corner.
bool isBadQuad(const float* points, const HostPolygon& quad);
// The two triangles a bad quad is cut into, stored (x, y, z, z): `kept` takes the quad's index, `added`
// a new one. The diagonal ends at the first of a, b, c that is unsound, else at d.
void splitQuadCorners(const float* points, const HostPolygon& quad, HostPolygon* kept, HostPolygon* added);

// Splits every bad quad among the polygons of `polygonSet` (every polygon without a set). The
// polygon array grows by one polygon per bad quad; the new triangles follow in the order of their
// quads. UVW and corner-normal rows follow each triangle's corners; the new triangle takes the quad's
// membership in every polygon-selection tag, in the object's polygon selection and in its hidden
// polygons. Returns the number of quads split, or -1 when the host refused memory or the new size (the
// object is then unchanged).
int32_t splitBadQuads(HostPolygonObject object, HostSelection polygonSet);
