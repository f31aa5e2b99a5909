#include "BatchCommand.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "BatchManifest.h"

extern char** environ;

namespace app {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using Clock = std::chrono::steady_clock;

volatile std::sig_atomic_t gBatchInterrupted = 0;
void onBatchSigint(int) { gBatchInterrupted = 1; }

struct JournalEntry {
    std::string status, key;
};

std::map<std::string, JournalEntry> readJournal(const std::string& path) {
    std::map<std::string, JournalEntry> entries;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        // A line cut short by a crash is not valid JSON and is passed over; the last entry of a job counts.
        json j = json::parse(line, nullptr, false);
        if (j.is_discarded() || !j.is_object() || !j.contains("id") || !j["id"].is_string()) continue;
        entries[j["id"].get<std::string>()] = {j.value("status", ""), j.value("key", "")};
    }
    return entries;
}

// One write of a whole line with O_APPEND, so that shards sharing a journal do not mix their lines.
bool appendJournal(const std::string& path, const json& entry, std::string* error) {
    std::string line = entry.dump() + "\n";
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = ::write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) && ::fsync(fd) == 0;
    if (!ok) *error = path + ": " + std::strerror(errno);
    ::close(fd);
    return ok;
}

std::string selfPath() {
    std::error_code ec;
    fs::path p = fs::read_symlink("/proc/self/exe", ec);
    return ec ? "vexlor" : p.string();
}

// The last line the job printed that says something, after the status bar's carriage returns.
std::string lastMessage(const std::string& logPath) {
    std::ifstream in(logPath, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    std::string text = s.str();
    std::string last;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        size_t cr = line.find_last_of('\r');
        if (cr != std::string::npos) line = line.substr(cr + 1);
        if (!line.empty()) last = line;
    }
    return last;
}

std::string stagingPrefix(const std::string& id) {
    std::string safe;
    for (char c : id) safe += (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_') ? c : '_';
    return ".vexlor-batch." + safe + ".";
}

struct Running {
    size_t job = 0;
    pid_t pid = -1;
    std::string log;
    std::vector<fs::path> staging;  // one folder beside each output
    Clock::time_point started;
};

void removeStaging(const Running& r) {
    std::error_code ec;
    for (const fs::path& s : r.staging) fs::remove_all(s, ec);
}

// Moves everything the job wrote into place: each staged file replaces its target (the file a link
// ends at, when the target is a link).
bool commitStaging(const Running& r, std::string* error) {
    for (const fs::path& dir : r.staging) {
        std::error_code ec;
        for (const fs::directory_entry& e : fs::directory_iterator(dir, ec)) {
            fs::path target = dir.parent_path() / e.path().filename();
            std::error_code lec;
            if (fs::is_symlink(target, lec)) target = fs::weakly_canonical(target, lec);
            if (::rename(e.path().c_str(), target.c_str()) != 0) {
                *error = target.string() + ": cannot be put in place: " + std::strerror(errno);
                return false;
            }
        }
        if (ec) {
            *error = dir.string() + ": " + ec.message();
            return false;
        }
    }
    return true;
}

bool outputsExist(const BatchJob& job) {
    for (const std::string& o : job.outputs)
        if (o.find("{n}") == std::string::npos && !fs::exists(o)) return false;
    return true;
}

bool parseShard(const std::string& text, int* index, int* count) {
    size_t slash = text.find('/');
    if (slash == std::string::npos) return false;
    try {
        size_t a = 0, b = 0;
        *index = std::stoi(text.substr(0, slash), &a);
        *count = std::stoi(text.substr(slash + 1), &b);
        if (a != slash || b != text.size() - slash - 1) return false;
    } catch (...) {
        return false;
    }
    return *count >= 1 && *index >= 1 && *index <= *count;
}

}  // namespace

CLI::App* addBatchCommand(CLI::App& cli, BatchOptions& o) {
    CLI::App* cmd = cli.add_subcommand("batch", "Run the jobs of a JSON or JSON-lines manifest, one process per job, "
                                                "with a journal so that a rerun does only what is left");
    cmd->add_option("manifest", o.manifest, "The manifest: a JSON list of jobs or one job per line")->required();
    cmd->add_option("--jobs", o.jobs, "Jobs run at once (default: one per processor core)")->check(CLI::Range(1, 1024));
    cmd->add_option("--shard", o.shard, "I/N: run the I-th of N disjoint shares of the manifest (1 <= I <= N)");
    cmd->add_option("--journal", o.journal, "Journal file (default: MANIFEST.journal)");
    cmd->add_flag("--no-journal", o.noJournal, "Keep no journal: run every chosen job");
    cmd->add_flag("--list", o.list, "Print the ids of the jobs chosen (by --shard), one a line, and run nothing");
    cmd->add_option("--job", o.job, "Run only the job with this id, whatever the journal says");
    return cmd;
}

int runBatch(const std::string& moduleDir, const BatchOptions& options, std::ostream& out, std::ostream& err) {
    std::vector<BatchJob> jobs;
    std::string error;
    if (!readBatchManifest(options.manifest, &jobs, &error)) {
        err << "vexlor batch: " << error << "\n";
        return 1;
    }
    int shardIndex = 1, shardCount = 1;
    if (!options.shard.empty() && !parseShard(options.shard, &shardIndex, &shardCount)) {
        err << "vexlor batch: --shard must be I/N with 1 <= I <= N, got " << options.shard << "\n";
        return 1;
    }
    std::string journal = options.noJournal ? "" : options.journal.empty() ? options.manifest + ".journal"
                                                                            : options.journal;
    std::map<std::string, JournalEntry> done = journal.empty() ? std::map<std::string, JournalEntry>{}
                                                               : readJournal(journal);

    if (options.list) {
        for (size_t i = 0; i < jobs.size(); ++i)
            if (static_cast<int>(i % shardCount) == shardIndex - 1) out << jobs[i].id << "\n";
        return 0;
    }
    std::vector<size_t> todo;
    size_t skipped = 0, chosen = 0;
    bool jobFound = options.job.empty();
    for (size_t i = 0; i < jobs.size(); ++i) {
        if (static_cast<int>(i % shardCount) != shardIndex - 1) continue;
        if (!options.job.empty()) {
            if (jobs[i].id != options.job) continue;
            jobFound = true;
        }
        ++chosen;
        auto it = done.find(jobs[i].id);
        if (options.job.empty() && it != done.end() && it->second.status == "done" && it->second.key == jobs[i].key &&
            outputsExist(jobs[i])) {
            ++skipped;
            continue;
        }
        todo.push_back(i);
    }
    if (!jobFound) {
        err << "vexlor batch: " << options.manifest << " has no job " << options.job
            << (options.shard.empty() ? "" : " in shard " + options.shard) << "\n";
        return 1;
    }

    unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    size_t parallel = options.jobs > 0 ? static_cast<size_t>(options.jobs) : cores;
    std::string threadsPerJob = std::to_string(std::max(1u, cores / static_cast<unsigned>(std::min<size_t>(
                                                                    parallel, std::max<size_t>(1, todo.size())))));
    std::string self = selfPath();

    struct sigaction act {}, previous {};
    act.sa_handler = onBatchSigint;  // no SA_RESTART: the wait below returns to look at the flag
    sigemptyset(&act.sa_mask);
    gBatchInterrupted = 0;
    sigaction(SIGINT, &act, &previous);

    std::map<pid_t, Running> running;
    std::vector<std::pair<std::string, std::string>> failures;
    size_t next = 0, finished = 0, succeeded = 0;
    bool forwarded = false;

    auto start = [&](size_t jobIndex) -> bool {
        const BatchJob& job = jobs[jobIndex];
        Running r;
        r.job = jobIndex;
        std::map<fs::path, fs::path> stagingOf;  // output folder -> its staging folder
        std::vector<std::string> argv = {self};
        if (!moduleDir.empty()) argv.insert(argv.end(), {"--module-dir", moduleDir});
        std::string prefix = stagingPrefix(job.id);
        std::error_code ec;
        for (const std::string& o : job.outputs) {
            fs::path parent = fs::path(o).parent_path();
            if (stagingOf.count(parent)) continue;
            fs::create_directories(parent, ec);
            for (const fs::directory_entry& e : fs::directory_iterator(parent, ec))  // left by a killed run
                if (e.path().filename().string().rfind(prefix, 0) == 0) fs::remove_all(e.path(), ec);
            fs::path dir = parent / (prefix + std::to_string(::getpid()) + "." + std::to_string(jobIndex));
            if (!fs::create_directories(dir, ec)) {
                failures.push_back({job.id, dir.string() + ": cannot be made: " + ec.message()});
                removeStaging(r);
                return false;
            }
            stagingOf[parent] = dir;
            r.staging.push_back(dir);
        }
        for (const std::string& a : job.args) {
            if (a.rfind("{OUT", 0) == 0) {
                const std::string& o = job.outputs[std::stoul(a.substr(4))];
                argv.push_back((stagingOf[fs::path(o).parent_path()] / fs::path(o).filename()).string());
            } else {
                argv.push_back(a);
            }
        }
        if (job.hasThreads) argv.insert(argv.end(), {"--threads", threadsPerJob});

        char logName[] = "/tmp/vexlor-batch-XXXXXX";
        int logFd = ::mkstemp(logName);
        if (logFd < 0) {
            failures.push_back({job.id, std::string("cannot make a log file: ") + std::strerror(errno)});
            removeStaging(r);
            return false;
        }
        r.log = logName;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, logFd, 1);
        posix_spawn_file_actions_adddup2(&actions, logFd, 2);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        std::vector<char*> cargv;
        for (std::string& a : argv) cargv.push_back(a.data());
        cargv.push_back(nullptr);
        pid_t pid = -1;
        int rc = posix_spawn(&pid, self.c_str(), &actions, nullptr, cargv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(logFd);
        if (rc != 0) {
            failures.push_back({job.id, "cannot start " + self + ": " + std::strerror(rc)});
            ::unlink(r.log.c_str());
            removeStaging(r);
            return false;
        }
        r.pid = pid;
        r.started = Clock::now();
        running[pid] = std::move(r);
        return true;
    };

    auto report = [&](const BatchJob& job, const std::string& status, const std::string& message, double seconds) {
        ++finished;
        err << "[" << finished << "/" << todo.size() << "] " << job.id << " " << status;
        if (!message.empty()) err << ": " << message;
        char t[32];
        std::snprintf(t, sizeof t, " (%.1f s)", seconds);
        err << t << "\n" << std::flush;
        if (journal.empty()) return;
        std::string jerr;
        if (!appendJournal(journal, {{"id", job.id}, {"key", job.key}, {"status", status}, {"message", message}}, &jerr))
            err << "vexlor batch: the journal cannot be written: " << jerr << "\n";
    };

    while (true) {
        while (!gBatchInterrupted && running.size() < parallel && next < todo.size()) {
            size_t j = todo[next++];
            if (!start(j)) report(jobs[j], "failed", failures.back().second, 0.0);
        }
        if (running.empty()) break;
        if (gBatchInterrupted && !forwarded) {
            forwarded = true;  // a Ctrl-C at the terminal reached them too; a kill of this process did not
            for (auto& [pid, r] : running) ::kill(pid, SIGINT);
        }
        int status = 0;
        pid_t pid = ::waitpid(-1, &status, 0);
        if (pid < 0) {
            if (errno == EINTR) continue;
            break;
        }
        auto it = running.find(pid);
        if (it == running.end()) continue;
        Running r = std::move(it->second);
        running.erase(it);
        const BatchJob& job = jobs[r.job];
        double seconds = std::chrono::duration<double>(Clock::now() - r.started).count();
        std::string message;
        bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (ok) {
            ok = commitStaging(r, &message);
        } else if (WIFSIGNALED(status)) {
            message = std::string("killed by signal ") + std::to_string(WTERMSIG(status)) + " (" +
                      strsignal(WTERMSIG(status)) + ")";
        } else {
            message = lastMessage(r.log);
            if (message.empty()) message = "exit status " + std::to_string(WEXITSTATUS(status));
        }
        removeStaging(r);
        ::unlink(r.log.c_str());
        if (!ok && gBatchInterrupted) {
            ++finished;  // stopped, not failed: the next run does it again
            err << "[" << finished << "/" << todo.size() << "] " << job.id << " stopped\n";
            continue;
        }
        if (ok) ++succeeded;
        else failures.push_back({job.id, message});
        report(job, ok ? "done" : "failed", ok ? "" : message, seconds);
    }
    sigaction(SIGINT, &previous, nullptr);

    size_t notRun = todo.size() - succeeded - failures.size();
    out << "batch: " << succeeded << " done, " << failures.size() << " failed, " << skipped << " skipped";
    if (gBatchInterrupted) out << ", " << notRun << " not run (stopped)";
    out << " (" << chosen << " of " << jobs.size() << " jobs"
        << (options.shard.empty() ? "" : " in shard " + options.shard) << ")\n";
    for (const auto& [id, message] : failures) out << "failed: " << id << ": " << message << "\n";
    if (gBatchInterrupted) return 130;
    return failures.empty() ? 0 : 1;
}

}  // namespace app
