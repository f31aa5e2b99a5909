// Reading files that must be refused: each is written into a test's folder and read, and must fail
// with one line that starts with its path and names the problem, adding nothing to the document.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "host/Document.h"
#include "host/formats/MeshFile.h"
#include "tests/support/TempDir.h"

namespace testsupport {

inline void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

struct LoadedMesh {
    std::unique_ptr<host::Document> doc = std::make_unique<host::Document>();
    std::vector<host::Object*> roots;
    host::formats::MeshReadReport report;
    std::string error;
    bool ok = false;
};

inline LoadedMesh loadMesh(const std::string& path) {
    LoadedMesh l;
    l.ok = host::formats::readMeshFile(path, *l.doc, &l.roots, &l.error, &l.report);
    return l;
}

// A file that must be refused: its name, its bytes, and a piece of the message it must give.
struct RefusedFile {
    std::string name;
    std::string bytes;
    std::string expect;
};

inline void expectEachRefused(const TempDir& dir, const std::vector<RefusedFile>& files) {
    for (const RefusedFile& c : files) {
        const std::string path = dir.file(c.name);
        writeBytes(path, c.bytes);
        LoadedMesh l = loadMesh(path);
        EXPECT_FALSE(l.ok) << c.name;
        EXPECT_EQ(l.error.rfind(path + ": ", 0), 0u) << l.error;
        EXPECT_NE(l.error.find(c.expect), std::string::npos) << c.name << ": " << l.error;
        EXPECT_EQ(l.error.find('\n'), std::string::npos) << l.error;
        EXPECT_TRUE(l.doc->roots().empty()) << c.name;
        EXPECT_TRUE(l.roots.empty()) << c.name;
    }
}

}  // namespace testsupport
