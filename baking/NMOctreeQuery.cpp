// The single-ray queries of NMOctree: the nearest hit along a line and the any-hit test of a ray.
#include <cmath>

#include "baking/NMIntersect.h"
#include "baking/NMOctree.h"
#include "baking/NMQueryRay.h"
#include "sources/HostMemory.h"

using nmquery::Ray;
using nmquery::prepare;
using nmquery::lineThrough;

namespace {

struct Candidate {
    int32_t node;
    double distance;
};

// Pushes the candidates so that the nearest is popped first.
void pushNearestLast(Stack<NMOctree::QueryEntry>& work, Candidate* c, int32_t n) {
    for (int32_t i = 1; i < n; ++i) {
        const Candidate k = c[i];
        int32_t j = i - 1;
        while (j >= 0 && c[j].distance < k.distance) {
            c[j + 1] = c[j];
            --j;
        }
        c[j + 1] = k;
    }
    for (int32_t i = 0; i < n; ++i) work.items[work.count++] = {c[i].node, c[i].distance};
}

}  // namespace

void NMOctree::clear() {
    corners_.clear();
    normals_.clear();
    list_ = nullptr;
    queryNodes_.clear();
    queryEntries_.clear();
    queryStackSize_ = 0;
    slack_ = 0.0;
    ready_ = false;
}

bool NMOctree::prepareScratch(NMQueryScratch& scratch) const {
    return scratch.work.reserve(queryStackSize_) && scratch.packets.reserve(queryStackSize_);
}

void NMOctree::acceptHit(const NMVec3& d, int32_t index, double t, double u, double v, NMAbstractVectorLayer* bump,
                         NMNearestHit* best, double* bestFacing, bool* found) const {
    const NMVec3* c = corners_.items + 3 * index;
    const NMVec3* n = normals_.items + 3 * index;
    const double w = 1.0 - u - v;
    const NMVec3 normal = normalize(n[0] * w + n[1] * u + n[2] * v);
    const double facing = dot(normal, d);
    if (facing < minFacing) return;
    const double at = std::fabs(t);
    if (at >= NM_INFINITY) return;
    if (*found) {
        const double bestAt = std::fabs(best->t);
        if (!(at < bestAt || (at == bestAt && facing > *bestFacing))) return;
    }
    NMVec3 stored = normal;
    if (bump != nullptr && list_ != nullptr && index < list_->triangles.count) {
        // The bump image holds tangent-space normals over the high object's texture coordinates.
        const NMTriangle& tri = list_->triangles.items[index];
        const NMVec3 uvw = tri.v[0].uvw * w + tri.v[1].uvw * u + tri.v[2].uvw * v;
        const NMVec3 tangent = tri.v[0].tangent * w + tri.v[1].tangent * u + tri.v[2].tangent * v;
        const NMVec3 bitangent = tri.v[0].bitangent * w + tri.v[1].bitangent * u + tri.v[2].bitangent * v;
        const NMVec3 blended = n[0] * w + n[1] * u + n[2] * v;
        const NMVector3f s = bump->bilinear(uvw.x, uvw.y);
        stored = tangent * s.x + bitangent * s.y + blended * s.z;
    }
    best->point = c[0] * w + c[1] * u + c[2] * v;
    best->normal = stored;
    best->t = t;
    best->triangle = index;
    *bestFacing = dot(stored, d);
    *found = true;
}


bool NMOctree::nearestHit(const NMVec3& p, const NMVec3& d, NMAbstractVectorLayer* bump, NMNearestHit* hit,
                          NMQueryScratch& scratch) const {
    ++scratch.rays;
    if (!ready_ || queryNodes_.items[0].size == 0) return false;
    if (scratch.work.capacity < queryStackSize_) {
        scratch.failed = true;
        return false;
    }
    Stack<QueryEntry>& work = scratch.work;
    const Ray ray = prepare(p, d);
    double tn, tf;
    if (!lineThrough(queryNodes_.items[0], ray, &tn, &tf)) return false;

    NMNearestHit best;
    double bestFacing = 0.0, bestAt = NM_INFINITY, reach = NM_INFINITY;
    bool found = false;
    work.count = 0;
    work.items[work.count++] = {0, tn > 0.0 ? tn : (tf < 0.0 ? -tf : 0.0)};
    while (work.count > 0) {
        const QueryEntry e = work.items[--work.count];
        // Nothing in a node entered farther than the best hit can be nearer (equal distances are
        // still looked at, for the tie rule); `reach` adds the slack for rounding of the box test.
        if (e.distance > reach) continue;
        ++scratch.nodeVisits;
        const QueryNode& q = queryNodes_.items[e.node];
        if (q.isLeaf()) {
            const int32_t* tris = queryEntries_.items + q.first;
            scratch.triangleTests += q.count();
            for (int32_t i = 0; i < q.count(); ++i) {
                NMRayHit h;
                const NMVec3* c = corners_.items + 3 * tris[i];
                if (!rayTriangle(p, d, c[0], c[1] - c[0], c[2] - c[0], &h)) continue;
                if (found && std::fabs(h.t) > bestAt) continue;
                acceptHit(d, tris[i], h.t, h.u, h.v, bump, &best, &bestFacing, &found);
                if (found) {
                    bestAt = std::fabs(best.t);
                    reach = bestAt + bestAt * kOctreeWiden + slack_;
                }
            }
            continue;
        }
        Candidate c[8];
        int32_t n = 0;
        for (int32_t k = 0; k < q.childCount(); ++k) {
            const int32_t child = q.first + k;
            if (!lineThrough(queryNodes_.items[child], ray, &tn, &tf)) continue;
            const double distance = tn > 0.0 ? tn : (tf < 0.0 ? -tf : 0.0);
            if (distance > reach) continue;
            c[n++] = {child, distance};
        }
        if (work.count + n > work.capacity) {  // cannot happen: the stack holds the deepest walk
            scratch.failed = true;
            return false;
        }
        pushNearestLast(work, c, n);
    }
    if (!found || isZero(best.normal)) return false;
    *hit = best;
    return true;
}


bool NMOctree::anyHit(const NMVec3& o, const NMVec3& r, NMQueryScratch& scratch) const {
    ++scratch.rays;
    if (!ready_ || queryNodes_.items[0].size == 0) return false;
    if (scratch.work.capacity < queryStackSize_) {
        scratch.failed = true;
        return false;
    }
    Stack<QueryEntry>& work = scratch.work;
    const Ray ray = prepare(o, r);
    double tn, tf;
    if (!lineThrough(queryNodes_.items[0], ray, &tn, &tf) || tf < 0.0) return false;
    work.count = 0;
    work.items[work.count++] = {0, tn};
    while (work.count > 0) {
        const QueryEntry e = work.items[--work.count];
        ++scratch.nodeVisits;
        const QueryNode& q = queryNodes_.items[e.node];
        if (q.isLeaf()) {
            const int32_t* tris = queryEntries_.items + q.first;
            scratch.triangleTests += q.count();
            for (int32_t i = 0; i < q.count(); ++i) {
                NMRayHit h;
                const NMVec3* c = corners_.items + 3 * tris[i];
                if (rayTriangle(o, r, c[0], c[1] - c[0], c[2] - c[0], &h) && h.t > 0.0) return true;
            }
            continue;
        }
        Candidate c[8];
        int32_t n = 0;
        for (int32_t k = 0; k < q.childCount(); ++k) {
            const int32_t child = q.first + k;
            if (!lineThrough(queryNodes_.items[child], ray, &tn, &tf) || tf < 0.0) continue;
            c[n++] = {child, tn};
        }
        if (work.count + n > work.capacity) {  // cannot happen: the stack holds the deepest walk
            scratch.failed = true;
            return false;
        }
        pushNearestLast(work, c, n);
    }
    return false;
}

