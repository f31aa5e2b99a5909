// The brush's mesh edit: the collapse of one polygon into one point placed by quadric error, and the
// end-of-drag rebuilding of quads and clean-up. Works in place on the arrays and tags held by a
// TessikContext; there is no adjacency structure, neighbours are found by scanning the polygons.
//
// Collapse of polygon P = (a, b, c, d) (a triangle when c == d): the surviving point is a. The other
// live polygons using P's corners are classified by how many of P's distinct corners they use (k):
// triangles with k >= 2 and quads with k >= 3 are removed, the rest are kept and re-pointed to a
// (a quad with k == 2 becomes a triangle whose merged corners sit in slots c and d). The corners'
// plane quadrics (weighted by the weighting policy), plus border constraints on open edges and on
// edges between polygon groups, place a at the point of least error. The collapse is refused, and
// nothing changes, when that error exceeds maxError, when more than maxNeighbours polygons would be
// kept, or (with checkFolds) when a kept polygon would turn over, degenerate or lose convexity.
// Texture coordinates, point selections, per-point float maps and corner normals follow.
//
// Quadrics, errors and fold tests are computed in the context's measuring frame, so the maximum
// error is independent of the object's units.
#pragma once

#include <cstdint>

#include "tool/TessikContext.h"

// Collapses polygon `p`. Returns true when applied. `cost` receives the collapse's error whenever
// the polygon could be measured (also when the collapse is then refused); a negative index, a dead
// polygon or missing memory for the lists returns false with `cost` unchanged.
bool tessikCollapse(TessikContext& context, int32_t p, float& cost);

// True when moving the corners of kept neighbour q that are corners of P to `target` (measuring
// frame) would fold, degenerate or (for a quad) make it non-convex.
bool tessikFoldsOver(const TessikContext& context, int32_t q, const HostPolygon& P, const Vector& target);

// End of a drag: rebuilds quads among the polygons the drag touched, removes the emptied polygons and
// the points no polygon uses (host clean-up), and tells the object that it changed.
void tessikFinishDrag(TessikContext& context);
