#include "ConvertCommand.h"

#include <CLI/CLI.hpp>

#include "InfoCommand.h"
#include "host/SafeOutput.h"
#include "host/formats/MeshFile.h"

namespace app {

CLI::App* addConvertCommand(CLI::App& cli, ConvertOptions& o) {
    CLI::App* cmd = cli.add_subcommand("convert", "Read a mesh file and write it in the format of the output's suffix");
    cmd->add_option("input", o.input, "Mesh file to read (.obj, .glb, .gltf, .fbx, .ply, .stl, .dae, .3ds)")->required();
    cmd->add_option("-o,--output", o.output, "File to write (.obj, .glb, .gltf, .ply, .stl)")->required();
    return cmd;
}

int runConvert(const ConvertOptions& o, std::ostream& out, std::ostream& err) {
    namespace fmt = host::formats;
    if (!fmt::canWriteMeshFormat(fmt::meshFormatForOutput(o.output))) {
        err << "vexlor convert: -o " << o.output << ": cannot write this kind of file; write "
            << fmt::writableMeshSuffixes() << "\n";
        return 1;
    }
    // Checked before any work: an output that cannot be written, or that is the input itself.
    if (std::string problem = host::outputProblem(o.output); !problem.empty()) {
        err << "vexlor convert: -o " << problem << "\n";
        return 1;
    }
    if (host::sameFile(o.output, o.input)) {
        err << "vexlor convert: -o " << o.output << " is the input file " << o.input
            << "; write the result to another file\n";
        return 1;
    }
    host::Document doc;
    std::string error;
    fmt::MeshReadReport report;
    if (!fmt::readMeshFile(o.input, doc, nullptr, &error, &report)) {
        err << "vexlor convert: " << error << "\n";
        return 1;
    }
    std::vector<const host::Object*> objects;
    long points = 0, polygons = 0;
    for (const host::Object* obj : doc.allObjects()) {
        objects.push_back(obj);
        if (auto* p = dynamic_cast<const host::PolygonObject*>(obj)) {
            points += p->pointCount();
            polygons += p->polygonCount();
        }
    }
    if (!fmt::writeMeshFile(o.output, objects, &error)) {
        err << "vexlor convert: " << error << "\n";
        return 1;
    }
    out << "converted " << o.input << " (" << fmt::meshFormatName(report.format) << ") -> " << o.output << " ("
        << fmt::meshFormatName(fmt::meshFormatForPath(o.output)) << "): " << objects.size() << " objects, " << points
        << " points, " << polygons << " polygons\n";
    printWelds(report, out);
    return 0;
}

}  // namespace app
