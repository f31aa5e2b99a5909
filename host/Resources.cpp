// Reading a module's strings and dialog layouts (file formats described in Resources.h).
#include "Resources.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace host {

namespace {

struct KindName {
    GadgetKind kind;
    const char* name;
};

constexpr KindName kKindNames[] = {
    {GadgetKind::Group, "group"},       {GadgetKind::DropArea, "droparea"}, {GadgetKind::Checkbox, "checkbox"},
    {GadgetKind::Button, "button"},     {GadgetKind::Integer, "integer"},   {GadgetKind::Real, "real"},
    {GadgetKind::Percent, "percent"},   {GadgetKind::Text, "text"},         {GadgetKind::EditText, "edittext"},
    {GadgetKind::Filename, "filename"}, {GadgetKind::UserArea, "userarea"}, {GadgetKind::Color, "color"},
    {GadgetKind::Choice, "choice"},     {GadgetKind::Popup, "popup"},       {GadgetKind::RadioGroup, "radiogroup"},
    {GadgetKind::Radio, "radio"},       {GadgetKind::Entry, "entry"},
};

bool kindFromName(const std::string& word, GadgetKind& kind) {
    for (const KindName& k : kKindNames)
        if (word == k.name) {
            kind = k.kind;
            return true;
        }
    return false;
}

// One word of a line: a bare word or a quoted text (escapes resolved).
struct Token {
    std::string text;
    bool quoted = false;
};

// Splits a line into words; false (with `why`) on an unterminated quote or an unknown escape.
bool tokenize(const std::string& line, std::vector<Token>& tokens, std::string& why) {
    tokens.clear();
    size_t i = 0;
    const size_t n = line.size();
    while (i < n) {
        const char c = line[i];
        if (c == ' ' || c == '\t' || c == '\r') {
            ++i;
            continue;
        }
        if (c == '#') break;
        Token t;
        if (c == '"') {
            t.quoted = true;
            ++i;
            bool closed = false;
            while (i < n) {
                const char q = line[i++];
                if (q == '"') {
                    closed = true;
                    break;
                }
                if (q != '\\') {
                    t.text += q;
                    continue;
                }
                if (i >= n) break;
                const char e = line[i++];
                switch (e) {
                    case '"':
                        t.text += '"';
                        break;
                    case '\\':
                        t.text += '\\';
                        break;
                    case 'n':
                        t.text += '\n';
                        break;
                    case 't':
                        t.text += '\t';
                        break;
                    default:
                        why = std::string("unknown escape \\") + e;
                        return false;
                }
            }
            if (!closed) {
                why = "unterminated quoted text";
                return false;
            }
            // A quoted text must stand alone: `"a"b` is a mistake, not two words.
            if (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '#') {
                why = "text after a closing quote";
                return false;
            }
        } else {
            while (i < n && line[i] != ' ' && line[i] != '\t' && line[i] != '\r' && line[i] != '#') {
                if (line[i] == '"') {
                    why = "quote inside a word";
                    return false;
                }
                t.text += line[i++];
            }
        }
        tokens.push_back(std::move(t));
    }
    return true;
}

// A positive 32-bit identifier written as plain decimal digits.
bool parseId(const Token& t, int32_t& id) {
    if (t.quoted || t.text.empty()) return false;
    for (char c : t.text)
        if (c < '0' || c > '9') return false;
    long long v = 0;
    auto [end, ec] = std::from_chars(t.text.data(), t.text.data() + t.text.size(), v);
    if (ec != std::errc() || end != t.text.data() + t.text.size() || v <= 0 || v > INT32_MAX) return false;
    id = static_cast<int32_t>(v);
    return true;
}

void fail(std::string* error, const std::string& file, int line, const std::string& why) {
    if (error) *error = file + ":" + std::to_string(line) + ": " + why;
}

bool readFile(const std::filesystem::path& path, std::string& text) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::ostringstream s;
    s << in.rdbuf();
    if (in.bad()) return false;
    text = s.str();
    return true;
}

// Calls `each(lineNumber, line)` for every line; stops when it returns false.
template <class F>
bool forEachLine(const std::string& text, F each) {
    size_t start = 0;
    int number = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        ++number;
        if (!each(number, text.substr(start, end - start))) return false;
        if (end == text.size()) break;
        start = end + 1;
    }
    return true;
}

// May a gadget of `kind` sit inside a gadget of `parentKind` (or at the top, for a null parent)?
bool fits(GadgetKind kind, const LayoutGadget* parent, std::string& why) {
    if (kind == GadgetKind::Radio) {
        if (parent && parent->kind == GadgetKind::RadioGroup) return true;
        why = "a radio must be inside a radiogroup";
        return false;
    }
    if (kind == GadgetKind::Entry) {
        if (parent && (parent->kind == GadgetKind::Choice || parent->kind == GadgetKind::Popup)) return true;
        why = "an entry must be inside a choice or popup";
        return false;
    }
    if (!parent || isContainerKind(parent->kind)) return true;
    why = std::string("a ") + gadgetKindName(kind) + " cannot be inside the " + gadgetKindName(parent->kind) + " " +
          std::to_string(parent->id);
    return false;
}

}  // namespace

const char* gadgetKindName(GadgetKind kind) {
    for (const KindName& k : kKindNames)
        if (k.kind == kind) return k.name;
    return "?";
}

bool isChoiceKind(GadgetKind kind) {
    return kind == GadgetKind::Choice || kind == GadgetKind::Popup || kind == GadgetKind::RadioGroup;
}

bool isContainerKind(GadgetKind kind) { return kind == GadgetKind::Group || kind == GadgetKind::DropArea; }

const LayoutGadget* Layout::find(int32_t gadgetId) const {
    for (const LayoutGadget& g : gadgets)
        if (g.id == gadgetId) return &g;
    return nullptr;
}

std::vector<const LayoutGadget*> Layout::choices(int32_t gadgetId) const {
    std::vector<const LayoutGadget*> out;
    for (const LayoutGadget& g : gadgets)
        if (g.parent == gadgetId && (g.kind == GadgetKind::Radio || g.kind == GadgetKind::Entry)) out.push_back(&g);
    return out;
}

const std::string& ResourceSet::string(int32_t id) const {
    static const std::string empty;
    auto it = strings_.find(id);
    return it == strings_.end() ? empty : it->second;
}

const Layout* ResourceSet::layout(int32_t id) const {
    auto it = layouts_.find(id);
    return it == layouts_.end() ? nullptr : &it->second;
}

bool ResourceSet::readStrings(const std::string& text, const std::string& file, std::string* error) {
    std::vector<Token> tokens;
    std::string why;
    return forEachLine(text, [&](int number, const std::string& line) {
        if (!tokenize(line, tokens, why)) {
            fail(error, file, number, why);
            return false;
        }
        if (tokens.empty()) return true;
        int32_t id = 0;
        if (tokens.size() != 2 || !parseId(tokens[0], id) || !tokens[1].quoted) {
            fail(error, file, number, "expected: ID \"text\"");
            return false;
        }
        if (!strings_.emplace(id, tokens[1].text).second) {
            fail(error, file, number, "string " + std::to_string(id) + " is defined twice");
            return false;
        }
        return true;
    });
}

bool ResourceSet::readLayout(const std::string& text, const std::string& file, std::string* error) {
    Layout layout;
    layout.file = file;
    bool haveHeader = false;
    std::vector<Token> tokens;
    std::string why;

    // A label token: a quoted text or @ID of a string. A string missing from the strings file shows
    // as an empty label, as every missing resource string does, rather than losing all resources.
    auto label = [&](const Token& t, std::string& out) {
        if (t.quoted) {
            out = t.text;
            return true;
        }
        int32_t sid = 0;
        if (t.text.size() < 2 || t.text[0] != '@' || !parseId(Token{t.text.substr(1), false}, sid)) {
            why = "unexpected word '" + t.text + "'";
            return false;
        }
        out = string(sid);
        return true;
    };

    int headerLine = 1;
    const bool ok = forEachLine(text, [&](int number, const std::string& line) {
        why.clear();
        if (!tokenize(line, tokens, why)) {
            fail(error, file, number, why);
            return false;
        }
        if (tokens.empty()) return true;
        if (!haveHeader) {
            if (tokens[0].quoted || tokens[0].text != "dialog" || tokens.size() < 2 || !parseId(tokens[1], layout.id) ||
                tokens.size() > 3 || (tokens.size() == 3 && !label(tokens[2], layout.title))) {
                fail(error, file, number, why.empty() ? "expected: dialog ID [title]" : why);
                return false;
            }
            haveHeader = true;
            headerLine = number;
            return true;
        }
        LayoutGadget g;
        g.line = number;
        if (tokens[0].quoted || !kindFromName(tokens[0].text, g.kind)) {
            fail(error, file, number,
                 tokens[0].text == "dialog" ? "a second dialog line" : "unknown gadget kind '" + tokens[0].text + "'");
            return false;
        }
        if (tokens.size() < 2 || !parseId(tokens[1], g.id)) {
            fail(error, file, number, "expected a gadget identifier after the kind");
            return false;
        }
        if (g.id == layout.id || layout.find(g.id)) {
            fail(error, file, number, "identifier " + std::to_string(g.id) + " is used twice");
            return false;
        }
        size_t i = 2;
        if (i < tokens.size() && !tokens[i].quoted && tokens[i].text == "in") {
            if (i + 1 >= tokens.size() || !parseId(tokens[i + 1], g.parent)) {
                fail(error, file, number, "expected a parent identifier after 'in'");
                return false;
            }
            i += 2;
        }
        const LayoutGadget* parent = nullptr;
        if (g.parent != 0) {
            parent = layout.find(g.parent);
            if (!parent) {
                fail(error, file, number, "parent " + std::to_string(g.parent) + " is not on an earlier line");
                return false;
            }
        }
        if (!fits(g.kind, parent, why)) {
            fail(error, file, number, why);
            return false;
        }
        bool haveLabel = false;
        for (; i < tokens.size(); ++i) {
            const Token& t = tokens[i];
            if (!t.quoted && t.text == "disabled" && !g.disabled) {
                g.disabled = true;
                continue;
            }
            if (haveLabel || g.disabled || !label(t, g.label)) {
                if (haveLabel || g.disabled) why = "unexpected word '" + t.text + "'";
                fail(error, file, number, why);
                return false;
            }
            haveLabel = true;
        }
        layout.gadgets.push_back(std::move(g));
        return true;
    });
    if (!ok) return false;
    if (!haveHeader) {
        fail(error, file, 1, "no dialog line");
        return false;
    }
    if (layouts_.count(layout.id)) {
        fail(error, file, headerLine,
             "layout " + std::to_string(layout.id) + " is also defined in " + layouts_[layout.id].file);
        return false;
    }
    layouts_.emplace(layout.id, std::move(layout));
    return true;
}

std::unique_ptr<ResourceSet> ResourceSet::open(const std::string& moduleFolder, std::string* error) {
    namespace fs = std::filesystem;
    const fs::path res = fs::path(moduleFolder) / "res";
    std::error_code ec;
    if (!fs::is_directory(res, ec)) {
        if (error) *error = res.string() + ": no resource folder";
        return nullptr;
    }
    auto set = std::make_unique<ResourceSet>();
    set->folder_ = moduleFolder;
    const fs::path stringsPath = res / "strings.txt";
    std::string text;
    if (!fs::is_regular_file(stringsPath, ec) || !readFile(stringsPath, text)) {
        if (error) *error = stringsPath.string() + ": cannot read the strings file";
        return nullptr;
    }
    if (!set->readStrings(text, stringsPath.string(), error)) return nullptr;

    const fs::path dialogs = res / "dialogs";
    if (!fs::exists(dialogs, ec)) return set;
    std::vector<fs::path> files;
    for (fs::directory_iterator it(dialogs, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == ".dlg") files.push_back(it->path());
    if (ec) {
        if (error) *error = dialogs.string() + ": " + ec.message();
        return nullptr;
    }
    std::sort(files.begin(), files.end());
    for (const fs::path& f : files) {
        if (!readFile(f, text)) {
            if (error) *error = f.string() + ": cannot read the layout file";
            return nullptr;
        }
        if (!set->readLayout(text, f.string(), error)) return nullptr;
    }
    return set;
}

}  // namespace host
