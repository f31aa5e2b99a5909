#include "host/HostServices.h"

namespace host {

HostServices::HostServices() {
    events.setHandler([this](const Event& e) { dialogs.deliver(e); });
}

HostServices& hostServices() {
    static HostServices* const services = new HostServices();
    return *services;
}

EventQueue& EventQueue::main() { return hostServices().events; }
DialogHost& DialogHost::main() { return hostServices().dialogs; }
StatusBar& StatusBar::main() { return hostServices().statusBar; }
Console& Console::main() { return hostServices().console; }
PluginRegistry& PluginRegistry::main() { return hostServices().plugins; }

}  // namespace host
