// The `vexlor._vexlor` extension: meshes read and written through the host's file layer, with numpy
// views of their arrays, and the engine's commands (reduce, lod, bake, render) run through the host
// and the module exactly as the command line runs them. The friendlier signatures and docstrings are
// in the package's __init__.py.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cstdlib>
#include <filesystem>
#include <memory>

#include "CommandRun.h"
#include "host/Bitmap.h"
#include "host/Document.h"
#include "host/Object.h"
#include "host/Tags.h"
#include "host/formats/MeshFile.h"

namespace py = pybind11;
namespace fs = std::filesystem;

namespace {

// Every failure reaches Python as vexlor.Error with the command line's one-line message.
PyObject* gError = nullptr;
[[noreturn]] void fail(const std::string& message) {
    PyErr_SetString(gError, message.c_str());
    throw py::error_already_set();
}

struct Mesh {
    std::unique_ptr<host::Document> doc = std::make_unique<host::Document>();
    std::string suffix = ".obj";  // the format it came from: the engine gets it in the same one
    std::string source;           // the file it was read from ("" for a mesh made from arrays)

    std::vector<host::PolygonObject*> polygonObjects() const {
        std::vector<host::PolygonObject*> list;
        for (host::Object* o : doc->allObjects())
            if (auto* p = dynamic_cast<host::PolygonObject*>(o)) list.push_back(p);
        return list;
    }
    host::PolygonObject& object(int index) const {
        auto list = polygonObjects();
        if (index < 0) index += static_cast<int>(list.size());
        if (index < 0 || index >= static_cast<int>(list.size()))
            throw py::index_error("the mesh has " + std::to_string(list.size()) + " polygon objects");
        return *list[index];
    }
};

// An array over memory the mesh owns; the mesh stays alive while the array does.
template <class T>
py::array view(py::object owner, T* data, std::vector<py::ssize_t> shape) {
    std::vector<py::ssize_t> strides(shape.size());
    py::ssize_t step = sizeof(T);
    for (size_t i = shape.size(); i-- > 0;) {
        strides[i] = step;
        step *= shape[i];
    }
    return py::array(py::dtype::of<T>(), shape, strides, data, owner);
}

std::string moduleDir() {
    if (const char* env = std::getenv("VEXLOR_MODULE_DIR"); env && *env) return env;
    return VEXLOR_DEFAULT_MODULE_DIR;
}

std::shared_ptr<Mesh> load(const std::string& path) {
    auto mesh = std::make_shared<Mesh>();
    std::string error;
    bool ok;
    {
        py::gil_scoped_release release;
        ok = host::formats::readMeshFile(path, *mesh->doc, nullptr, &error);
    }
    if (!ok) fail(error);
    mesh->source = path;
    std::string ext = fs::path(path).extension().string();
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    // Formats we cannot write go to the engine as glTF, which keeps hierarchy and placements.
    mesh->suffix = (ext == ".obj" || ext == ".glb" || ext == ".gltf" || ext == ".ply" || ext == ".stl") ? ext : ".glb";
    if (ext == ".gltf") mesh->suffix = ".glb";  // one file, no side buffers
    return mesh;
}

void save(const Mesh& mesh, const std::string& path) {
    std::vector<const host::Object*> objects;
    for (const host::Object* o : mesh.doc->allObjects()) objects.push_back(o);
    std::string error;
    bool ok;
    {
        py::gil_scoped_release release;
        ok = host::formats::writeMeshFile(path, objects, &error);
    }
    if (!ok) fail(error);
}

std::shared_ptr<Mesh> fromArrays(py::array_t<float, py::array::c_style | py::array::forcecast> points,
                                 py::array_t<int32_t, py::array::c_style | py::array::forcecast> polygons,
                                 std::vector<py::array_t<float, py::array::c_style | py::array::forcecast>> uvSets,
                                 const std::string& name) {
    if (points.ndim() != 2 || points.shape(1) != 3) fail("points must be an n x 3 array");
    if (polygons.ndim() != 2 || (polygons.shape(1) != 3 && polygons.shape(1) != 4))
        fail("polygons must be an n x 3 (triangles) or n x 4 array (c == d for a triangle)");
    auto mesh = std::make_shared<Mesh>();
    auto obj = std::make_unique<host::PolygonObject>(name);
    const auto n = points.shape(0), m = polygons.shape(0);
    obj->resize(static_cast<int>(n), static_cast<int>(m));
    auto p = points.unchecked<2>();
    for (py::ssize_t i = 0; i < n; ++i) obj->points[i] = {p(i, 0), p(i, 1), p(i, 2)};
    auto q = polygons.unchecked<2>();
    for (py::ssize_t i = 0; i < m; ++i) {
        int c[4];
        for (int k = 0; k < 4; ++k) c[k] = q(i, std::min<py::ssize_t>(k, polygons.shape(1) - 1));
        for (int k : c)
            if (k < 0 || k >= n) fail("polygon " + std::to_string(i) + " names point " + std::to_string(k) +
                                      " of " + std::to_string(n));
        obj->polygons[i] = {c[0], c[1], c[2], c[3]};
    }
    for (size_t s = 0; s < uvSets.size(); ++s) {
        auto& uv = uvSets[s];
        if (uv.ndim() != 3 || uv.shape(0) != m || uv.shape(1) != 4 || (uv.shape(2) != 2 && uv.shape(2) != 3))
            fail("a UV set must be a polygons x 4 x 2 (or x 3) array");
        auto tag = std::make_unique<host::UVWTag>("", static_cast<int>(m));
        auto u = uv.unchecked<3>();
        for (py::ssize_t i = 0; i < m; ++i)
            for (int k = 0; k < 4; ++k)
                tag->data[i].corner(k) = {u(i, k, 0), u(i, k, 1), uv.shape(2) == 3 ? u(i, k, 2) : 0.0f};
        obj->addTag(std::move(tag));
    }
    mesh->doc->insert(std::move(obj));
    return mesh;
}

// Runs the command with the mesh arguments written to a private folder first and the named
// outputs read back; a failure raises the command's message, a stop raises KeyboardInterrupt.
pyvexlor::CommandResult run(const std::vector<std::string>& args) {
    pyvexlor::CommandResult r;
    {
        py::gil_scoped_release release;
        r = pyvexlor::runCommand(moduleDir(), args);
    }
    if (r.exitCode == 130) {
        PyErr_SetNone(PyExc_KeyboardInterrupt);
        throw py::error_already_set();
    }
    if (r.exitCode != 0) fail(r.message());
    return r;
}

py::array readImage(const std::string& path) {
    auto bitmap = std::make_unique<host::Bitmap>();
    std::string error;
    bool ok;
    {
        py::gil_scoped_release release;
        ok = bitmap->load(path, &error);
    }
    if (!ok) fail(error);
    std::vector<py::ssize_t> shape = {bitmap->height(), bitmap->width(), bitmap->channels()};
    py::array a = bitmap->isFloat() ? py::array(py::dtype::of<float>(), shape)
                  : bitmap->bitsPerChannel() == 16 ? py::array(py::dtype::of<uint16_t>(), shape)
                                                   : py::array(py::dtype::of<uint8_t>(), shape);
    std::memcpy(a.mutable_data(), bitmap->data(), bitmap->rowBytes() * bitmap->height());
    return a;
}

}  // namespace

PYBIND11_MODULE(_vexlor, m) {
    m.doc() = "vexlor's engine: meshes, reduction, levels of detail, baking and rendering";
    static py::exception<std::runtime_error> error(m, "Error", PyExc_RuntimeError);
    gError = error.ptr();

    py::class_<Mesh, std::shared_ptr<Mesh>>(m, "Mesh")
        .def_property_readonly("object_count", [](const Mesh& s) { return s.polygonObjects().size(); })
        .def_property_readonly("format_suffix", [](const Mesh& s) { return s.suffix; })
        .def_property_readonly("source", [](const Mesh& s) { return s.source; })
        .def("object_name", [](const Mesh& s, int i) { return s.object(i).name(); })
        .def(
            "points",
            [](py::object self, int i) {
                auto& o = self.cast<Mesh&>().object(i);
                return view(self, reinterpret_cast<float*>(o.points.data()), {o.pointCount(), 3});
            },
            py::arg("object") = 0)
        .def(
            "polygons",
            [](py::object self, int i) {
                auto& o = self.cast<Mesh&>().object(i);
                return view(self, reinterpret_cast<int32_t*>(o.polygons.data()), {o.polygonCount(), 4});
            },
            py::arg("object") = 0)
        .def(
            "uv_sets",
            [](py::object self, int i) {
                auto& o = self.cast<Mesh&>().object(i);
                py::list sets;
                for (int k = 0; k < o.tagCount(host::TAG_UVW); ++k) {
                    auto* t = static_cast<host::UVWTag*>(o.tag(host::TAG_UVW, k));
                    sets.append(view(self, reinterpret_cast<float*>(t->data.data()),
                                     {static_cast<py::ssize_t>(t->data.size()), 4, 3}));
                }
                return sets;
            },
            py::arg("object") = 0)
        .def(
            "groups",
            [](const Mesh& s, int i) {
                auto& o = s.object(i);
                py::dict groups;
                for (int k = 0; k < o.tagCount(host::TAG_POLYGON_SELECTION); ++k) {
                    auto* t = static_cast<host::SelectionTag*>(o.tag(host::TAG_POLYGON_SELECTION, k));
                    std::vector<int32_t> members;
                    for (int p = 0; p < t->set.size(); ++p)
                        if (t->set.isSelected(p)) members.push_back(p);
                    groups[py::str(t->name())] = py::array_t<int32_t>(members.size(), members.data());
                }
                return groups;
            },
            py::arg("object") = 0);

    m.def("load", &load, py::arg("path"));
    m.def("save", &save, py::arg("mesh"), py::arg("path"));
    m.def("from_arrays", &fromArrays, py::arg("points"), py::arg("polygons"), py::arg("uv_sets"), py::arg("name"));
    m.def("read_image", &readImage, py::arg("path"));
    m.def(
        "run",
        [](const std::vector<std::string>& args) {
            pyvexlor::CommandResult r = run(args);
            return py::make_tuple(r.out, r.err);
        },
        py::arg("args"));
    m.def("module_dir", &moduleDir);
    m.def("show_progress", &pyvexlor::showProgress, py::arg("on"));
}
