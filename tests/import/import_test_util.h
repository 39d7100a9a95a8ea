// Hand-built import documents for the scene-building tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <initializer_list>
#include <string>

#include "ase/document.h"
#include "math/vecmath.h"

namespace importtest {

// A document of its own (not the process-wide one), emptied on destruction.
class TestDocument {
public:
    TestDocument() {
        std::memset(&doc_, 0, sizeof doc_);
        ResetDocument(doc_);
    }
    ~TestDocument() { ResetDocument(doc_); }
    TestDocument(const TestDocument&) = delete;
    TestDocument& operator=(const TestDocument&) = delete;

    AseDocument& doc() { return doc_; }
    AseDocument* operator->() { return &doc_; }

    // `count` objects named "obj0", "obj1", ...
    AseGeomObject* objects(int count) {
        EXPECT_EQ(AllocateGeomObjects(doc_, count), 1);
        for (int i = 0; i < count; ++i) SetName(doc_.geomObjects[i].nodeName, "obj" + std::to_string(i));
        return doc_.geomObjects;
    }

    AseMaterial* materials(int count) {
        EXPECT_EQ(AllocateMaterials(doc_, count), 1);
        return doc_.materials;
    }

    static void SetName(char* field, const std::string& name) {
        std::memset(field, 0, kAseNameBytes);
        std::memcpy(field, name.data(), name.size() < kAseNameBytes ? name.size() : kAseNameBytes - 1);
    }

    static void SetWide(char16_t* field, const std::u16string& text) {
        std::memset(field, 0, sizeof(char16_t) * kAsePathUnits);
        for (size_t i = 0; i < text.size() && i + 1 < kAsePathUnits; ++i) field[i] = text[i];
    }

    // Vertices at (v, 0, 0) for v = 0..count-1.
    static void Vertices(AseGeomObject& object, int count) {
        ASSERT_EQ(AllocateVertices(object, count), 1);
        for (int v = 0; v < count; ++v) object.vertices[v].position = Vec3{static_cast<float>(v), 0.0f, 0.0f};
    }

    static void Face(AseGeomObject& object, int f, int a, int b, int c, int materialId) {
        object.faces[f].a = a;
        object.faces[f].b = b;
        object.faces[f].c = c;
        object.faces[f].materialId = materialId;
    }

private:
    AseDocument doc_;
};

// Row-vector matrices (translation in row 3) as the ASE node matrices are.
inline Mat4 Translation(float x, float y, float z) {
    Mat4 m = Mat4Identity();
    m.m[12] = x;
    m.m[13] = y;
    m.m[14] = z;
    return m;
}

inline Mat4 Scaling(float x, float y, float z) {
    Mat4 m = Mat4Identity();
    m.m[0] = x;
    m.m[5] = y;
    m.m[10] = z;
    return m;
}

// Row-vector rotation by `degrees` about z: p' = p * M turns x towards y.
inline Mat4 RotationZ(float degrees) {
    const float r = degrees * 3.14159265358979f / 180.0f;
    Mat4 m = Mat4Identity();
    m.m[0] = std::cos(r);
    m.m[1] = std::sin(r);
    m.m[4] = -std::sin(r);
    m.m[5] = std::cos(r);
    return m;
}

inline Mat4 Multiply(const Mat4& a, const Mat4& b) {
    Mat4 out;
    Mat4Multiply(&out, &a, &b);
    return out;
}

// Each float of `actual` near the corresponding expected value.
inline void ExpectNear(const float* actual, std::initializer_list<float> expected, float tolerance = 1e-5f) {
    int i = 0;
    for (float value : expected) EXPECT_NEAR(actual[i++], value, tolerance) << "component " << i - 1;
}

inline void ExpectMatNear(const Mat4& actual, const Mat4& expected, float tolerance = 1e-5f) {
    for (int i = 0; i < 16; ++i) EXPECT_NEAR(actual.m[i], expected.m[i], tolerance) << "element " << i;
}

}  // namespace importtest
