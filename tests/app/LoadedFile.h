// A file the program wrote, read back into a document of its own for checking.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "host/Document.h"
#include "host/ObjFile.h"
#include "host/formats/MeshFile.h"

struct LoadedFile {
    std::unique_ptr<host::Document> doc = std::make_unique<host::Document>();
    std::vector<host::Object*> objects;
    host::PolygonObject& first() { return *static_cast<host::PolygonObject*>(objects.front()); }
};

// Reads an OBJ file (a failure fails the test).
inline LoadedFile loadObj(const std::string& path) {
    LoadedFile l;
    std::string error;
    EXPECT_TRUE(host::readObj(path, *l.doc, &l.objects, &error)) << error;
    return l;
}

// Reads a file of any mesh format the host opens (a failure fails the test).
inline LoadedFile loadMeshFile(const std::string& path) {
    LoadedFile l;
    std::string error;
    EXPECT_TRUE(host::formats::readMeshFile(path, *l.doc, &l.objects, &error)) << error;
    return l;
}
