// `vexlor studio [FILE ...]`: our host with a face. It loads the files, starts the HTTP server of the
// studio on 127.0.0.1 (a free port, or --port), prints the page's address and serves the page until
// Ctrl-C, or until the last open page has been closed for the grace period (a longer one while the
// document has unsaved changes). Files are saved when the person asks; a host that ends with unsaved
// changes keeps them in a recovery file beside the document and names it, then and on the next start.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace CLI {
class App;
}

namespace app {

struct StudioOptions {
    std::vector<std::string> files;
    int port = 0;
    double grace = 10.0;  // seconds the host waits for a page to come back
    double unsavedGrace = 600.0;  // the same while the document has unsaved changes
    std::string webDir;   // the page's folder (default: web/ beside the program)
};

CLI::App* addStudioCommand(CLI::App& cli, StudioOptions& options);

// 0 after a normal end, 1 when the host or the server could not start.
int runStudio(const std::string& moduleDir, const StudioOptions& options, std::ostream& out, std::ostream& err);

}  // namespace app
