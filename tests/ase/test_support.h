// Helpers shared by the reader tests: parse a text into the tests' own
// reading (allocator, error record, document, stack), check fields of the
// document from tables, and check that nothing is left.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "ase/reader_internal.h"
#include "import/import.h"
#include "tests/job_settings.h"

namespace asetest {

// What an import job owns for its reader, kept for the whole test run; the
// allocator's hook counts and fails its allocations.
struct Reading {
    AllocationWatch watch;
    JobAllocator allocator{watch.Hook()};
    JobError error;
    AseDocument doc{};
    BlockStack stack;
    AseReader reader{};
    Reading() {
        BindAseReader(reader, allocator, error, doc, stack);
        ResetDocument(doc);
    }
};

inline Reading& TheReading() {
    static Reading reading;
    return reading;
}

// Empties the document, the block stack, the source and the error record.
inline void ResetAll() {
    Reading& r = TheReading();
    r.stack.Clear();
    ResetDocument(r.doc);
    ReleaseAseSource(r.reader);
    r.reader.believedBytes = 0;
    r.error = JobError{};
}

// A fresh source of `text` in the tests' reader.
inline AseReader& Source(std::string_view text) {
    ResetAll();
    AseReader& reader = TheReading().reader;
    EXPECT_EQ(MakeAseSource(reader, text.data(), text.size()), 1);
    return reader;
}

// Parses `text` into the document from a fresh state and resolves what the
// import resolves after the reader (parents, local transforms, vertex
// colours). Returns the parse result; the document keeps what was read
// until ResetAll.
inline int Parse(std::string_view text) {
    AseReader& source = Source(text);
    const int result = ParseAseDocument(source);
    ReleaseAseSource(source);
    if (result == 1) {
        AseDocument& doc = TheReading().doc;
        ResolveParentIndices(doc);
        ComputeLocalTransforms(doc);
        ResolveVertexColors(doc);
    }
    return result;
}

inline AseDocument& Doc() { return TheReading().doc; }
inline const JobError& Error() { return TheReading().error; }

// The error record as its one line of text.
inline std::u16string ErrorText() {
    char16_t text[512];
    Error().Format(text, 512);
    return text;
}

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
    for (const Check& c : checks) EXPECT_TRUE(c.holds(Doc())) << c.what;
}

// Checks that the document is empty and nothing is allocated.
inline void ExpectNothingLeft() {
    const AseDocument& d = Doc();
    EXPECT_TRUE(!d.geomObjects && !d.materials && !d.lights && !d.cameras);
    EXPECT_EQ(d.geomObjectCount + d.materialCount + d.lightCount + d.cameraCount, 0);
    EXPECT_EQ(TheReading().stack.Depth(), 0u);
    EXPECT_EQ(TheReading().watch.LiveBlocks(), 0);
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
