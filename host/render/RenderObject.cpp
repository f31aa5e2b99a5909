#include "host/render/RenderObject.h"

#include <cmath>

#include "host/Tags.h"

namespace host::render {
namespace {

bool validPolygon(const Polygon& p, int points) {
    return p.a != p.b && p.a >= 0 && p.a < points && p.b >= 0 && p.b < points && p.c >= 0 && p.c < points &&
           p.d >= 0 && p.d < points;
}

// The angle limit of the object's smoothing tag as a cosine; below -1 when every face counts.
double smoothingCosine(const PolygonObject& o) {
    const auto* tag = dynamic_cast<const SmoothingTag*>(o.tag(TAG_SMOOTHING));
    if (!tag || !tag->data.getBool(SMOOTHING_ANGLE_LIMIT, false)) return -2.0;
    return std::cos(tag->data.getReal(SMOOTHING_ANGLE, 0.0));
}

}  // namespace

void RenderObject::build(const PolygonObject& object, const Material* m) {
    source = &object;
    material = m;
    const Matrix place = object.globalMatrix();
    const int np = object.pointCount();
    points.resize(3 * static_cast<size_t>(np));
    bounds = Bounds();
    for (int i = 0; i < np; ++i) {
        const Vec3f& q = object.points[i];
        const Vec3 w = place.apply({q.x, q.y, q.z});
        points[3 * i] = static_cast<float>(w.x);
        points[3 * i + 1] = static_cast<float>(w.y);
        points[3 * i + 2] = static_cast<float>(w.z);
    }

    // Polygons, their triangles and their normals. A quad's normal is that of its two diagonals;
    // it counts twice at its corners, once per triangle, as in the baker's smoothing.
    const int n = object.polygonCount();
    polygons.resize(n);
    std::vector<V3> faceNormal(n);
    std::vector<uint8_t> valid(n, 0);
    triangles.clear();
    trianglePolygon.clear();
    triangleSecond.clear();
    for (int i = 0; i < n; ++i) {
        const Polygon& p = object.polygons[i];
        polygons[i] = {p.a, p.b, p.c, p.d};
        if (!validPolygon(p, np)) continue;
        valid[i] = 1;
        const V3 a = point(p.a), b = point(p.b), c = point(p.c), d = point(p.d);
        for (const V3& q : {a, b, c, d}) bounds.grow(q);
        faceNormal[i] = p.isTriangle() ? normalized(cross(b - a, c - a)) : normalized(cross(b - d, c - a));
        triangles.insert(triangles.end(), {uint32_t(p.a), uint32_t(p.b), uint32_t(p.c)});
        trianglePolygon.push_back(i);
        triangleSecond.push_back(0);
        if (!p.isTriangle()) {
            triangles.insert(triangles.end(), {uint32_t(p.a), uint32_t(p.c), uint32_t(p.d)});
            trianglePolygon.push_back(i);
            triangleSecond.push_back(1);
        }
    }

    // Smooth normals at every corner.
    cornerNormals.assign(12 * static_cast<size_t>(n), 0.0f);
    {
        // Polygons at each point, counted then filled.
        std::vector<int> start(np + 1, 0), at;
        auto corners = [&](int i, int out[4]) {
            const Polygon& p = object.polygons[i];
            out[0] = p.a;
            out[1] = p.b;
            out[2] = p.c;
            out[3] = p.isTriangle() ? -1 : p.d;
        };
        for (int i = 0; i < n; ++i) {
            if (!valid[i]) continue;
            int c[4];
            corners(i, c);
            for (int k = 0; k < 4; ++k)
                if (c[k] >= 0) ++start[c[k] + 1];
        }
        for (int i = 0; i < np; ++i) start[i + 1] += start[i];
        at.resize(start[np]);
        std::vector<int> fill(start.begin(), start.end() - 1);
        for (int i = 0; i < n; ++i) {
            if (!valid[i]) continue;
            int c[4];
            corners(i, c);
            for (int k = 0; k < 4; ++k)
                if (c[k] >= 0) at[fill[c[k]]++] = i;
        }
        const double limit = smoothingCosine(object);
        auto weight = [&](int i) { return object.polygons[i].isTriangle() ? 1.0 : 2.0; };
        std::vector<V3> pointSum;
        if (limit < -1.0) {
            pointSum.resize(np);
            for (int q = 0; q < np; ++q)
                for (int j = start[q]; j < start[q + 1]; ++j) pointSum[q] += faceNormal[at[j]] * weight(at[j]);
        }
        for (int i = 0; i < n; ++i) {
            if (!valid[i]) continue;
            int c[4];
            corners(i, c);
            if (c[3] < 0) c[3] = c[2];
            for (int k = 0; k < 4; ++k) {
                const int q = c[k];
                V3 sum;
                if (limit < -1.0) {
                    sum = pointSum[q];
                } else {
                    for (int j = start[q]; j < start[q + 1]; ++j) {
                        const int o = at[j];
                        if (o == i || dot(faceNormal[o], faceNormal[i]) >= limit) sum += faceNormal[o] * weight(o);
                    }
                }
                const V3 v = normalized(sum);
                cornerNormals[12 * i + 3 * k] = float(v.x);
                cornerNormals[12 * i + 3 * k + 1] = float(v.y);
                cornerNormals[12 * i + 3 * k + 2] = float(v.z);
            }
        }
    }

    // UVW sets: the object's UVW tags in order, each with a row per polygon.
    uvSets.clear();
    for (int k = 0; k < object.tagCount(TAG_UVW); ++k) {
        const auto* tag = dynamic_cast<const UVWTag*>(object.tag(TAG_UVW, k));
        if (tag && static_cast<int>(tag->data.size()) >= n) uvSets.push_back(&tag->data);
    }
}

V3 RenderObject::smoothNormal(int32_t polygon, const V3& position) const {
    const HostPolygon& p = polygons[polygon];
    const int32_t c[4] = {p.a, p.b, p.c, p.d};
    int best = 0;
    double bestDistance = INFINITY;
    for (int k = 0; k < 4; ++k) {
        const double d = length(point(c[k]) - position);
        if (d < bestDistance) {
            bestDistance = d;
            best = k;
        }
    }
    const float* s = &cornerNormals[12 * polygon + 3 * best];
    return {s[0], s[1], s[2]};
}

}  // namespace host::render
