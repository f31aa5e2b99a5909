// Tangent frames of the baker's triangles, shared by the bake (which writes normals in tangent
// space and reads bump normals back) and the render-time normal-map shader.
//
// A frame is the three rows N, T, B: the corner's normal, tangent and bitangent, exactly the nine
// doubles that follow the position in an NMVertex. A tangent-space vector (x, y, z) stands for
// x along T, y along B and z along N.
#pragma once

#include "shader/NMVector.h"
#include "shader/NMVertex.h"

struct TangentFrame {
    NMVec3 n;
    NMVec3 t;
    NMVec3 b;
};

// Sets the three positions of the triangle; every other field stays as the caller set it.
void makeTriangle(NMTriangle& tri, const NMVec3& p0, const NMVec3& p1, const NMVec3& p2);

// Tangent and bitangent of corner k from the triangle's positions and texture coordinates, made
// orthogonal to the corner's stored normal (which is used as it is, not normalised). The tangent
// points along growing u and the bitangent along growing v; where the layout is degenerate at the
// corner the tangent falls back to (1, 0, 0) and the bitangent to (0, 0, 1).
void computeTangentFrame(NMTriangle& tri, int k);
// computeTangentFrame for corners 0, 1 and 2.
void computeFrames(NMTriangle& tri);

inline TangentFrame frameOf(const NMVertex& v) { return {v.normal, v.tangent, v.bitangent}; }

// (T·v, B·v, N·v).
inline NMVec3 toTangentSpace(const TangentFrame& f, const NMVec3& v) { return {dot(f.t, v), dot(f.b, v), dot(f.n, v)}; }
// v.x·T + v.y·B + v.z·N.
inline NMVec3 fromTangentSpace(const TangentFrame& f, const NMVec3& v) { return f.t * v.x + f.b * v.y + f.n * v.z; }
