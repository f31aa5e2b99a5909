#include "SelectionSet.h"

namespace host {
namespace {

// Runs are kept while they cost less than a sixty-fourth of a byte per element each: lookups and
// inserts stay cheap (a binary search and a short move), and memory stays within an eighth of the
// byte-per-element form.
constexpr size_t kRunsAlwaysKept = 16;
constexpr size_t kElementsPerRun = 64;

}  // namespace

void SelectionSet::makeDense() {
    if (dense_) return;
    bytes_.assign(static_cast<size_t>(size_), 0);
    for (const Run& r : runs_) std::fill(bytes_.begin() + r.first, bytes_.begin() + r.second + 1, uint8_t{1});
    runs_.clear();
    runs_.shrink_to_fit();
    dense_ = true;
}

void SelectionSet::makeDenseIfScattered() {
    if (!dense_ && runs_.size() > kRunsAlwaysKept && runs_.size() * kElementsPerRun > static_cast<size_t>(size_))
        makeDense();
}

void SelectionSet::resize(int size) {
    size = std::max(size, 0);
    if (dense_) {
        bytes_.resize(static_cast<size_t>(size), 0);
    } else {
        while (!runs_.empty() && runs_.back().first >= size) runs_.pop_back();
        if (!runs_.empty()) runs_.back().second = std::min(runs_.back().second, size - 1);
    }
    size_ = size;
}

bool SelectionSet::isSelected(int i) const {
    if (i < 0 || i >= size_) return false;
    if (dense_) return bytes_[i] != 0;
    auto it = std::upper_bound(runs_.begin(), runs_.end(), i, [](int v, const Run& r) { return v < r.first; });
    return it != runs_.begin() && std::prev(it)->second >= i;
}

void SelectionSet::setRange(int first, int last, bool on) {
    first = std::max(first, 0);
    last = std::min(last, size_ - 1);
    if (first > last) return;
    if (dense_) {
        std::fill(bytes_.begin() + first, bytes_.begin() + last + 1, static_cast<uint8_t>(on ? 1 : 0));
        return;
    }
    // The runs that touch [first, last] (for a select, also those just beside it, which merge).
    const long long reach = on ? 1 : 0;
    auto lo = std::lower_bound(runs_.begin(), runs_.end(), first,
                               [&](const Run& r, int v) { return r.second + reach < v; });
    auto hi = std::upper_bound(lo, runs_.end(), last, [&](int v, const Run& r) { return v + reach < r.first; });
    // At most two runs replace them; a range that changes nothing (selecting members again, one by
    // one, as a command that selects everything does) leaves the runs untouched.
    Run replacement[2];
    int replacements = 0;
    if (on) {
        Run merged{first, last};
        if (lo != hi) merged = {std::min(first, lo->first), std::max(last, std::prev(hi)->second)};
        replacement[replacements++] = merged;
    } else if (lo != hi) {
        if (lo->first < first) replacement[replacements++] = {lo->first, first - 1};
        if (std::prev(hi)->second > last) replacement[replacements++] = {last + 1, std::prev(hi)->second};
    }
    if (hi - lo == replacements && std::equal(lo, hi, replacement)) return;
    const auto at = runs_.erase(lo, hi);
    runs_.insert(at, replacement, replacement + replacements);
    makeDenseIfScattered();
}

bool SelectionSet::select(int i) {
    if (i < 0 || i >= size_) return false;
    if (dense_) {
        bytes_[i] = 1;
    } else if (runs_.empty() || runs_.back().second < i - 1) {  // members in increasing order: appended
        runs_.push_back({i, i});
        makeDenseIfScattered();
    } else if (runs_.back().second == i - 1) {
        runs_.back().second = i;
    } else {
        setRange(i, i, true);
    }
    return true;
}

bool SelectionSet::deselect(int i) {
    if (i < 0 || i >= size_) return false;
    if (dense_)
        bytes_[i] = 0;
    else
        setRange(i, i, false);
    return true;
}

bool SelectionSet::toggle(int i) {
    if (i < 0 || i >= size_) return false;
    return isSelected(i) ? deselect(i) : select(i);
}

void SelectionSet::selectRange(int first, int last) { setRange(first, last, true); }
void SelectionSet::deselectRange(int first, int last) { setRange(first, last, false); }

void SelectionSet::selectAll() {
    if (dense_) {
        std::fill(bytes_.begin(), bytes_.end(), uint8_t{1});
        return;
    }
    runs_.clear();
    if (size_ > 0) runs_.push_back({0, size_ - 1});
}

void SelectionSet::deselectAll() {
    dense_ = false;
    bytes_.clear();
    bytes_.shrink_to_fit();
    runs_.clear();
}

int SelectionSet::count() const {
    int n = 0;
    if (dense_)
        for (uint8_t b : bytes_) n += b != 0;
    else
        for (const Run& r : runs_) n += r.second - r.first + 1;
    return n;
}

std::vector<std::pair<int, int>> SelectionSet::ranges() const {
    if (!dense_) return runs_;
    std::vector<std::pair<int, int>> out;
    for (int i = 0; i < size_;) {
        if (!bytes_[i]) {
            ++i;
            continue;
        }
        int j = i;
        while (j + 1 < size_ && bytes_[j + 1]) ++j;
        out.emplace_back(i, j);
        i = j + 1;
    }
    return out;
}

uint8_t* SelectionSet::memberBytes() {
    makeDense();
    return bytes_.data();
}

void SelectionSet::compact(const std::vector<int>& remap, int newSize) {
    SelectionSet next(newSize);
    const int n = std::min(size_, static_cast<int>(remap.size()));
    for (const Run& r : ranges())
        for (int i = r.first; i <= r.second && i < n; ++i)
            if (remap[i] >= 0 && remap[i] < newSize) next.select(remap[i]);
    *this = std::move(next);
}

bool SelectionSet::operator==(const SelectionSet& o) const { return size_ == o.size_ && ranges() == o.ranges(); }

}  // namespace host
