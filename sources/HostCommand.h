// Base of the module's command plug-ins. The host calls the operations of HostCommandBase; command
// objects live in host memory (hostNew) and the host destroys them once they are registered.
#pragma once

#include "sources/HostInterface.h"

class HostCommand : public HostCommandBase {
public:
    HostCommand() = default;
    HostCommand(const HostCommand&) = delete;
    HostCommand& operator=(const HostCommand&) = delete;
};
