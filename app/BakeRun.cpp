#include "BakeRun.h"

#include <filesystem>
#include <map>

#include "BakedAsset.h"
#include "OptionText.h"
#include "CommandFailure.h"
#include "HostSession.h"
#include "host/Dialogs.h"
#include "host/EventQueue.h"
#include "host/StatusBar.h"
#include "host/Threads.h"
#include "host/formats/BakedMapImages.h"
#include "sources/HostContract.h"
#include "sources/ResourceIds.h"

namespace fs = std::filesystem;

namespace app {
namespace {

void collect(host::Object* o, std::vector<host::Object*>& out) {
    out.push_back(o);
    for (const auto& c : o->children()) collect(c.get(), out);
}

// The object an argument names among the objects of its file; null with `error` set when there is none.
host::PolygonObject* pickObject(const std::string& option, const std::string& file, const std::string& name,
                                const std::vector<host::Object*>& loaded, std::string& error) {
    std::vector<host::Object*> all;
    for (host::Object* o : loaded) collect(o, all);
    std::vector<std::string> names;
    std::vector<host::Object*> polygonObjects;
    for (host::Object* o : all) {
        names.push_back("\"" + o->name() + "\"");
        if (o->isPolygonObject()) polygonObjects.push_back(o);
    }
    if (!name.empty()) {
        for (host::Object* o : all)
            if (o->name() == name) {
                if (o->isPolygonObject()) return static_cast<host::PolygonObject*>(o);
                error = option + ": the object \"" + name + "\" of " + file + " is not a polygon object";
                return nullptr;
            }
        error = option + ": " + file + " has no object \"" + name + "\" (it has " + joined(names) + ")";
        return nullptr;
    }
    if (polygonObjects.size() == 1) return static_cast<host::PolygonObject*>(polygonObjects.front());
    if (polygonObjects.empty())
        error = option + ": " + file + " holds no polygon object";
    else
        error = option + ": " + file + " holds several objects (" + joined(names) + "); name one as " + file +
                ":OBJECT";
    return nullptr;
}

// Works the open baking dialog; each step reports what it could not do.
class DialogHand {
public:
    DialogHand(HostSession& session, HostDialogBase* dialog) : dialogs_(session.dialogs()), dialog_(dialog) {}

    bool set(int32_t gadget, const host::UserValue& value, const std::string& what) {
        return check(dialogs_.setByUser(dialog_, gadget, value), what);
    }
    bool choose(int32_t gadget, int32_t entry, const std::string& what) {
        return check(dialogs_.choose(dialog_, gadget, entry), what);
    }
    // Presses a choose button and answers the file chooser with `path`; the file gadget must then
    // show it.
    bool chooseFile(int32_t button, int32_t fileGadget, const std::string& path, const std::string& what) {
        dialogs_.queueFileAnswer(path);
        std::string shown;
        return check(dialogs_.press(dialog_, button) && dialogs_.getFilename(dialog_, fileGadget, shown) &&
                         shown == path,
                     what);
    }
    // Drops one item on a drop area, as a drag that ends there; the name gadget must then show it.
    bool drop(int32_t area, int32_t nameGadget, const host::DragItem& item, const std::string& name,
              const std::string& what) {
        const host::DropResult r = dialogs_.drop(dialog_, area, {item}, true);
        std::string shown;
        return check(r.delivered && r.cursor == BAKE_CURSOR_ACCEPTED &&
                         dialogs_.getString(dialog_, nameGadget, shown) && shown == name,
                     what);
    }

    const std::string& failed() const { return failed_; }

private:
    bool check(bool ok, const std::string& what) {
        if (!ok && failed_.empty()) failed_ = what;
        return ok;
    }
    host::DialogHost& dialogs_;
    HostDialogBase* dialog_;
    std::string failed_;
};

// Sets every gadget from the plan and the options, as a person at the dialog would.
bool fillDialog(DialogHand& hand, const BakePlan& plan) {
    bool ok = hand.set(IDC_BAKE_WIDTH, plan.width, "the width") && hand.set(IDC_BAKE_HEIGHT, plan.height, "the height") &&
              hand.choose(IDC_BAKE_SUPERSAMPLING, IDC_BAKE_SUPERSAMPLING + plan.supersampling, "the supersampling") &&
              hand.choose(IDC_BAKE_FORMAT, plan.format->choice, "the file format") &&
              hand.choose(IDC_BAKE_BITS,
                          plan.bits == 32 ? IDC_BAKE_BITS_32 : plan.bits == 16 ? IDC_BAKE_BITS_16 : IDC_BAKE_BITS_8,
                          "the bit depth");
    const bool normal = plan.wants(IDC_BAKE_NORMAL_ON), occlusion = plan.wants(IDC_BAKE_OCCLUSION_ON),
               displacement = plan.wants(IDC_BAKE_DISPLACEMENT_ON);
    ok = ok && hand.set(IDC_BAKE_NORMAL_ON, normal, "the normal map switch") &&
         hand.set(IDC_BAKE_OCCLUSION_ON, occlusion, "the occlusion map switch") &&
         hand.set(IDC_BAKE_DISPLACEMENT_ON, displacement, "the displacement map switch");
    for (const MapRequest& m : plan.maps)
        ok = ok && hand.chooseFile(m.chooseButton, m.fileGadget, m.path, std::string("the ") + m.what + " file");
    if (normal)
        ok = ok && hand.choose(IDC_BAKE_NORMAL_Y, plan.normalYDown ? IDC_BAKE_NORMAL_Y_DOWN : IDC_BAKE_NORMAL_Y_UP,
                               "the normal map's green channel");
    if (occlusion)
        ok = ok && hand.choose(IDC_BAKE_OCCLUSION_GRID, IDC_BAKE_OCCLUSION_GRID + plan.aoGrid, "the occlusion grid") &&
             hand.set(IDC_BAKE_OCCLUSION_RANDOM, plan.aoRandom, "the random directions switch") &&
             hand.choose(IDC_BAKE_OCCLUDERS, IDC_BAKE_OCCLUDERS + 1 + plan.occluderMode, "the occluders") &&
             hand.set(IDC_BAKE_OCCLUSION_EXPONENT, plan.aoExponent, "the occlusion exponent") &&
             hand.choose(IDC_BAKE_HALF_SPACE, IDC_BAKE_HALF_SPACE + 1 + plan.halfSpace, "the blocked half-space");
    if (!plan.bump.empty())
        ok = ok && hand.chooseFile(IDC_BAKE_BUMP_CHOOSE, IDC_BAKE_BUMP_FILE, plan.bump, "the bump image") &&
             hand.set(IDC_BAKE_BUMP_STRENGTH, plan.bumpStrength, "the bump strength");
    return ok;
}

// The high and low objects of the plan, in one document with the scene's files; null with `error` set
// when a file cannot be read or holds no such object.
struct BakeObjects {
    host::PolygonObject* high = nullptr;
    host::PolygonObject* low = nullptr;
};
bool loadObjects(HostSession& session, const BakePlan& plan, BakeObjects& objects, std::string& error) {
    // Every file goes into the one document, each file once.
    std::map<std::string, std::vector<host::Object*>> files;
    auto load = [&](const std::string& file) -> const std::vector<host::Object*>* {
        std::error_code ec;
        const std::string key = fs::absolute(file, ec).lexically_normal().string();
        if (auto it = files.find(key); it != files.end()) return &it->second;
        std::vector<host::Object*> loaded;
        if (!session.loadFile(file, &loaded, &error)) return nullptr;
        std::vector<host::Object*>& slot = files[key];
        slot = std::move(loaded);
        return &slot;
    };
    const std::vector<host::Object*>* highObjects = load(plan.highFile);
    if (!highObjects) return false;
    const std::vector<host::Object*>* lowObjects = load(plan.lowFile);
    if (!lowObjects) return false;
    for (const std::string& f : plan.scene)
        if (!load(f)) return false;

    objects.high = pickObject("--high", plan.highFile, plan.highName, *highObjects, error);
    if (!objects.high) return false;
    objects.low = pickObject("--low", plan.lowFile, plan.lowName, *lowObjects, error);
    if (!objects.low) return false;
    if (!objects.low->tag(host::TAG_UVW)) {
        error = "the low object \"" + objects.low->name() + "\" of " + plan.lowFile +
                " has no texture coordinates (UVs): the maps are baked over its UV layout";
        return false;
    }
    if (!plan.bump.empty() && !objects.high->tag(host::TAG_UVW)) {
        error = "--bump needs texture coordinates (UVs) on the high object \"" + objects.high->name() + "\"";
        return false;
    }
    return true;
}

// The files of a bake that were not there before it, to be taken away again when it fails or is
// stopped.
class NewFiles {
public:
    explicit NewFiles(const BakePlan& plan) {
        for (const auto& [option, path] : plan.outputs()) {
            paths_.push_back(path);
            // A link counts as there even when it points at nothing yet: it is never removed.
            std::error_code ec;
            existed_.push_back(fs::exists(fs::symlink_status(path, ec)));
        }
    }
    void remove() const {
        for (size_t i = 0; i < paths_.size(); ++i) {
            std::error_code ec;
            if (!existed_[i]) fs::remove(paths_[i], ec);
        }
    }

private:
    std::vector<std::string> paths_;
    std::vector<bool> existed_;
};

// How the bake ended: stopped by Ctrl-C, the outcome its end message carried, the status line then.
struct BakeEnd {
    bool stopped = false;
    int32_t outcome = BAKE_END_FAILED;
    std::string status;
};

// Presses bake and shows the dialog's status line on stderr until the bake's end message; Ctrl-C
// presses stop. False when the bake could not be started.
bool bakeAndWait(HostSession& session, HostDialogBase* dialog, const std::string& announcement, BakeEnd& end,
                 std::ostream& err) {
    bool ended = false;
    host::DialogHost& dialogs = session.dialogs();
    dialogs.setEventObserver([&ended, &end](const host::Event& e) {
        if (e.kind != host::Event::Kind::DialogMessage || e.id != OMBRIN_ID) return;
        ended = true;
        end.outcome = e.value1;
    });
    if (!dialogs.press(dialog, IDC_BAKE_START)) {
        dialogs.setEventObserver({});
        return false;
    }
    host::StatusBar& status = host::StatusBar::main();
    std::string shown;
    bool announced = false;
    end.stopped = !session.waitFor(
        [&] {
            if (!announced) {
                err << "vexlor bake: " << announcement << " (Ctrl-C stops)" << std::endl;
                announced = true;
            }
            std::string text;
            if (dialogs.getString(dialog, IDC_BAKE_STATUS, text) && text != shown && !text.empty()) status.text(text);
            shown = text;
            return ended;
        },
        [&] { dialogs.press(dialog, IDC_BAKE_START); });
    dialogs.setEventObserver({});
    status.clear();
    dialogs.getString(dialog, IDC_BAKE_STATUS, end.status);
    return true;
}

// The low object with the maps of the plan as a glTF asset.
bool writeAsset(const BakePlan& plan, const host::PolygonObject& low, std::string& error) {
    std::string normalPath, occlusionPath;
    for (const MapRequest& m : plan.maps) {
        if (m.checkbox == IDC_BAKE_NORMAL_ON) normalPath = m.path;
        if (m.checkbox == IDC_BAKE_OCCLUSION_ON) occlusionPath = m.path;
    }
    // A copy that carries the smooth normals the maps were baked over.
    std::unique_ptr<host::Object> copy = low.cloneAlone();
    auto* shaded = static_cast<host::PolygonObject*>(copy.get());
    host::formats::keepBakedNormals(*shaded);
    host::formats::BakedMapsOf baked;
    return host::formats::bakedMapsFromFiles(normalPath, plan.normalYDown, occlusionPath, baked[shaded], error) &&
           writeBakedAsset(plan.asset, {shaded}, baked, error);
}

// A line for each file written.
void printWritten(const BakePlan& plan, const std::string& lowName, std::ostream& out) {
    for (const MapRequest& m : plan.maps) {
        if (m.checkbox == IDC_BAKE_NORMAL_ON && plan.normalForAssetOnly) continue;  // made only for the asset
        out << m.what << ": " << m.path << " (" << plan.width << " x " << plan.height;
        if (plan.format->choice == IDC_BAKE_FORMAT_EXR)
            out << ", " << (plan.bits == 32 ? "float" : "half");
        else if (plan.bits != 8)
            out << ", " << plan.bits << " bits";
        out << ")";
        if (m.checkbox == IDC_BAKE_DISPLACEMENT_ON && plan.format->choice != IDC_BAKE_FORMAT_EXR)
            out << ", scale in " << fs::path(m.path).replace_extension("txt").string();
        else if (m.checkbox == IDC_BAKE_DISPLACEMENT_ON)
            out << ", signed distances in scene units";
        out << "\n";
    }
    if (!plan.asset.empty())
        out << "asset: " << plan.asset << " (\"" << lowName << "\" with its "
            << (!plan.wants(IDC_BAKE_OCCLUSION_ON) ? "normal map" : "normal and occlusion maps") << ", glTF)\n";
}

}  // namespace

int runBake(const std::string& moduleDir, const BakePlan& plan, std::ostream& out, std::ostream& err) {
    const CommandFailure fail(err, "bake");
    // A normal map baked for the asset alone goes once the run ends, however it ends.
    TemporaryFiles assetNormal;
    if (plan.normalForAssetOnly)
        for (const MapRequest& m : plan.maps)
            if (m.checkbox == IDC_BAKE_NORMAL_ON) assetNormal.paths.push_back(m.path);

    std::string error;
    std::unique_ptr<HostSession> session = HostSession::start(moduleDir, &error);
    if (!session) return fail(error);
    // The module asks the host how many worker threads to run: the host's setting, as asked here.
    host::setWorkerThreadCount(plan.threads);
    BakeObjects objects;
    if (!loadObjects(*session, plan, objects, error)) return fail(error);

    HostDialogBase* dialog = session->openCommand(OMBRIN_ID, &error);
    if (!dialog) return fail(error);
    DialogHand hand(*session, dialog);
    host::PolygonObject *high = objects.high, *low = objects.low;
    // With a bump image the high object is given by its UVW tag, over which the image lies.
    const host::DragItem highItem =
        plan.bump.empty() ? host::DragItem::object(high) : host::DragItem::tag(high->tag(host::TAG_UVW));
    if (!hand.drop(IDC_BAKE_HIGH_DROP, IDC_BAKE_HIGH_NAME, highItem, high->name(), "the high object") ||
        !hand.drop(IDC_BAKE_LOW_DROP, IDC_BAKE_LOW_NAME, host::DragItem::object(low), low->name(), "the low object") ||
        !fillDialog(hand, plan))
        return fail("the baking dialog did not take " + hand.failed());
    if (!session->dialogs().usable(dialog, IDC_BAKE_START)) return fail("the baking dialog does not offer the bake");
    if (plan.showDialog) out << session->dialogs().render(dialog) << std::flush;

    const NewFiles made(plan);
    BakeEnd end;
    const std::string announcement = "baking \"" + low->name() + "\" from \"" + high->name() + "\", " +
                                     std::to_string(plan.width) + " x " + std::to_string(plan.height);
    if (!bakeAndWait(*session, dialog, announcement, end, err)) return fail("the bake button could not be pressed");
    if (end.stopped) {
        made.remove();
        err << "vexlor bake: stopped; no map was written\n";
        return kInterruptedExit;
    }
    if (end.outcome != BAKE_END_DONE) {
        // The status line says why, in the dialog's words.
        made.remove();
        return fail("the bake failed (" + end.status + "); no map was written");
    }
    if (!plan.asset.empty() && !writeAsset(plan, *low, error)) {
        made.remove();
        return fail("the asset could not be written (" + error + "); no map was kept");
    }
    printWritten(plan, low->name(), out);
    return 0;
}

}  // namespace app
