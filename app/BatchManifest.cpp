#include "BatchManifest.h"

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

namespace app {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct Failure {
    std::string message;
};

std::string absoluteFrom(const fs::path& base, const std::string& path) {
    fs::path p(path);
    return (p.is_absolute() ? p : base / p).lexically_normal().string();
}

// The same file whether named directly or through links (the path need not exist yet).
std::string sameFileKey(const std::string& path) {
    std::error_code ec;
    fs::path p = fs::weakly_canonical(path, ec);
    return ec ? path : p.string();
}

std::string text(const json& job, const char* name, bool required) {
    auto it = job.find(name);
    if (it == job.end() || it->is_null()) {
        if (required) throw Failure{std::string("\"") + name + "\" is missing"};
        return {};
    }
    if (!it->is_string() || it->get<std::string>().empty())
        throw Failure{std::string("\"") + name + "\" must be a non-empty string"};
    return it->get<std::string>();
}

std::string valueText(const std::string& option, const json& v) {
    if (v.is_string()) return v.get<std::string>();
    if (v.is_number_integer()) return std::to_string(v.get<long long>());
    if (v.is_number()) {
        std::ostringstream s;
        s.precision(17);
        s << v.get<double>();
        return s.str();
    }
    throw Failure{"option \"" + option + "\" must be a string, a number, true, false or a list of those"};
}

// Options that name files the job reads: taken relative to the manifest like the job's own paths.
const std::set<std::string> kPathOptions = {"bake-from", "bump", "scene"};
// Options that the job's own fields give, or that make no sense without a person at the terminal.
const std::set<std::string> kReserved = {"o",         "output",  "input", "high",         "low",
                                         "normal",    "occlusion", "displacement", "asset", "module-dir",
                                         "show-dialog", "help",    "host-version"};

void addOptions(const json& job, const fs::path& base, BatchJob* out) {
    auto it = job.find("options");
    if (it == job.end() || it->is_null()) return;
    if (!it->is_object()) throw Failure{"\"options\" must be an object"};
    for (const auto& item : it->items()) {
        const std::string& name = item.key();
        const json& value = item.value();
        if (name.empty() || name[0] == '-')
            throw Failure{"option \"" + name + "\" must be given without dashes"};
        if (kReserved.count(name))
            throw Failure{"option \"" + name + "\" cannot be given in \"options\" (it is the job's own field or is not for batches)"};
        if (name == "threads") out->hasThreads = false;
        auto add = [&](const json& v) {
            std::string s = valueText(name, v);
            out->args.push_back("--" + name);
            out->args.push_back(kPathOptions.count(name) ? absoluteFrom(base, s) : s);
        };
        if (value.is_boolean()) {
            if (value.get<bool>()) out->args.push_back("--" + name);
        } else if (value.is_null()) {
        } else if (value.is_array()) {
            for (const json& v : value) add(v);
        } else {
            add(value);
        }
    }
}

BatchJob makeJob(const json& job, size_t index, const fs::path& base, std::set<std::string>* inputs) {
    if (!job.is_object()) throw Failure{"a job must be an object"};
    BatchJob b;
    b.id = job.contains("id") ? text(job, "id", true) : "job-" + std::to_string(index + 1);
    b.key = job.dump();  // object keys come out sorted: the same job always gives the same key
    std::string what = text(job, "do", true);
    auto output = [&](const std::string& path) {
        b.args.push_back("{OUT" + std::to_string(b.outputs.size()) + "}");
        b.outputs.push_back(absoluteFrom(base, path));
    };
    auto input = [&](const std::string& path) {
        std::string p = absoluteFrom(base, path);
        inputs->insert(sameFileKey(p));
        b.args.push_back(p);
    };
    if (what == "reduce" || what == "lod" || what == "convert") {
        b.args.push_back(what);
        input(text(job, "input", true));
        b.args.push_back("-o");
        output(text(job, "output", true));
        if (what == "lod" && b.outputs[0].find("{n}") == std::string::npos &&
            fs::path(b.outputs[0]).extension() != ".glb" && fs::path(b.outputs[0]).extension() != ".gltf")
            throw Failure{"a lod output must hold {n} or be a .glb/.gltf file"};
        b.hasThreads = what != "convert";
        if (what == "convert" && job.contains("options") && !job["options"].is_null() && !job["options"].empty())
            throw Failure{"convert takes no options"};
    } else if (what == "bake") {
        b.args.push_back("bake");
        for (const char* side : {"high", "low"}) {
            std::string given = text(job, side, true);
            b.args.push_back(std::string("--") + side);
            // FILE or FILE:OBJECT; the object name stays as written
            std::string p = absoluteFrom(base, given);
            size_t colon = given.rfind(':');
            inputs->insert(sameFileKey(colon == std::string::npos ? p : absoluteFrom(base, given.substr(0, colon))));
            b.args.push_back(p);
        }
        auto outs = job.find("outputs");
        if (outs == job.end() || !outs->is_object() || outs->empty())
            throw Failure{"\"outputs\" must name at least one map: normal, occlusion, displacement (and asset)"};
        for (const auto& [kind, path] : outs->items()) {
            if (kind != "normal" && kind != "occlusion" && kind != "displacement" && kind != "asset")
                throw Failure{"unknown output \"" + kind + "\" (normal, occlusion, displacement or asset)"};
            if (!path.is_string() || path.get<std::string>().empty())
                throw Failure{"output \"" + kind + "\" must be a non-empty string"};
            b.args.push_back("--" + kind);
            output(path.get<std::string>());
        }
        b.hasThreads = true;
    } else {
        throw Failure{"unknown \"do\": \"" + what + "\" (reduce, lod, bake or convert)"};
    }
    addOptions(job, base, &b);  // a job that sets threads keeps its own count
    return b;
}

std::vector<json> parseJobs(const std::string& content) {
    // A whole-document parse first; JSON lines when the text is several values.
    json whole = json::parse(content, nullptr, false);
    if (!whole.is_discarded()) {
        if (whole.is_array()) return whole.get<std::vector<json>>();
        if (whole.is_object() && whole.contains("jobs") && whole["jobs"].is_array())
            return whole["jobs"].get<std::vector<json>>();
        if (whole.is_object()) return {whole};  // JSON lines with a single job
        throw Failure{"the manifest must be a list of jobs, an object with \"jobs\", or one job per line"};
    }
    std::vector<json> jobs;
    std::istringstream lines(content);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        if (line.find_first_not_of(" \t\r") == std::string::npos) continue;
        json j = json::parse(line, nullptr, false);
        if (j.is_discarded()) throw Failure{"line " + std::to_string(number) + " is not valid JSON"};
        jobs.push_back(std::move(j));
    }
    return jobs;
}

}  // namespace

bool readBatchManifest(const std::string& path, std::vector<BatchJob>* jobs, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": cannot be read";
        return false;
    }
    std::stringstream content;
    content << in.rdbuf();
    fs::path base = fs::absolute(fs::path(path)).parent_path();
    std::vector<json> raw;
    try {
        raw = parseJobs(content.str());
    } catch (const Failure& f) {
        *error = path + ": " + f.message;
        return false;
    }
    if (raw.empty()) {
        *error = path + ": holds no jobs";
        return false;
    }
    jobs->clear();
    std::set<std::string> ids;
    std::map<std::string, std::string> writers;  // output file -> job id
    std::set<std::string> allInputs;
    for (size_t i = 0; i < raw.size(); ++i) {
        std::set<std::string> inputs;
        BatchJob job;
        try {
            job = makeJob(raw[i], i, base, &inputs);
        } catch (const Failure& f) {
            *error = path + ": job " + std::to_string(i + 1) + ": " + f.message;
            return false;
        }
        if (!ids.insert(job.id).second) {
            *error = path + ": two jobs are named " + job.id;
            return false;
        }
        for (const std::string& o : job.outputs) {
            std::error_code ec;
            if (fs::is_directory(o, ec)) {  // found now rather than after the work, half put in place
                *error = path + ": " + job.id + ": output " + o + " is a folder";
                return false;
            }
            std::string k = sameFileKey(o);
            if (inputs.count(k)) {
                *error = path + ": " + job.id + ": output " + o + " is one of its inputs";
                return false;
            }
            auto [it, fresh] = writers.emplace(k, job.id);
            if (!fresh) {
                *error = path + ": " + job.id + " and " + it->second + " both write " + o;
                return false;
            }
        }
        allInputs.insert(inputs.begin(), inputs.end());
        jobs->push_back(std::move(job));
    }
    // A job that writes what another reads would make the result depend on the order jobs run in.
    for (const auto& [out, id] : writers)
        if (allInputs.count(out)) {
            *error = path + ": " + id + " writes " + out + ", which another job reads";
            return false;
        }
    return true;
}

}  // namespace app
