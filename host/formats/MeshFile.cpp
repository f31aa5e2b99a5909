#include "host/formats/MeshFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>

#include "host/InputFile.h"
#include "host/ObjFile.h"
#include "host/Tags.h"
#include "host/formats/AssimpFile.h"
#include "host/formats/FileOutput.h"
#include "host/formats/PlyReader.h"
#include "host/formats/PlyStlFiles.h"
#include "host/formats/ReaderLimits.h"

namespace host::formats {
namespace {

std::string lowerSuffix(const std::string& path) {
    std::string s = std::filesystem::path(path).extension().string();
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return s;
}

bool startsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

// The text after a byte-order mark and leading white space.
std::string_view textStart(std::string_view head) {
    size_t at = 0;
    if (startsWith(head, "\xEF\xBB\xBF")) at = 3;
    while (at < head.size() && std::isspace(static_cast<unsigned char>(head[at]))) ++at;
    return head.substr(at);
}

// A binary STL is its 84-byte header and 50 bytes per triangle; its header may start with "solid",
// so a file that starts so is ASCII only when its size does not fit its count.
bool binaryStlSizeFits(std::string_view head, size_t fileSize) {
    if (head.size() < 84) return false;
    uint32_t count;
    std::memcpy(&count, head.data() + 80, 4);
    return fileSize == 84 + 50ull * count;
}

bool isAsciiStl(std::string_view head, size_t fileSize) {
    return startsWith(textStart(head), "solid") && !binaryStlSizeFits(head, fileSize);
}

// The first bytes of the file, and its size; false with `error` set when it cannot be opened.
bool peek(const std::string& path, std::string& head, size_t& size, std::string* error) {
    const OpenedInput in = openRegularFile(path);
    if (in.fd < 0) {
        if (error) *error = path + ": " + (in.err ? "cannot open: " + in.why : in.why);
        return false;
    }
    const int fd = in.fd;
    size = static_cast<size_t>(in.st.st_size);
    head.resize(std::min<size_t>(size, 1024));
    const ssize_t n = ::read(fd, head.data(), head.size());
    ::close(fd);
    head.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return true;
}

// The inverse transpose of the matrix's axes, for normals.
Matrix normalMatrix(const Matrix& m) {
    const Vec3& a = m.v1;
    const Vec3& b = m.v2;
    const Vec3& c = m.v3;
    // Columns of the inverse transpose are the cross products of the other two axes over the determinant.
    auto cross = [](const Vec3& u, const Vec3& v) {
        return Vec3{u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
    };
    const Vec3 bc = cross(b, c), ca = cross(c, a), ab = cross(a, b);
    const double det = a.x * bc.x + a.y * bc.y + a.z * bc.z;
    Matrix out;
    if (det == 0) return out;
    // (M^-1)^T has columns bc/det, ca/det, ab/det as rows of M^-1; transposed they become the images
    // of the unit axes: n' = n.x * (bc / det) + n.y * (ca / det) + n.z * (ab / det).
    out.v1 = bc * (1 / det);
    out.v2 = ca * (1 / det);
    out.v3 = ab * (1 / det);
    return out;
}

// Polygon objects with their points placed by their global matrices (copies only where that is not
// the identity).
struct Placed {
    std::vector<const PolygonObject*> objects;
    std::vector<std::unique_ptr<Object>> copies;
};

Placed placePolygonObjects(const std::vector<const Object*>& objects) {
    Placed out;
    for (const Object* o : objects) {
        auto* p = dynamic_cast<const PolygonObject*>(o);
        if (!p || p->polygons.empty()) continue;
        const Matrix m = p->globalMatrix();
        if (isIdentity(m)) {
            out.objects.push_back(p);
            continue;
        }
        std::unique_ptr<Object> copy = p->cloneAlone();
        auto* q = static_cast<PolygonObject*>(copy.get());
        q->localMatrix = Matrix{};
        for (Vec3f& v : q->points) {
            const Vec3 w = m.apply({v.x, v.y, v.z});
            v = {static_cast<float>(w.x), static_cast<float>(w.y), static_cast<float>(w.z)};
        }
        const Matrix nm = normalMatrix(m);
        for (const auto& t : q->tags())
            if (auto* n = dynamic_cast<NormalTag*>(t.get()))
                for (NormalRow& row : n->data)
                    for (int k = 0; k < 4; ++k) {
                        int16_t* c = &row.v[3 * k];
                        if (c[0] == 0 && c[1] == 0 && c[2] == 0) continue;
                        const Vec3 d = nm.applyDirection({double(c[0]), double(c[1]), double(c[2])});
                        quantizeNormal({static_cast<float>(d.x), static_cast<float>(d.y), static_cast<float>(d.z)}, c);
                    }
        out.objects.push_back(q);
        out.copies.push_back(std::move(copy));
    }
    return out;
}

bool finite(const Vec3f& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }
bool finite(const Vec3& v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

// What of the object or those below it is not a finite number ("" when all is): a point, a texture
// coordinate or a placement. Such values would be worked on for a whole reduction and only refused
// when the result is written, so a read refuses them at once, as the OBJ reader does.
std::string nonFiniteValue(const Object& o) {
    const Matrix& m = o.localMatrix;
    if (!finite(m.v1) || !finite(m.v2) || !finite(m.v3) || !finite(m.off))
        return "the placement of \"" + o.name() + "\" is not finite";
    if (auto* p = dynamic_cast<const PolygonObject*>(&o)) {
        for (size_t i = 0; i < p->points.size(); ++i)
            if (!finite(p->points[i]))
                return "\"" + o.name() + "\": point " + std::to_string(i) + " has a coordinate that is not a finite number";
        for (const auto& t : o.tags())
            if (auto* uvw = dynamic_cast<const UVWTag*>(t.get()))
                for (size_t i = 0; i < uvw->data.size(); ++i)
                    for (int k = 0; k < 4; ++k)
                        if (!finite(uvw->data[i].corner(k)))
                            return "\"" + o.name() + "\": a texture coordinate of polygon " + std::to_string(i) +
                                   " is not a finite number";
    }
    for (const auto& c : o.children())
        if (std::string problem = nonFiniteValue(*c); !problem.empty()) return problem;
    return {};
}

AssimpFormat assimpFormatOf(MeshFormat format) {
    switch (format) {
        case MeshFormat::Fbx: return AssimpFormat::Fbx;
        case MeshFormat::Stl: return AssimpFormat::Stl;
        case MeshFormat::Collada: return AssimpFormat::Collada;
        default: return AssimpFormat::ThreeDs;
    }
}

bool holdsPolygons(const Object& o) {
    if (auto* p = dynamic_cast<const PolygonObject*>(&o); p && !p->polygons.empty()) return true;
    for (const auto& c : o.children())
        if (holdsPolygons(*c)) return true;
    return false;
}

}  // namespace

MeshFormat meshFormatForPath(const std::string& path) {
    const std::string s = lowerSuffix(path);
    if (s == ".obj") return MeshFormat::Obj;
    if (s == ".gltf") return MeshFormat::Gltf;
    if (s == ".glb") return MeshFormat::Glb;
    if (s == ".fbx") return MeshFormat::Fbx;
    if (s == ".ply") return MeshFormat::Ply;
    if (s == ".stl") return MeshFormat::Stl;
    if (s == ".dae") return MeshFormat::Collada;
    if (s == ".3ds") return MeshFormat::ThreeDs;
    return MeshFormat::Unknown;
}

MeshFormat meshFormatForOutput(const std::string& path) {
    const MeshFormat byName = meshFormatForPath(path);
    if (byName != MeshFormat::Unknown) return byName;
    // A device or a pipe (/dev/stdout, /dev/null, a FIFO a reader waits on) has no suffix to go by:
    // it gets our exact OBJ.
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode))) return MeshFormat::Obj;
    return MeshFormat::Unknown;
}

MeshFormat meshFormatOfContent(std::string_view head, size_t) {
    // Only signatures that no file of another format starts with: a binary STL or a 3DS file has
    // none (a header of any bytes, a size that may fit any file), so those go by their suffix.
    if (startsWith(head, "glTF")) return MeshFormat::Glb;
    if (startsWith(head, "Kaydara FBX Binary")) return MeshFormat::Fbx;
    if (startsWith(head, "ply\n") || startsWith(head, "ply\r")) return MeshFormat::Ply;
    const std::string_view text = textStart(head);
    if (startsWith(text, "{")) return MeshFormat::Gltf;
    if (startsWith(text, "; FBX")) return MeshFormat::Fbx;
    if (startsWith(text, "<?xml") || startsWith(text, "<COLLADA")) {
        if (text.find("<COLLADA") != std::string_view::npos) return MeshFormat::Collada;
        return MeshFormat::Unknown;
    }
    if (startsWith(text, "solid") && text.find("facet") != std::string_view::npos) return MeshFormat::Stl;
    return MeshFormat::Unknown;
}

const char* meshFormatName(MeshFormat format) {
    switch (format) {
        case MeshFormat::Obj: return "OBJ";
        case MeshFormat::Gltf: return "glTF";
        case MeshFormat::Glb: return "glTF binary";
        case MeshFormat::Fbx: return "FBX";
        case MeshFormat::Ply: return "PLY";
        case MeshFormat::Stl: return "STL";
        case MeshFormat::Collada: return "Collada";
        case MeshFormat::ThreeDs: return "3DS";
        case MeshFormat::Unknown: break;
    }
    return "unknown";
}

bool canWriteMeshFormat(MeshFormat f) {
    return f == MeshFormat::Obj || f == MeshFormat::Gltf || f == MeshFormat::Glb || f == MeshFormat::Ply ||
           f == MeshFormat::Stl;
}

const char* writableMeshSuffixes() { return ".obj, .glb, .gltf, .ply or .stl"; }

namespace {

bool readInto(const std::string& path, Document& doc, std::vector<Object*>* loaded, std::string* error,
              MeshReadReport* report);

}  // namespace

bool readMeshFile(const std::string& path, Document& doc, std::vector<Object*>* loaded, std::string* error,
                  MeshReadReport* report) {
    if (readInto(path, doc, loaded, error, report)) return true;
    // One line, whatever a library or a file put into the message.
    if (error) *error = printable(*error);
    return false;
}

namespace {

bool readInto(const std::string& path, Document& doc, std::vector<Object*>* loaded, std::string* error,
              MeshReadReport* report) {
    if (loaded) loaded->clear();
    std::string head;
    size_t size = 0;
    if (!peek(path, head, size, error)) return false;
    const MeshFormat bySuffix = meshFormatForPath(path);
    MeshFormat format = meshFormatOfContent(head, size);
    // Content that looks like nothing in particular is taken by the suffix (OBJ and ASCII formats
    // have no magic); content with a sure signature wins over a suffix that lies.
    if (format == MeshFormat::Unknown) format = bySuffix;
    if (format == MeshFormat::Gltf && bySuffix == MeshFormat::Glb) format = MeshFormat::Gltf;
    if (format == MeshFormat::Unknown) {
        if (error)
            *error = path + ": not a mesh file we can read (by its suffix and its content); we read .obj, .glb, "
                            ".gltf, .fbx, .ply, .stl, .dae and .3ds";
        return false;
    }
    if (report) *report = MeshReadReport{format, {}};
    if (size == 0) {
        if (error) *error = path + ": the file is empty";
        return false;
    }

    if (format == MeshFormat::Obj) {
        std::vector<Object*> objects;
        if (!readObj(path, doc, &objects, error)) return false;
        if (objects.empty()) {
            if (error) *error = path + ": holds no polygons";
            return false;
        }
        if (loaded) *loaded = objects;
        return true;
    }

    if (format == MeshFormat::Stl && isAsciiStl(head, size) && head.find("facet") == std::string::npos &&
        size <= head.size()) {
        if (error) *error = path + ": an ASCII STL without a single facet: holds no polygons";
        return false;
    }
    if (format == MeshFormat::Stl && !isAsciiStl(head, size)) {
        // A binary STL: its triangle count must fit the file.
        uint32_t count = 0;
        if (head.size() >= 84) std::memcpy(&count, head.data() + 80, 4);
        if (size < 84 || 84 + 50ull * count > size) {
            if (error)
                *error = path + ": a binary STL of " + std::to_string(size) + " bytes cannot hold the " +
                         std::to_string(count) + " triangles its header announces (truncated?)";
            return false;
        }
    }
    std::vector<std::unique_ptr<Object>> roots;
    std::vector<WeldResult> welds;
    bool ok = false;
    if (format == MeshFormat::Gltf || format == MeshFormat::Glb)
        ok = readGltf(path, format == MeshFormat::Glb, roots, &welds, error);
    else if (format == MeshFormat::Ply)
        ok = readPly(path, roots, &welds, error);
    else
        ok = readWithAssimp(path, assimpFormatOf(format), roots, &welds, error);
    if (!ok) return false;
    // Points alone are no mesh: a file whose every polygon was dropped (corners out of range or
    // repeated) holds nothing to work on.
    bool anyPolygons = false;
    for (const auto& r : roots) anyPolygons = anyPolygons || holdsPolygons(*r);
    if (!anyPolygons) {
        long dropped = 0;
        for (const WeldResult& w : welds) dropped += w.droppedPolygons;
        if (error) {
            *error = path + ": holds no polygons";
            if (dropped > 0)
                *error += " (each of its " + std::to_string(dropped) +
                          " polygons has a corner out of range or fewer than three distinct points)";
        }
        return false;
    }
    for (const auto& r : roots)
        if (std::string problem = nonFiniteValue(*r); !problem.empty()) {
            if (error) *error = path + ": " + problem;
            return false;
        }
    for (auto& r : roots) {
        Object* o = doc.insert(std::move(r));
        if (loaded) loaded->push_back(o);
    }
    if (report) report->welds = std::move(welds);
    return true;
}

}  // namespace

bool encodeMeshFile(MeshFormat format, const std::vector<const Object*>& objects, std::string& bytes,
                    std::string* problem) {
    if (format == MeshFormat::Gltf || format == MeshFormat::Glb)
        return encodeGltf(objects, format == MeshFormat::Glb, bytes, problem);
    if (format != MeshFormat::Ply && format != MeshFormat::Stl) {
        if (problem) *problem = std::string("cannot encode ") + meshFormatName(format) + " in memory";
        return false;
    }
    Placed placed = placePolygonObjects(objects);
    if (placed.objects.empty()) {
        if (problem) *problem = "no polygon objects to write";
        return false;
    }
    // A placement can carry finite points beyond float's range: such a file would hold "inf".
    for (const PolygonObject* o : placed.objects)
        for (size_t i = 0; i < o->points.size(); ++i)
            if (!finite(o->points[i])) {
                if (problem)
                    *problem = "object '" + o->name() + "': point " + std::to_string(i) +
                               " is not finite where its placement puts it";
                return false;
            }
    return format == MeshFormat::Ply ? encodePly(placed.objects, bytes, problem)
                                     : encodeStl(placed.objects, bytes, problem);
}

bool writeMeshFile(SafeOutput& file, const std::vector<const Object*>& objects, std::string* error) {
    const std::string& path = file.path();
    const MeshFormat format = meshFormatForOutput(path);
    if (!canWriteMeshFormat(format)) {
        if (error) *error = path + ": cannot write this kind of file; write " + writableMeshSuffixes();
        return false;
    }
    if (format == MeshFormat::Obj) {
        // The OBJ writer streams into the output itself.
        Placed placed = placePolygonObjects(objects);
        if (placed.objects.empty()) {
            if (error) *error = path + ": no polygon objects to write";
            return false;
        }
        std::vector<const Object*> list(placed.objects.begin(), placed.objects.end());
        return writeObj(file, list, error);
    }
    std::string bytes, problem;
    if (!encodeMeshFile(format, objects, bytes, &problem)) {
        if (error) *error = path + ": " + problem;
        return false;
    }
    if (!file.write(bytes.data(), bytes.size())) return file.finish(error);
    return true;
}

bool writeMeshFile(const std::string& path, const std::vector<const Object*>& objects, std::string* error) {
    SafeOutput file;
    if (!file.open(path, error)) return false;
    if (!writeMeshFile(file, objects, error)) return false;
    return file.commit(error);
}

bool writeLodChainFile(const std::string& path, const std::vector<LodLevel>& levels, std::string* error,
                       const BakedMapsOf* baked) {
    const MeshFormat format = meshFormatForPath(path);
    if (format != MeshFormat::Glb && format != MeshFormat::Gltf) {
        if (error) *error = path + ": a chain of levels in one file is written as .glb or .gltf";
        return false;
    }
    std::string bytes, problem;
    if (!encodeGltfLodChain(levels, format == MeshFormat::Glb, bytes, &problem, baked)) {
        if (error) *error = path + ": " + problem;
        return false;
    }
    return replaceFileWith(path, bytes, error);
}

}  // namespace host::formats
