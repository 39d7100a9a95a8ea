// Helpers shared by the reader tests: parse a text into the process-wide
// document and check that nothing is left behind.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

#include "ase/reader_internal.h"

namespace asetest {

// Empties the document and the block stack.
inline void ResetAll() {
    ResetDocument(TheDocument());
    TheBlockStack().Clear();
}

// Parses `text` into the document from a fresh state. Returns the parse
// result; the document keeps what was read until ResetAll.
inline int Parse(std::string_view text, HostContext* context = nullptr) {
    ResetAll();
    AseSource source = {};
    if (!MakeAseSource(source, text.data(), text.size())) return -1;
    HostContext local = {};
    const int result = ParseAseDocument(source, context != nullptr ? context : &local);
    ReleaseAseSource(source);
    return result;
}

inline std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline AseDocument& Doc() { return TheDocument(); }

// A minimal object around a mesh body.
inline std::string Object(const std::string& body, const std::string& name = "obj") {
    return "*GEOMOBJECT {\n\t*NODE_NAME \"" + name + "\"\n" + body + "}\n";
}

// Checks that the document is at its defaults and nothing is allocated.
inline void ExpectNothingLeft() {
    const AseDocument& doc = TheDocument();
    EXPECT_EQ(doc.geomObjects, nullptr);
    EXPECT_EQ(doc.materials, nullptr);
    EXPECT_EQ(doc.lights, nullptr);
    EXPECT_EQ(doc.cameras, nullptr);
    EXPECT_EQ(doc.geomObjectCount + doc.materialCount + doc.lightCount + doc.cameraCount, 0);
    EXPECT_EQ(doc.frameSpeed, 30.0f);
    EXPECT_EQ(doc.ticksPerFrame, 160.0f);
    EXPECT_EQ(TheBlockStack().Depth(), 0u);
    EXPECT_EQ(DocumentLiveBlocksForTesting(), 0);
}

}  // namespace asetest
