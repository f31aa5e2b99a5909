// The resources of a module folder: its user-visible strings and its dialog layouts, read from
// <folder>/res/strings.txt and <folder>/res/dialogs/*.dlg.
//
// Both files are plain UTF-8 text, read line by line. Blank lines are ignored; a '#' outside a
// quoted text starts a comment that runs to the end of the line. Words are separated by spaces or
// tabs. A quoted text is written between double quotes and may hold the escapes \" (a quote),
// \\ (a backslash), \n (a line break) and \t (a tab); any other backslash sequence is an error.
//
// strings.txt: one string per line, its identifier and its text.
//
//     10117 "Vexlor Reduce"
//     10133 "The bake failed or was stopped."
//
// An identifier appears at most once. The strings file must exist: a module folder without
// res/strings.txt has no resources at all.
//
// <name>.dlg: one dialog layout per file. The first line that is not blank or a comment names the
// layout and its title; every further line is one gadget, in the order a person reads them.
//
//     dialog 10023 @10124                  # layout id, title (a quoted text or @string-id)
//     group    10024 "Bake settings"
//     droparea 10026 in 10024 "High-resolution object"
//     integer  10040 in 10024 "Width"
//     choice   10058 in 10024 "Bit depth" disabled
//     entry    10059 in 10058 "8 bits"
//
// A gadget line is:  KIND ID [in PARENT] [LABEL] [disabled]
//   KIND     one of the kinds below
//   ID       the gadget's identifier, a positive integer, unique within the layout
//   PARENT   the enclosing gadget, which must appear on an earlier line; top-level gadgets have none
//   LABEL    a quoted text, or @ID for a text of strings.txt (the string must exist); may be left out
//   disabled the gadget starts disabled
//
// Kinds and what may enclose them:
//   group, droparea            containers; inside the dialog, a group or a drop area
//   checkbox, button, integer, real, percent (a real shown x100 with "%"), text (static text),
//   edittext, filename, userarea, color, choice (cycle), popup, radiogroup
//                              inside the dialog, a group or a drop area
//   radio                      a value of a radio group: must be inside a radiogroup
//   entry                      a value of a choice or popup: must be inside a choice or popup
//
// Any other line (unknown kind or word, a missing or doubled identifier, a parent that is not there
// or cannot hold the gadget, a layout identifier used by two files) makes the whole set fail to
// open, with an error naming the file and the line.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace host {

enum class GadgetKind {
    Group,
    DropArea,
    Checkbox,
    Button,
    Integer,
    Real,
    Percent,
    Text,
    EditText,
    Filename,
    UserArea,
    Color,
    Choice,
    Popup,
    RadioGroup,
    Radio,
    Entry,
};

// The kind's word in a layout file ("radiogroup", ...).
const char* gadgetKindName(GadgetKind kind);
// True for the kinds whose values are chosen from child gadgets (choice, popup, radio group).
bool isChoiceKind(GadgetKind kind);
// True for the kinds that hold other gadgets (group, drop area).
bool isContainerKind(GadgetKind kind);

struct LayoutGadget {
    int32_t id = 0;
    GadgetKind kind = GadgetKind::Group;
    int32_t parent = 0;  // 0: top level
    std::string label;
    bool disabled = false;
    int line = 0;  // where it was written
};

struct Layout {
    int32_t id = 0;
    std::string title;
    std::string file;
    std::vector<LayoutGadget> gadgets;  // in file order

    const LayoutGadget* find(int32_t id) const;
    // The entries (or radios) of a choice, popup or radio group, in file order.
    std::vector<const LayoutGadget*> choices(int32_t id) const;
};

class ResourceSet {
public:
    // Reads <moduleFolder>/res/strings.txt and every <moduleFolder>/res/dialogs/*.dlg (in name
    // order; a missing dialogs folder means no layouts). Null when res/ or the strings file is
    // missing or a file is malformed; `error` then says which file and line, and why.
    static std::unique_ptr<ResourceSet> open(const std::string& moduleFolder, std::string* error = nullptr);

    // The string of an identifier, or "" when there is none.
    const std::string& string(int32_t id) const;
    bool hasString(int32_t id) const { return strings_.count(id) != 0; }
    // The layout of an identifier, or null.
    const Layout* layout(int32_t id) const;

    const std::map<int32_t, std::string>& strings() const { return strings_; }
    const std::map<int32_t, Layout>& layouts() const { return layouts_; }
    const std::string& folder() const { return folder_; }

    // Reading from text (what open() does for each file); `file` names the text in errors.
    bool readStrings(const std::string& text, const std::string& file, std::string* error);
    bool readLayout(const std::string& text, const std::string& file, std::string* error);

private:
    std::string folder_;
    std::map<int32_t, std::string> strings_;
    std::map<int32_t, Layout> layouts_;
};

}  // namespace host
