// The jobs of a batch manifest, turned into vexlor command lines.
//
// A manifest is a JSON array of jobs, an object {"jobs": [...]}, or JSON lines (one job per line).
// A job names what to do and its files; paths are taken relative to the manifest's folder:
//   {"do": "reduce",  "input": "a.obj", "output": "out/a_low.obj", "options": {"ratio": 25}}
//   {"do": "lod",     "input": "a.obj", "output": "out/a_{n}.obj", "options": {"levels": "50%,25%"}}
//   {"do": "bake",    "high": "h.obj", "low": "l.obj", "outputs": {"normal": "out/n.tif"}, "options": {"size": 512}}
//   {"do": "convert", "input": "a.ply", "output": "out/a.glb"}
// "id" names a job (default: job-N, N counting from 1). Options are the command's own long options
// without the dashes: a string or number is the option's value, true a flag, false or null leaves the
// option out, an array repeats it.
#pragma once

#include <string>
#include <vector>

namespace app {

struct BatchJob {
    std::string id;
    std::string key;                  // the job as written, canonical: a changed job is not taken as done
    std::vector<std::string> args;    // the command and its arguments, outputs as {OUT0}, {OUT1}, ...
    std::vector<std::string> outputs;  // absolute output paths (a lod pattern keeps its {n})
    bool hasThreads = false;           // the command takes --threads
};

// Reads the manifest; false with `error` naming the problem ("MANIFEST: job-3: ...") when any job is
// malformed, two jobs share an id or an output, or a job would write over one of its inputs.
bool readBatchManifest(const std::string& path, std::vector<BatchJob>* jobs, std::string* error);

}  // namespace app
