#include "host/formats/PlyStlFiles.h"

#include <cmath>
#include <cstring>

#include "host/formats/MeshBuild.h"

namespace host::formats {
namespace {

template <class T>
void put(std::string& out, T v) {
    char b[sizeof(T)];
    std::memcpy(b, &v, sizeof(T));
    out.append(b, sizeof(T));
}

// A property name PLY readers take: letters, digits and underscores.
std::string propertyName(const std::string& name) {
    std::string out;
    for (char c : name) out += (std::isalnum(static_cast<unsigned char>(c)) || c == '_') ? c : '_';
    if (out.empty() || std::isdigit(static_cast<unsigned char>(out[0]))) out = "map_" + out;
    return out;
}

}  // namespace

bool encodePly(const std::vector<const PolygonObject*>& objects, std::string& bytes, std::string* error) {
    std::vector<SplitMesh> meshes;
    size_t vertices = 0, faces = 0;
    bool normals = true, uvs = true;
    std::vector<std::string> maps;
    bool first = true;
    for (const PolygonObject* o : objects) {
        meshes.push_back(splitVertices(*o));
        const SplitMesh& s = meshes.back();
        vertices += s.vertexPoint.size();
        faces += s.polygons.size();
        // Attributes go out when every object has them; float maps when every object has the same ones.
        normals = normals && !s.normals.empty();
        uvs = uvs && !s.uvSets.empty();
        if (first)
            maps = s.floatMapNames;
        else if (maps != s.floatMapNames)
            maps.clear();
        first = false;
    }
    if (faces == 0) {
        if (error) *error = "no polygons to write";
        return false;
    }
    if (vertices > INT32_MAX) {
        if (error) *error = "too many vertices for PLY";
        return false;
    }
    std::string header = "ply\nformat binary_little_endian 1.0\ncomment written by vexlor\n";
    header += "element vertex " + std::to_string(vertices) + "\n";
    header += "property float x\nproperty float y\nproperty float z\n";
    if (normals) header += "property float nx\nproperty float ny\nproperty float nz\n";
    if (uvs) header += "property float s\nproperty float t\n";
    for (const std::string& m : maps) header += "property float " + propertyName(m) + "\n";
    header += "element face " + std::to_string(faces) + "\n";
    header += "property list uchar int vertex_indices\nend_header\n";
    bytes = header;
    bytes.reserve(header.size() + vertices * (12 + (normals ? 12 : 0) + (uvs ? 8 : 0) + 4 * maps.size()) + faces * 17);
    for (size_t i = 0; i < objects.size(); ++i) {
        const SplitMesh& s = meshes[i];
        for (size_t v = 0; v < s.vertexPoint.size(); ++v) {
            const Vec3f& p = objects[i]->points[s.vertexPoint[v]];
            put(bytes, p.x), put(bytes, p.y), put(bytes, p.z);
            if (normals) put(bytes, s.normals[v].x), put(bytes, s.normals[v].y), put(bytes, s.normals[v].z);
            if (uvs) put(bytes, s.uvSets[0][v].x), put(bytes, s.uvSets[0][v].y);
            for (size_t m = 0; m < maps.size(); ++m) put(bytes, s.floatMaps[m][v]);
        }
    }
    int32_t base = 0;
    for (size_t i = 0; i < objects.size(); ++i) {
        const SplitMesh& s = meshes[i];
        for (const auto& poly : s.polygons) {
            const uint8_t n = poly[3] >= 0 ? 4 : 3;
            put(bytes, n);
            for (int k = 0; k < n; ++k) put(bytes, static_cast<int32_t>(base + poly[k]));
        }
        base += static_cast<int32_t>(s.vertexPoint.size());
    }
    return true;
}

bool encodeStl(const std::vector<const PolygonObject*>& objects, std::string& bytes, std::string* error) {
    size_t triangles = 0;
    for (const PolygonObject* o : objects)
        for (const Polygon& p : o->polygons)
            if (p.a != p.b) triangles += p.isTriangle() ? 1 : 2;
    if (triangles == 0) {
        if (error) *error = "no polygons to write";
        return false;
    }
    if (triangles > UINT32_MAX) {
        if (error) *error = "too many triangles for STL";
        return false;
    }
    bytes.assign(80, '\0');
    const char title[] = "binary STL written by vexlor";
    std::memcpy(bytes.data(), title, sizeof(title) - 1);
    put(bytes, static_cast<uint32_t>(triangles));
    bytes.reserve(84 + triangles * 50);
    for (const PolygonObject* o : objects) {
        const int n = o->pointCount();
        auto triangle = [&](int a, int b, int c) {
            if (a < 0 || b < 0 || c < 0 || a >= n || b >= n || c >= n) a = b = c = 0;
            const Vec3f& p = o->points.empty() ? Vec3f{} : o->points[a];
            const Vec3f& q = o->points.empty() ? Vec3f{} : o->points[b];
            const Vec3f& r = o->points.empty() ? Vec3f{} : o->points[c];
            const double ux = q.x - p.x, uy = q.y - p.y, uz = q.z - p.z;
            const double vx = r.x - p.x, vy = r.y - p.y, vz = r.z - p.z;
            double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
            const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
            if (len > 0) nx /= len, ny /= len, nz /= len;
            put(bytes, static_cast<float>(nx)), put(bytes, static_cast<float>(ny)), put(bytes, static_cast<float>(nz));
            for (const Vec3f* v : {&p, &q, &r}) put(bytes, v->x), put(bytes, v->y), put(bytes, v->z);
            put(bytes, static_cast<uint16_t>(0));
        };
        for (const Polygon& p : o->polygons) {
            if (p.a == p.b) continue;
            triangle(p.a, p.b, p.c);
            if (!p.isTriangle()) triangle(p.a, p.c, p.d);
        }
    }
    return true;
}

}  // namespace host::formats
