// The fixture of the reduction core's tests: the module initialised with the real host table, the
// console captured, and a check at the end that nothing the module allocated is left.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/Document.h"
#include "host/Memory.h"
#include "host/StatusBar.h"
#include "tests/mixkit/MeshFactory.h"
#include "tests/module/ModuleTestSupport.h"

namespace mixtest {

class MixkitTest : public moduletest::ModuleFixture {
protected:
    void SetUp() override {
        ModuleFixture::SetUp();
        startModule(VEXLOR_SOURCE_DIR);
        host::StatusBar::main().setQuiet(true);  // the spinner of the build passes
    }
    void TearDown() override {
        host::StatusBar::main().setQuiet(false);
        ModuleFixture::TearDown();
    }

    // Lines printed on the console that start with "NO MEMORY".
    std::vector<std::string> memoryFaults() {
        std::vector<std::string> out;
        for (const std::string& l : console())
            if (l.rfind("NO MEMORY", 0) == 0) out.push_back(l);
        return out;
    }
};

// Bitwise equality of two objects' points, polygons and tag data.
inline bool sameBits(const void* a, const void* b, size_t n) { return n == 0 || std::memcmp(a, b, n) == 0; }

// Describes the first difference between the geometry and tags of two polygon objects, or "".
std::string differences(const host::PolygonObject& a, const host::PolygonObject& b, bool compareHidden = true);

}  // namespace mixtest
