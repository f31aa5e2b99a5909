#include "host/formats/ColladaCheck.h"

#include <algorithm>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "host/formats/ReaderLimits.h"

namespace host::formats {
namespace {

// Whole numbers of the lists and attributes we check: at most nine digits, so that sums and
// products of a few of them fit 64 bits.
constexpr uint64_t kMaxNumber = 999999999;
// Element nesting: the node tree and the few levels of the document around it.
constexpr int kMaxElementDepth = kMaxHierarchyDepth + 64;

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// A whole number of at most nine digits, nothing else.
bool wholeNumber(std::string_view s, uint64_t& out) {
    if (s.empty() || s.size() > 9) return false;
    out = 0;
    for (char c : s) {
        if (c < '0' || c > '9') return false;
        out = out * 10 + static_cast<uint64_t>(c - '0');
    }
    return true;
}

std::string_view localName(std::string_view name) {
    const size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

bool isArray(std::string_view name) {
    return name == "float_array" || name == "int_array" || name == "Name_array" || name == "IDREF_array" ||
           name == "bool_array" || name == "SIDREF_array" || name == "token_array";
}

bool isIndexList(std::string_view name) { return name == "p" || name == "vcount" || name == "v" || name == "h"; }

bool isPrimitive(std::string_view name) {
    return name == "triangles" || name == "polylist" || name == "polygons" || name == "lines" ||
           name == "linestrips" || name == "trifans" || name == "tristrips" || name == "vertex_weights";
}

struct Attribute {
    std::string_view name, value;
};

struct Element {
    std::string_view name;
    size_t textTokens = 0;    // whitespace-separated tokens of the element's own text
    std::string text;         // kept only for index lists (checked token by token)
};

// What a primitive (or a skin's vertex weights) has seen while it is open.
struct Primitive {
    std::string_view kind;
    uint64_t count = 0;
    bool hasCount = false;
    uint64_t maxOffset = 0;
    uint64_t indexTokens = 0;   // tokens of its <p> and <v> lists
    uint64_t vcountSum = 0;     // sum of its <vcount> values
    uint64_t vcountTokens = 0;
};

struct Accessor {
    uint64_t count = 0, offset = 0, stride = 1, params = 0;
    std::string source;
};

class Scan {
public:
    explicit Scan(std::string_view xml) : x_(xml) {}

    std::string run() {
        while (problem_.empty() && at_ < x_.size()) {
            const size_t lt = x_.find('<', at_);
            text(x_.substr(at_, (lt == std::string_view::npos ? x_.size() : lt) - at_));
            if (lt == std::string_view::npos) break;
            at_ = lt;
            markup();
        }
        if (problem_.empty()) instances();
        return problem_;
    }

private:
    void fail(std::string why) {
        if (problem_.empty() && !why.empty()) problem_ = std::move(why);
    }

    void text(std::string_view t) {
        if (stack_.empty() || t.empty()) return;
        Element& e = stack_.back();
        if (isIndexList(localName(e.name)) || isArray(localName(e.name))) {
            // Tokens counted across pieces (a comment may split the text): a token cut at a piece's
            // edge is rejoined by keeping the text of index lists and counting arrays at the end.
            e.text.append(t.data(), t.size());
        }
    }

    void skipTo(std::string_view end) {
        const size_t found = x_.find(end, at_);
        at_ = found == std::string_view::npos ? x_.size() : found + end.size();
    }

    void markup() {
        const std::string_view rest = x_.substr(at_);
        if (rest.substr(0, 4) == "<!--") return skipTo("-->");
        if (rest.substr(0, 9) == "<![CDATA[") {
            const size_t begin = at_ + 9;
            skipTo("]]>");
            const size_t end = at_ >= begin + 3 ? at_ - 3 : begin;
            text(x_.substr(begin, end - begin));
            return;
        }
        if (rest.substr(0, 2) == "<?") return skipTo("?>");
        if (rest.substr(0, 2) == "<!") {
            // A declaration, perhaps with an internal subset in brackets.
            int brackets = 0;
            for (++at_; at_ < x_.size(); ++at_) {
                if (x_[at_] == '[') ++brackets;
                if (x_[at_] == ']') --brackets;
                if (x_[at_] == '>' && brackets <= 0) break;
            }
            ++at_;
            return;
        }
        if (rest.substr(0, 2) == "</") {
            size_t i = at_ + 2;
            while (i < x_.size() && x_[i] != '>' && !isSpace(x_[i])) ++i;
            const std::string_view name = x_.substr(at_ + 2, i - at_ - 2);
            at_ = x_.find('>', i);
            at_ = at_ == std::string_view::npos ? x_.size() : at_ + 1;
            close(name);
            return;
        }
        // A start tag: its name, its attributes, and whether it closes itself.
        size_t i = at_ + 1;
        while (i < x_.size() && x_[i] != '>' && x_[i] != '/' && !isSpace(x_[i])) ++i;
        const std::string_view name = x_.substr(at_ + 1, i - at_ - 1);
        std::vector<Attribute> attributes;
        bool selfClosing = false;
        for (;;) {
            while (i < x_.size() && isSpace(x_[i])) ++i;
            if (i >= x_.size()) break;
            if (x_[i] == '>') {
                ++i;
                break;
            }
            if (x_[i] == '/') {
                selfClosing = true;
                ++i;
                continue;
            }
            const size_t nameStart = i;
            while (i < x_.size() && x_[i] != '=' && x_[i] != '>' && !isSpace(x_[i])) ++i;
            const std::string_view attribute = x_.substr(nameStart, i - nameStart);
            while (i < x_.size() && isSpace(x_[i])) ++i;
            if (i >= x_.size() || x_[i] != '=') {
                if (i == nameStart) ++i;  // a stray character: step over it
                continue;
            }
            ++i;
            while (i < x_.size() && isSpace(x_[i])) ++i;
            if (i >= x_.size() || (x_[i] != '"' && x_[i] != '\'')) continue;
            const char quote = x_[i++];
            const size_t valueStart = i;
            while (i < x_.size() && x_[i] != quote) ++i;
            attributes.push_back({localName(attribute), x_.substr(valueStart, i - valueStart)});
            if (i < x_.size()) ++i;
        }
        at_ = i;
        open(name, attributes);
        if (selfClosing) close(name);
    }

    const std::string_view* attribute(const std::vector<Attribute>& attributes, std::string_view name) {
        for (const Attribute& a : attributes)
            if (a.name == name) return &a.value;
        return nullptr;
    }

    // A number attribute: absent is fine (`present` false), anything but a whole number is refused.
    bool numberAttribute(std::string_view element, const std::vector<Attribute>& attributes, std::string_view name,
                         uint64_t& out, bool* present = nullptr) {
        const std::string_view* v = attribute(attributes, name);
        if (present) *present = v != nullptr;
        if (!v) return true;
        if (!wholeNumber(*v, out)) {
            fail("a <" + std::string(element) + "> whose " + std::string(name) + " \"" +
                 printable(v->substr(0, 20)) + "\" is not a whole number up to " + std::to_string(kMaxNumber));
            return false;
        }
        return true;
    }

    void open(std::string_view fullName, const std::vector<Attribute>& attributes) {
        const std::string_view name = localName(fullName);
        if (static_cast<int>(stack_.size()) >= kMaxElementDepth) {
            fail("the XML nests deeper than " + std::to_string(kMaxElementDepth) + " elements, more than we read");
            return;
        }
        stack_.push_back(Element{fullName, 0, {}});
        if (isArray(name)) {
            uint64_t count = 0;
            bool present = false;
            if (!numberAttribute(name, attributes, "count", count, &present)) return;
            arrayCounts_.push_back(present ? static_cast<int64_t>(count) : -1);
            if (const std::string_view* id = attribute(attributes, "id")) arrayId_.push_back(std::string(*id));
            else arrayId_.emplace_back();
        } else if (name == "accessor") {
            Accessor a;
            if (!numberAttribute(name, attributes, "count", a.count) ||
                !numberAttribute(name, attributes, "offset", a.offset) ||
                !numberAttribute(name, attributes, "stride", a.stride))
                return;
            if (a.stride == 0) return fail("an <accessor> with a stride of 0");
            if (const std::string_view* s = attribute(attributes, "source"); s && !s->empty() && s->front() == '#')
                a.source = std::string(s->substr(1));
            accessors_.push_back(a);
        } else if (name == "param" && !accessors_.empty() && inside("accessor")) {
            ++accessors_.back().params;
        } else if (isPrimitive(name)) {
            Primitive p;
            p.kind = name;
            if (!numberAttribute(name, attributes, "count", p.count, &p.hasCount)) return;
            primitives_.push_back(p);
        } else if (name == "input" && !primitives_.empty() && inside(primitives_.back().kind)) {
            uint64_t offset = 0;
            if (!numberAttribute(name, attributes, "offset", offset)) return;
            uint64_t set = 0;
            if (!numberAttribute(name, attributes, "set", set)) return;
            primitives_.back().maxOffset = std::max(primitives_.back().maxOffset, offset);
        } else if (name == "node") {
            const int index = static_cast<int>(edges_.size());
            edges_.emplace_back();
            if (!nodeStack_.empty()) edges_[nodeStack_.back()].push_back(index);
            if (static_cast<int>(nodeStack_.size()) >= kMaxHierarchyDepth) {
                fail("the node hierarchy is deeper than " + std::to_string(kMaxHierarchyDepth) + " levels, more than we read");
                return;
            }
            nodeStack_.push_back(index);
            if (const std::string_view* id = attribute(attributes, "id")) nodeOfId_.emplace(std::string(*id), index);
        } else if (name == "instance_node" && !nodeStack_.empty()) {
            if (const std::string_view* url = attribute(attributes, "url"); url && !url->empty() && url->front() == '#')
                instances_.push_back({nodeStack_.back(), std::string(url->substr(1))});
        }
    }

    bool inside(std::string_view name) const {
        return stack_.size() >= 2 && localName(stack_[stack_.size() - 2].name) == name;
    }

    void close(std::string_view fullName) {
        // An end tag that does not match the open element is the parser's to refuse; the scan pops
        // up to the element it names (or nothing when none is open by that name).
        auto it = std::find_if(stack_.rbegin(), stack_.rend(), [&](const Element& e) { return e.name == fullName; });
        if (it == stack_.rend()) return;
        while (problem_.empty() && !stack_.empty()) {
            const bool last = stack_.back().name == fullName;
            finish(stack_.back());
            stack_.pop_back();
            if (last) break;
        }
    }

    void finish(Element& e) {
        const std::string_view name = localName(e.name);
        if (isArray(name)) {
            size_t tokens = 0;
            bool inToken = false;
            for (char c : e.text) {
                if (isSpace(c)) inToken = false;
                else if (!inToken) ++tokens, inToken = true;
            }
            const int64_t count = arrayCounts_.back();
            if (count >= 0 && static_cast<uint64_t>(count) > tokens)
                return fail("a <" + std::string(name) + "> of count " + std::to_string(count) + " holds only " +
                            std::to_string(tokens) + " values");
            arraySize_[arrayId_.back()] = count >= 0 ? static_cast<uint64_t>(count) : tokens;
            arrayCounts_.pop_back();
            arrayId_.pop_back();
        } else if (isIndexList(name)) {
            uint64_t tokens = 0, sum = 0;
            size_t i = 0;
            const std::string& t = e.text;
            while (i < t.size()) {
                while (i < t.size() && isSpace(t[i])) ++i;
                const size_t start = i;
                while (i < t.size() && !isSpace(t[i])) ++i;
                if (i == start) break;
                uint64_t value = 0;
                if (!wholeNumber(std::string_view(t).substr(start, i - start), value))
                    return fail("a <" + std::string(name) + "> list holds \"" + printable(std::string_view(t).substr(start, std::min<size_t>(i - start, 20))) +
                                "\", which is not a whole number up to " + std::to_string(kMaxNumber));
                ++tokens;
                sum += value;
            }
            if (!primitives_.empty() && inside(primitives_.back().kind)) {
                Primitive& p = primitives_.back();
                if (name == "vcount") {
                    p.vcountSum += sum;
                    p.vcountTokens += tokens;
                } else if (name == "p" || name == "v") {
                    p.indexTokens += tokens;
                }
            }
        } else if (name == "accessor" && !accessors_.empty()) {
            // Checked at the end: the array it reads may come after it.
            finishedAccessors_.push_back(accessors_.back());
            accessors_.pop_back();
        } else if (isPrimitive(name) && !primitives_.empty()) {
            const Primitive p = primitives_.back();
            primitives_.pop_back();
            const uint64_t perVertex = p.maxOffset + 1;
            uint64_t vertices = p.vcountSum;
            if (p.kind == "triangles") vertices = 3 * p.count;
            if (p.kind == "lines") vertices = 2 * p.count;
            const bool counted = p.kind == "triangles" || p.kind == "lines" || p.kind == "polylist" ||
                                 p.kind == "vertex_weights";
            if (counted && vertices * perVertex > p.indexTokens)
                fail("a <" + std::string(p.kind) + "> asks for " + std::to_string(vertices) + " vertices of " +
                     std::to_string(perVertex) + " indices each, more than the " + std::to_string(p.indexTokens) +
                     " indices it holds");
            else if (p.hasCount && p.count > p.indexTokens + p.vcountTokens)
                fail("a <" + std::string(p.kind) + "> of count " + std::to_string(p.count) + " holds only " +
                     std::to_string(p.indexTokens) + " indices");
        } else if (name == "node" && !nodeStack_.empty()) {
            nodeStack_.pop_back();
        }
    }

    // Instances resolved: no cycle, and no more nodes or levels than we read once expanded.
    void instances() {
        for (const auto& [from, id] : instances_) {
            auto it = nodeOfId_.find(id);
            if (it != nodeOfId_.end()) edges_[from].push_back(it->second);
        }
        for (const Accessor& a : finishedAccessors_) {
            auto it = arraySize_.find(a.source);
            if (a.count == 0 || it == arraySize_.end()) continue;
            const uint64_t reach = a.offset + (a.count - 1) * a.stride + std::max<uint64_t>(a.params, 1);
            if (reach > it->second || a.params > a.stride)
                return fail("an <accessor> of " + std::to_string(a.count) + " entries, stride " +
                            std::to_string(a.stride) + " and offset " + std::to_string(a.offset) +
                            " reaches past the " + std::to_string(it->second) + " values of its array");
        }
        fail(nodeGraphProblem(edges_, kMaxColladaExpandedNodes, "node", "instances"));
    }

    std::string_view x_;
    size_t at_ = 0;
    std::string problem_;
    std::vector<Element> stack_;
    std::vector<int64_t> arrayCounts_;
    std::vector<std::string> arrayId_;
    std::unordered_map<std::string, uint64_t> arraySize_;
    std::vector<Accessor> accessors_, finishedAccessors_;
    std::vector<Primitive> primitives_;
    std::vector<std::vector<int>> edges_;  // per node: its child nodes and the nodes it instances
    std::vector<int> nodeStack_;
    std::unordered_map<std::string, int> nodeOfId_;
    std::vector<std::pair<int, std::string>> instances_;
};

}  // namespace

std::string colladaProblem(std::string_view xml) { return Scan(xml).run(); }

}  // namespace host::formats
