#include "ShowDialogCommand.h"

#include "HostSession.h"
#include "sources/HostContract.h"

namespace app {

int runShowDialog(const std::string& moduleDir, const std::string& command, const std::vector<std::string>& files,
                  std::ostream& out, std::ostream& err) {
    int32_t id = 0;
    if (command == "reduce")
        id = VEXLOR_ID;
    else if (command == "bake")
        id = OMBRIN_ID;
    else {
        err << "vexlor: no command \"" << command << "\" (choose reduce or bake)\n";
        return 2;
    }
    std::string error;
    std::unique_ptr<HostSession> session = HostSession::start(moduleDir, &error);
    if (!session) {
        err << "vexlor: " << error << "\n";
        return 1;
    }
    std::vector<host::Object*> all;
    for (const std::string& f : files) {
        std::vector<host::Object*> loaded;
        if (!session->loadFile(f, &loaded, &error)) {
            err << "vexlor: " << error << "\n";
            return 1;
        }
        all.insert(all.end(), loaded.begin(), loaded.end());
    }
    session->select(all);
    HostDialogBase* dialog = session->openCommand(id, &error);
    if (!dialog) {
        err << "vexlor: " << error << "\n";
        return 1;
    }
    out << session->dialogs().render(dialog);
    return 0;
}

}  // namespace app
