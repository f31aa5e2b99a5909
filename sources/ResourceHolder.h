// The module's resources: the handle of the host's resource set for the module folder, opened once
// on the resource message and freed at the last end call (or when the library is unloaded).
#pragma once

#include <cstdint>

#include "sources/HostInterface.h"
#include "sources/HostString.h"

class ResourceHolder {
public:
    // Opens the resources of the module folder on the first call; later calls only report whether
    // that first attempt found any. False when there are none or the folder name cannot be made.
    bool load();
    // The resource string, or the empty string when no resources are held or the id is missing.
    HostString string(int32_t id) const;
    // Closes the resources and drops the folder name; the next load tries again.
    void free();

    bool loaded() const { return resource_ != nullptr; }
    HstResource* handle() const { return resource_; }
    const HstFilename* folder() const { return folder_; }

private:
    HstFilename* folder_ = nullptr;
    HstResource* resource_ = nullptr;
    bool tried_ = false;
};

ResourceHolder& resourceHolder();

// A module resource string by id (empty when missing).
inline HostString resourceString(int32_t id) { return resourceHolder().string(id); }
