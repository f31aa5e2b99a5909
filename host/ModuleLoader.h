// Loads a plug-in module from its folder (the folder that holds the module file and res/) and
// drives its entry through init, resources, start and end.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sources/HostInterface.h"

namespace host {

// The module file's name inside its folder.
inline constexpr const char* kModuleFileName = "vexlor_module.so";

// The folder that holds the running executable.
std::string executableFolder();

class LoadedModule {
public:
    // Opens the module file in `folder`; null with `error` set when it cannot be loaded or has no entry.
    static std::unique_ptr<LoadedModule> open(const std::string& folder, std::string* error);
    ~LoadedModule();  // ends the module when it was started, forgets its plug-ins, closes it

    // Each step returns the entry's result code.
    int32_t init(const HostApi* table);  // action 1 with the table and the folder
    int32_t loadResources();             // action 6, message 1
    int32_t start();                     // action 2
    int32_t end();                       // action 3
    int32_t call(int32_t action, void* p1, void* p2, void* p3) { return entry_(action, p1, p2, p3); }

    // init, resources and start; false with `error` saying what went wrong. The plug-ins registered
    // before a failure stay registered.
    bool startUp(const HostApi* table, std::string* error);

    const std::string& folder() const { return folder_; }

private:
    LoadedModule() = default;
    void* handle_ = nullptr;
    HostMainFunction entry_ = nullptr;
    std::string folder_;
    int initCalls_ = 0;
};

}  // namespace host
