#include "host/ModuleLoader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "host/HostTable.h"
#include "host/Services.h"

namespace host {

std::string executableFolder() {
    char buf[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return ".";
    buf[n] = 0;
    return filename::directory(buf);
}

std::unique_ptr<LoadedModule> LoadedModule::open(const std::string& folder, std::string* error) {
    const std::string path = filename::join(folder, kModuleFileName);
    if (access(path.c_str(), R_OK) != 0) {
        if (error) *error = path + ": no module file here";
        return nullptr;
    }
    void* handle = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        if (error) *error = path + ": cannot load the module: " + dlerror();
        return nullptr;
    }
    auto entry = reinterpret_cast<HostMainFunction>(dlsym(handle, "hst_main"));
    if (!entry) {
        if (error) *error = path + ": the module has no entry hst_main";
        dlclose(handle);
        return nullptr;
    }
    std::unique_ptr<LoadedModule> m(new LoadedModule());
    m->handle_ = handle;
    m->entry_ = entry;
    m->folder_ = folder;
    return m;
}

LoadedModule::~LoadedModule() {
    // The registered objects hold code of the module: they go before it is unloaded.
    PluginRegistry::main().clear();
    while (initCalls_ > 0) end();
    if (handle_) dlclose(handle_);
}

int32_t LoadedModule::init(const HostApi* table) {
    const int32_t r = entry_(HST_ACTION_INIT, const_cast<HostApi*>(table), nullptr, const_cast<char*>(folder_.c_str()));
    if (r == 1) ++initCalls_;
    return r;
}

int32_t LoadedModule::loadResources() { return entry_(HST_ACTION_MESSAGE, reinterpret_cast<void*>(1), nullptr, nullptr); }

int32_t LoadedModule::start() { return entry_(HST_ACTION_START, nullptr, nullptr, nullptr); }

int32_t LoadedModule::end() {
    if (initCalls_ > 0) --initCalls_;
    return entry_(HST_ACTION_END, nullptr, nullptr, nullptr);
}

bool LoadedModule::startUp(const HostApi* table, std::string* error) {
    const int32_t initResult = init(table);
    if (initResult != 1) {
        if (error)
            *error = "the module refused to start (init answered " + std::to_string(initResult) +
                     "; host interface version " + std::to_string(table->version) + ")";
        return false;
    }
    // Without resources the module still starts, but registers nothing: say why.
    const bool resources = loadResources() == 1;
    if (start() != 1) {
        if (error) *error = "the module stopped registering its plug-ins (an icon in " + filename::join(folder_, "res") +
                            " may be missing or unreadable)";
        return false;
    }
    if (!resources) {
        if (error) *error = "the module's resources were not found in " + filename::join(folder_, "res");
        return false;
    }
    return true;
}

}  // namespace host
