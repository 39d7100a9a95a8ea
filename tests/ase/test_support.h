// Helpers shared by the reader tests: parse a text into the process-wide
// document, check fields of it from tables, and check that nothing is left.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "ase/reader_internal.h"

namespace asetest {

// Empties the document and the block stack.
inline void ResetAll() {
    ResetDocument(TheDocument());
    TheBlockStack().Clear();
}

// Parses `text` into the document from a fresh state. Returns the parse
// result; the document keeps what was read until ResetAll.
inline int Parse(std::string_view text) {
    ResetAll();
    AseSource source = {};
    if (!MakeAseSource(source, text.data(), text.size())) return -1;
    HostContext context = {};
    const int result = ParseAseDocument(source, &context);
    ReleaseAseSource(source);
    return result;
}

inline AseDocument& Doc() { return TheDocument(); }

// A minimal object around a mesh body.
inline std::string Object(const std::string& body, const std::string& name = "obj") {
    return "*GEOMOBJECT {\n\t*NODE_NAME \"" + name + "\"\n" + body + "}\n";
}

// A field of the document against its expected value, as a table row.
struct Check {
    const char* what;
    bool (*holds)(const AseDocument&);
};

// Numbers are equal as stored: NaN matches NaN, and -0 does not match 0.
template <class A, class B>
bool Same(A actual, B expected) {
    if constexpr (std::is_floating_point_v<A>) {
        const A e = static_cast<A>(expected);
        return std::isnan(e) ? std::isnan(actual) : actual == e && std::signbit(actual) == std::signbit(e);
    } else {
        return actual == static_cast<A>(expected);
    }
}

#define ASE_EQ(expr, value) \
    asetest::Check { #expr " == " #value, [](const AseDocument& d) { return asetest::Same(d.expr, value); } }
#define ASE_NEAR(expr, value) \
    asetest::Check { #expr " ~ " #value, [](const AseDocument& d) { return std::fabs(d.expr - (value)) < 1e-4; } }
#define ASE_STR(expr, value) \
    asetest::Check { #expr " is " #value, [](const AseDocument& d) { return std::basic_string_view(d.expr) == value; } }

// The same for a field of the first object.
#define ASE_OBJ_EQ(field, value) ASE_EQ(geomObjects[0].field, value)
#define ASE_OBJ_STR(field, value) ASE_STR(geomObjects[0].field, value)

inline void ExpectAll(const std::vector<Check>& checks) {
    for (const Check& c : checks) EXPECT_TRUE(c.holds(TheDocument())) << c.what;
}

// Checks that the document is empty and nothing is allocated.
inline void ExpectNothingLeft() {
    const AseDocument& d = TheDocument();
    EXPECT_TRUE(!d.geomObjects && !d.materials && !d.lights && !d.cameras);
    EXPECT_EQ(d.geomObjectCount + d.materialCount + d.lightCount + d.cameraCount, 0);
    EXPECT_EQ(TheBlockStack().Depth(), 0u);
    EXPECT_EQ(DocumentLiveBlocksForTesting(), 0);
}

// Leaves the document empty after each test and checks that it is.
class ReaderTest : public ::testing::Test {
protected:
    void TearDown() override {
        ResetAll();
        ExpectNothingLeft();
    }
};

}  // namespace asetest
