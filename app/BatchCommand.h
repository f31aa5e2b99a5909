// `vexlor batch MANIFEST`: runs the jobs of a manifest (see BatchManifest.h), one vexlor process per
// job and as many at once as there are processor cores (--jobs N). Each job is all or nothing: its
// outputs are written into a hidden staging folder beside each output and moved into place only when
// the job succeeded, so a failed, stopped or killed job leaves no output behind.
//
// A journal (MANIFEST.journal, or --journal FILE) records each finished job; a rerun skips the jobs
// done before (unless the job changed or its outputs are gone) and retries the failed ones.
// --shard I/N runs the I-th of N disjoint shares (jobs I, I+N, I+2N, ... counting from 1), for the job
// arrays of a cluster scheduler; shards may share one journal.
//
// A line per finished job and a summary (done, failed, skipped, each failure's message) go to stderr;
// the exit status is 0 when every job is done, 1 when any failed, 130 when stopped by Ctrl-C.
#pragma once

#include <ostream>
#include <string>

namespace CLI {
class App;
}

namespace app {

struct BatchOptions {
    std::string manifest;
    std::string journal;  // empty: MANIFEST.journal
    bool noJournal = false;
    std::string shard;    // "I/N"
    std::string job;      // run only the job with this id (and ignore the journal's view of it)
    int jobs = 0;         // processes at once; 0: one per processor core
    bool list = false;    // print the chosen jobs' ids, one a line, and run nothing
};

CLI::App* addBatchCommand(CLI::App& cli, BatchOptions& options);

int runBatch(const std::string& moduleDir, const BatchOptions& options, std::ostream& out, std::ostream& err);

}  // namespace app
