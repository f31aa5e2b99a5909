// Reading whole files into memory and filling large arrays, helped by the kernel's transparent huge
// pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace host {

// The text of a system error number.
std::string systemError(int err);

// Big arrays are filled once, front to back; with the kernel's transparent huge pages a 2 MiB page
// costs one fault instead of 512. Only the 2 MiB-aligned interior of the block can be advised.
constexpr uintptr_t kHugePage = uintptr_t{2} << 20;

void preferHugePages(const void* data, size_t bytes);

// Gives the pages of a big block their memory now, split between the host's worker threads, and
// returns when they have it; the contents stay as they are. On a virtual machine the first touch of
// a page is dear (here a fresh page costs more than copying it dozens of times) and one thread's
// faults go no faster than one processor, while the block is then filled by a single thread. Without
// the kernel's support nothing happens and the pages come at first use, as before.
void populatePages(void* data, size_t bytes);

// Reserves room for `count` elements before anything is written there, with huge pages where
// possible; the first `filled` elements, which the caller is about to write, get their memory at once
// (populatePages).
template <class T>
void reserveLarge(std::vector<T>& v, size_t count, size_t filled = 0) {
    v.reserve(count);
    preferHugePages(v.data(), v.capacity() * sizeof(T));
    if (filled > 0) populatePages(v.data(), (filled < v.capacity() ? filled : v.capacity()) * sizeof(T));
}

// A file's text: a malloc'd block, 2 MiB-aligned when big so that it can take huge pages.
struct FreeDeleter {
    void operator()(char* p) const { std::free(p); }
};
using TextBuffer = std::unique_ptr<char[], FreeDeleter>;

TextBuffer allocateText(size_t bytes);

// Reads the whole file into a buffer followed by `padding` bytes of '\n' (not counted in `size`).
// On failure `error` names the file and the problem.
bool loadBytes(const std::string& path, size_t padding, TextBuffer& buffer, size_t& size, std::string* error);

}  // namespace host
