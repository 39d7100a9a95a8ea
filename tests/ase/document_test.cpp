// Block parsers at document level: what each block family puts into the
// document, including the edge cases that catch real faults.
#include <cmath>
#include <string>

#include "test_support.h"

namespace {

using asetest::Doc;
using asetest::Object;
using asetest::Parse;

class ReaderDocument : public ::testing::Test {
protected:
    void TearDown() override {
        asetest::ResetAll();
        asetest::ExpectNothingLeft();
    }
};

const char* const kCube =
    "*3DSMAX_ASCIIEXPORT 200\n"
    "*SCENE {\n\t*SCENE_FIRSTFRAME 0\n\t*SCENE_LASTFRAME 100\n\t*SCENE_FRAMESPEED 30\n\t*SCENE_TICKSPERFRAME 160\n}\n"
    "*GEOMOBJECT {\n\t*NODE_NAME \"Box\"\n\t*NODE_TM {\n\t\t*TM_ROW3 1.0 2.0 3.0\n\t}\n"
    "\t*MESH {\n\t\t*MESH_NUMVERTEX 3\n\t\t*MESH_NUMFACES 1\n"
    "\t\t*MESH_VERTEX_LIST {\n\t\t\t*MESH_VERTEX 0 0.0 0.0 0.0\n\t\t\t*MESH_VERTEX 1 1.0 0.0 0.0\n"
    "\t\t\t*MESH_VERTEX 2 0.0 1.0 0.0\n\t\t}\n"
    "\t\t*MESH_FACE_LIST {\n\t\t\t*MESH_FACE 0: A: 0 B: 1 C: 2 AB: 1 BC: 1 CA: 0\t*MESH_SMOOTHING 1\t*MESH_MTLID 0\n\t\t}\n"
    "\t}\n}\n";

std::string WithLineEnds(std::string text, const std::string& end) {
    std::string out;
    for (char c : text) {
        if (c == '\n') {
            out += end;
        } else {
            out += c;
        }
    }
    return out;
}

TEST_F(ReaderDocument, LineEndingsGiveTheSameDocument) {
    for (const char* end : {"\n", "\r\n", "\r"}) {
        ASSERT_EQ(Parse(WithLineEnds(kCube, end)), 1) << end;
        const AseGeomObject& o = Doc().geomObjects[0];
        EXPECT_STREQ(o.nodeName, "Box");
        ASSERT_EQ(o.vertexCount, 3);
        EXPECT_EQ(o.vertices[2].position.y, 1.0f);
        EXPECT_EQ(o.faces[0].c, 2);
        EXPECT_EQ(o.worldTm.m[13], 2.0f);
        EXPECT_EQ(Doc().lastFrame, 100.0f);
    }
}

TEST_F(ReaderDocument, KeywordsIgnoreCaseButMaterialIdNeedsCapitals) {
    const std::string faces =
        "*mesh {\n*mesh_numvertex 3\n*Mesh_NumFaces 5\n*MESH_FACE_LIST {\n"
        "*MESH_FACE 0: A: 0 B: 1 C: 2 AB: 1 BC: 1 CA: 0 *MESH_SMOOTHING 1 *MESH_MTLID 2\n"
        "*MESH_FACE 1: A: 0 B: 1 C: 2 AB: 1 BC: 1 CA: 0 *MESH_MTLID 2 *MESH_OTHER\n"
        "*MESH_FACE 2: A: 0 B: 1 C: 2 AB: 1 BC: 1 CA: 0 *mesh_mtlid 2\n"
        "*mesh_face 3: A: 0 B: 1 C: 2 AB: 1 BC: 1 CA: 0\n"
        "*MESH_FACE 4 : A: 0 B: 1 C: 2 AB: 1 BC: 1 CA: 0 *MESH_MTLID 1\n"
        "}\n}\n";
    // Three sub-materials so that ids 0..2 map one to one (base 0).
    const std::string text = "*MATERIAL_LIST {\n*MATERIAL_COUNT 1\n*MATERIAL 0 {\n*NUMSUBMTLS 3\n"
                             "*SUBMATERIAL 0 {\n}\n*SUBMATERIAL 1 {\n}\n*SUBMATERIAL 2 {\n}\n}\n}\n" +
                             Object(faces);
    ASSERT_EQ(Parse(text), 1);
    const AseGeomObject& o = Doc().geomObjects[0];
    ASSERT_EQ(o.vertexCount, 3);
    EXPECT_EQ(o.faces[0].materialId, 2);
    // Any other id (the '*' word after it, lower case, none) falls to the base.
    EXPECT_EQ(o.faces[1].materialId, 0);
    EXPECT_EQ(o.faces[2].materialId, 0);
    EXPECT_EQ(o.faces[3].materialId, 0);
    EXPECT_EQ(o.faces[3].a, 0);
    // A blank between index and colon: the line is passed over.
    EXPECT_EQ(o.faces[4].a, -1);
}

TEST_F(ReaderDocument, ListItemsNeedTheirCountAndAnIndexInRange) {
    const std::string body =
        "*MESH {\n*MESH_NUMVERTEX 2\n*MESH_NUMTVERTEX 4\n"
        "*MESH_VERTEX_LIST {\n*MESH_VERTEX 2 9 9 9\n*MESH_VERTEX -1 9 9 9\n*MESH_VERTEX 1 5 6 7\n}\n"
        "*MESH_TVERTLIST {\n*MESH_TVERT 3 0.5 0.25\n*MESH_TVERT 0 0.1 0.2 0.3\n}\n"
        "*MESH_FACE_LIST {\n*MESH_FACE 0: A: 0 B: 1 C: 2 AB: 1 BC: 1 CA: 0\n}\n"
        "*MESH_MAPPINGCHANNEL 2 {\n*MESH_NUMTVERTEX 1\n*MESH_TVERTLIST {\n*MESH_TVERT 0 0.75 0.5\n}\n}\n"
        "*MESH_MAPPINGCHANNEL 2 {\n}\n"
        "*MESH_NORMALS {\n*MESH_FACENORMAL 0 0 0 1\n*MESH_VERTEXNORMAL {\n}\n}\n"
        "}\n";
    ASSERT_EQ(Parse(Object(body)), 1);
    const AseGeomObject& o = Doc().geomObjects[0];
    EXPECT_EQ(o.vertices[1].position.z, 7.0f);
    EXPECT_EQ(o.vertices[0].color[0], 1.0f);
    EXPECT_EQ(o.texChannel.tverts[3].u, 0.5f);
    EXPECT_EQ(o.texChannel.tverts[3].v, 0.25f);
    EXPECT_EQ(o.texChannel.tverts[0].v, 0.2f);
    // No *MESH_NUMFACES: the face list keeps nothing.
    EXPECT_EQ(o.faceCount, 0);
    ASSERT_EQ(o.mapChannelCount, 2);
    EXPECT_EQ(o.mapChannels[0].channel, 2);
    EXPECT_EQ(o.mapChannels[1].channel, 2);
    EXPECT_EQ(o.mapChannels[0].tverts[0].u, 0.75f);
}

TEST_F(ReaderDocument, SecondVertexCountDropsEarlierVertices) {
    ASSERT_EQ(Parse(Object("*MESH {\n*MESH_NUMVERTEX 2\n*MESH_VERTEX_LIST {\n*MESH_VERTEX 0 4 4 4\n}\n"
                           "*MESH_NUMVERTEX 2\n*MESH_VERTEX_LIST {\n*MESH_VERTEX 1 4 4 4\n}\n}\n")),
              1);
    EXPECT_EQ(Doc().geomObjects[0].vertices[0].position.x, 0.0f);
}

TEST_F(ReaderDocument, NodeMatrixSnapsTinyValuesAndKeepsTheFourthColumn) {
    ASSERT_EQ(Parse(Object("*NODE_TM {\n*TM_ROW0 2 0 0\n*TM_ROW3 0.00005 10.0 -0.00009\n*TM_ROW1 1\n}\n")), 1);
    const Mat4& m = Doc().geomObjects[0].worldTm;
    EXPECT_EQ(m.m[0], 2.0f);
    EXPECT_EQ(m.m[12], 0.0f);
    EXPECT_EQ(m.m[13], 10.0f);
    EXPECT_EQ(m.m[14], 0.0f);
    EXPECT_EQ(m.m[15], 1.0f);
    EXPECT_EQ(m.m[5], 1.0f);  // a row line with one value is passed over
}

TEST_F(ReaderDocument, BraceOnItsOwnLineSwallowsTheRestOfTheFile) {
    const std::string text = "*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX 1\n*MESH_VERTEX_LIST\n{\n"
                             "*MESH_VERTEX 0 1 2 3\n}\n}\n*NODE_NAME \"late\"\n}\n";
    ASSERT_EQ(Parse(text), 1);
    EXPECT_EQ(Doc().geomObjects[0].vertices[0].position.x, 1.0f);
    EXPECT_STREQ(Doc().geomObjects[0].nodeName, "");
}

TEST_F(ReaderDocument, ObjectsInsideUnreadBlocksAreImportedAndOpenObjectsEndAtTheNext) {
    const std::string text = "*GROUP \"g\" {\n" + Object("", "inner") + "}\n*GEOMOBJECT {\n*NODE_NAME \"open\"\n" +
                             Object("", "skipped") + Object("", "last");
    ASSERT_EQ(Parse(text), 1);
    ASSERT_EQ(Doc().geomObjectCount, 4);
    EXPECT_STREQ(Doc().geomObjects[0].nodeName, "inner");
    EXPECT_STREQ(Doc().geomObjects[1].nodeName, "open");
    EXPECT_STREQ(Doc().geomObjects[2].nodeName, "last");
    EXPECT_STREQ(Doc().geomObjects[3].nodeName, "");
}

TEST_F(ReaderDocument, SceneValuesAndTheirLimits) {
    ASSERT_EQ(Parse("*SCENE {\n*SCENE_FIRSTFRAME 10\n*SCENE_LASTFRAME 10\n*SCENE_FRAMESPEED 30.5\n"
                    "*SCENE_TICKSPERFRAME 0\n}\n" +
                    Object("")),
              1);
    EXPECT_EQ(Doc().frameCount, 30.0f);
    EXPECT_EQ(Doc().frameSpeed, 30.0f);
    EXPECT_EQ(Doc().ticksPerFrame, 160.0f);
    EXPECT_EQ(Doc().firstFrame, 10.0f);
    // The frame difference does not overflow 32 bits.
    ASSERT_EQ(Parse("*SCENE {\n*SCENE_FIRSTFRAME -2147483648\n*SCENE_LASTFRAME 2147483647\n}\n" + Object("")), 1);
    EXPECT_EQ(Doc().frameCount, 4294967295.0f);
    // A material list inside the scene ends it and is not read as a list.
    ASSERT_EQ(Parse("*SCENE {\n*SCENE_FRAMESPEED 25\n*MATERIAL_LIST {\n*MATERIAL_COUNT 1\n*MATERIAL 0 {\n"
                    "*MATERIAL_NAME \"m\"\n}\n}\n*SCENE_FRAMESPEED 10\n}\n" +
                    Object("")),
              1);
    EXPECT_EQ(Doc().frameSpeed, 25.0f);
    EXPECT_STREQ(Doc().materials[0].name, "");
}

std::string MaterialList(const std::string& materials, int count) {
    return "*MATERIAL_LIST {\n*MATERIAL_COUNT " + std::to_string(count) + "\n" + materials + "}\n";
}

TEST_F(ReaderDocument, MaterialValuesFollowTheirLimits) {
    const std::string text = MaterialList(
        "*MATERIAL 0 {\n*MATERIAL_NAME \"m0\"\n*MATERIAL_TRANSPARENCY 1.0\n*MATERIAL_SHINE 0.5\n*MATERIAL_TWOSIDED\n"
        "*MATERIAL_DIFFUSE 0.5 2.0 -1\n*NUMSUBMTLS 4\n"
        "*SUBMATERIAL 0 {\n*MATERIAL_TRANSPARENCY 1.0\n*MATERIAL_SHINE 2.0\n}\n"
        "*SUBMATERIAL 1 {\n*MATERIAL_TRANSPARENCY 1.5\n*MATERIAL_SHINE -1\n}\n"
        "*SUBMATERIAL 2 {\n*MATERIAL_TRANSPARENCY -0.5\n}\n"
        "*SUBMATERIAL 3 {\n*MATERIAL_TRANSPARENCY 0.25\n}\n}\n"
        "*MATERIAL 1 {\n*MATERIAL_TRANSPARENCY 1.5\n}\n"
        "*MATERIAL 2 {\n*MATERIAL_TRANSPARENCY -0.5\n}\n",
        3);
    ASSERT_EQ(Parse(text + Object("")), 1);
    const AseMaterial* m = Doc().materials;
    EXPECT_EQ(m[0].opacity, 1.0f);
    EXPECT_EQ(m[0].shininess, 64.0f);
    EXPECT_EQ(m[0].twoSided, 1);
    EXPECT_EQ(m[0].diffuse[1], 2.0f);
    EXPECT_EQ(m[0].diffuse[2], -1.0f);
    EXPECT_EQ(m[0].subMaterials[0].opacity, 0.0f);
    EXPECT_EQ(m[0].subMaterials[0].shininess, 128.0f);
    EXPECT_EQ(m[0].subMaterials[1].opacity, 0.0f);
    EXPECT_EQ(m[0].subMaterials[1].shininess, 0.0f);
    EXPECT_EQ(m[0].subMaterials[2].opacity, 1.0f);
    EXPECT_EQ(m[0].subMaterials[3].opacity, 0.75f);
    EXPECT_EQ(m[1].opacity, 1.0f);
    EXPECT_EQ(m[2].opacity, 1.0f);
    EXPECT_EQ(Doc().nextMaterial, 3);
}

TEST_F(ReaderDocument, BitmapsKeepFileNameAndExtension) {
    const std::string text = MaterialList(
        "*MATERIAL 0 {\n*MAP_BUMP {\n*BITMAP \"C:\\maps\\old.tga\"\n*MAP_GENERIC {\n"
        "*BITMAP \"C:\\maps\\deep\\bump.tga\"\n}\n}\n*MAP_OPACITY {\n*BITMAP \"C:\\maps\\\"\n}\n"
        "*MAP_SPECULAR {\n*BITMAP \"/a/b/noext\"\n}\n"
        "*NUMSUBMTLS 2\n*SUBMATERIAL 0 {\n*MAP_DIFFUSE {\n*BITMAP \"d:/x/wood.png\"\n}\n}\n"
        "*SUBMATERIAL 1 {\n*MAP_DIFFUSE {\n*BITMAP \"stone.png\"\n}\n}\n}\n",
        1);
    ASSERT_EQ(Parse(text + Object("")), 1);
    const AseMaterial& m = Doc().materials[0];
    EXPECT_EQ(std::u16string(m.bumpMap), u"bump.tga");
    EXPECT_EQ(std::u16string(m.opacityMap), u"");
    EXPECT_EQ(std::u16string(m.specularMap), u"noext");
    EXPECT_EQ(std::u16string(m.diffuseMap), u"wood.png");
    EXPECT_EQ(std::u16string(m.subMaterials[0].diffuseMap), u"wood.png");
    EXPECT_EQ(std::u16string(m.subMaterials[1].diffuseMap), u"stone.png");
}

TEST_F(ReaderDocument, LongBitmapNameAndExtensionAreCutToTheSlot) {
    const std::string path = "\"c:\\" + std::string(200, 'n') + "." + std::string(200, 'e') + "\"";
    ASSERT_EQ(Parse(MaterialList("*MATERIAL 0 {\n*MAP_DIFFUSE {\n*BITMAP " + path + "\n}\n}\n", 1) + Object("")), 1);
    // The quoted path is cut at 255 bytes first: 200 name bytes, a dot and 51.
    EXPECT_EQ(std::u16string(Doc().materials[0].diffuseMap).size(), 252u);
}

TEST_F(ReaderDocument, MaterialIndexFailures) {
    EXPECT_EQ(Parse(MaterialList("*MATERIAL 2 {\n}\n*MATERIAL 0 {\n}\n", 2) + Object("")), 0);
    EXPECT_EQ(Parse(MaterialList("*MATERIAL -1 {\n}\n*MATERIAL 0 {\n}\n", 2) + Object("")), 0);
    EXPECT_EQ(Parse(MaterialList("*MATERIAL 0 {\n*NUMSUBMTLS 2\n*SUBMATERIAL 2 {\n}\n}\n", 1) + Object("")), 0);
    EXPECT_EQ(Parse(MaterialList("*MATERIAL 0 {\n*SUBMATERIAL 0 {\n}\n}\n", 1) + Object("")), 0);
    // Without *MATERIAL_COUNT the list is passed over and the import succeeds.
    EXPECT_EQ(Parse("*MATERIAL_LIST {\n*MATERIAL 5 {\n}\n}\n" + Object("")), 1);
    EXPECT_EQ(Doc().materials, nullptr);
}

TEST_F(ReaderDocument, OpenMaterialEndsAtTheNextMaterialAndOpenListAtAnObject) {
    const std::string text = "*MATERIAL_LIST {\n*MATERIAL_COUNT 2\n*MATERIAL 0 {\n*MATERIAL_NAME \"a\"\n"
                             "*MATERIAL 1 {\n*MATERIAL_NAME \"b\"\n}\n" +
                             Object("", "first") + Object("", "second");
    ASSERT_EQ(Parse(text), 1);
    EXPECT_STREQ(Doc().materials[0].name, "a");
    EXPECT_STREQ(Doc().materials[1].name, "");
    ASSERT_EQ(Doc().geomObjectCount, 2);
    EXPECT_STREQ(Doc().geomObjects[0].nodeName, "second");
    EXPECT_STREQ(Doc().geomObjects[1].nodeName, "");
}

std::string FacesWithIds(int ref, const std::string& ids) {
    std::string faces = "*MATERIAL_REF " + std::to_string(ref) + "\n*MESH {\n*MESH_NUMFACES 6\n*MESH_FACE_LIST {\n";
    int index = 0;
    size_t start = 0;
    while (start < ids.size()) {
        size_t comma = ids.find(',', start);
        if (comma == std::string::npos) comma = ids.size();
        const std::string id = ids.substr(start, comma - start);
        faces += "*MESH_FACE " + std::to_string(index++) + ": A: 0 B: 1 C: 2 AB: 1 BC: 1 CA: 0" +
                 (id == "none" ? std::string() : " *MESH_MTLID " + id) + "\n";
        start = comma + 1;
    }
    return faces + "}\n}\n";
}

// Host material indices: material 0 makes one host material, material 1
// three (its sub-materials), material 2 one.
TEST_F(ReaderDocument, MaterialIdsBecomeHostMaterialIndices) {
    const std::string materials = MaterialList(
        "*MATERIAL 0 {\n}\n*MATERIAL 1 {\n*NUMSUBMTLS 3\n*SUBMATERIAL 0 {\n}\n*SUBMATERIAL 1 {\n}\n"
        "*SUBMATERIAL 2 {\n}\n}\n*MATERIAL 2 {\n}\n",
        3);
    const std::string text = materials + Object(FacesWithIds(1, "0,1,2,3,-5,none")) +
                             Object(FacesWithIds(2, "0,1,none,-2147483648,2147483647,0")) +
                             Object(FacesWithIds(0, "0,1,none,0,0,0")) + Object(FacesWithIds(3, "0,1,2,0,0,0")) +
                             Object(FacesWithIds(-1, "0,0,0,0,0,0"));
    ASSERT_EQ(Parse(text), 1);
    const AseGeomObject* o = Doc().geomObjects;
    const int expected[5][6] = {{1, 2, 3, 1, 1, 1},
                                {4, 4, 4, 4, 4, 4},
                                {0, 0, 0, 0, 0, 0},
                                {-1, -1, -1, -1, -1, -1},
                                {-1, -1, -1, -1, -1, -1}};
    for (int k = 0; k < 5; ++k) {
        for (int f = 0; f < 6; ++f) EXPECT_EQ(o[k].faces[f].materialId, expected[k][f]) << k << ' ' << f;
    }
}

TEST_F(ReaderDocument, FacesWithoutMaterialArrayGetMinusOne) {
    ASSERT_EQ(Parse(Object(FacesWithIds(0, "0,none,3,0,0,0"))), 1);
    for (int f = 0; f < 6; ++f) EXPECT_EQ(Doc().geomObjects[0].faces[f].materialId, -1);
}

TEST_F(ReaderDocument, AnimationKeysTimesQuaternionsAndRelativeFlag) {
    const std::string anim =
        "*TM_ANIMATION {\n*NODE_NAME \"x\"\n*CONTROL_POS_BEZIER {\n"
        "*CONTROL_BEZIER_POS_KEY 4800 1 2 3 0 0 0 0 0 0 2\n*CONTROL_POS_KEY 320 4 5 6\n*CONTROL_ROT_KEY 0 0 0 1 1\n}\n"
        "*CONTROL_ROT_LINEAR {\n*CONTROL_ROT_KEY 160 0 0 2 1.5707963\n*CONTROL_ROT_KEY 0 0 0 0 1\n}\n"
        "*CONTROL_SCALE_TRACK {\n*CONTROL_SCALE_SAMPLE 0 1 1 1\n}\n}\n";
    ASSERT_EQ(Parse(Object(anim)), 1);
    const AseGeomObject& o = Doc().geomObjects[0];
    ASSERT_EQ(o.posKeyCount, 2);
    EXPECT_EQ(o.posKeys[0].time, 1.0f);
    EXPECT_EQ(o.posKeys[0].value.z, 3.0f);
    EXPECT_NEAR(o.posKeys[1].time, 0.0667f, 1e-4);
    ASSERT_EQ(o.rotKeyCount, 2);
    EXPECT_NEAR(o.rotKeys[0].value.z, -0.7071f, 1e-4);
    EXPECT_NEAR(o.rotKeys[0].value.w, 0.7071f, 1e-4);
    EXPECT_EQ(o.rotKeys[1].value.w, 1.0f);
    EXPECT_EQ(o.scaleKeyCount, 1);
    EXPECT_EQ(Doc().anyRotKeysRelative, 0);
    ASSERT_EQ(Parse(Object("*TM_ANIMATION {\n*CONTROL_ROT_TCB {\n}\n}\n")), 1);
    EXPECT_EQ(Doc().anyRotKeysRelative, 1);
}

TEST_F(ReaderDocument, TwoHundredThousandKeysStayLinear) {
    std::string keys = "*TM_ANIMATION {\n*CONTROL_POS_TRACK {\n";
    for (int i = 0; i < 200000; ++i) keys += "*CONTROL_POS_SAMPLE " + std::to_string(i) + " 1 2 3\n";
    keys += "}\n}\n";
    ASSERT_EQ(Parse(Object(keys)), 1);
    const AseGeomObject& o = Doc().geomObjects[0];
    ASSERT_EQ(o.posKeyCount, 200000);
    EXPECT_GE(o.posKeyCapacity, 200000);
    EXPECT_LT(o.posKeyCapacity, 400000);
    EXPECT_EQ(o.posKeys[199999].value.y, 2.0f);
}

TEST_F(ReaderDocument, LightsAndCamerasAtDocumentLevel) {
    const std::string text =
        Object("") +
        "*LIGHTOBJECT {\n*NODE_NAME \"L\"\n*LIGHT_TYPE target\n*NODE_TM {\n*TM_ROW3 1 2 3\n}\n"
        "*NODE_TM {\n*TM_ROW3 9 9 9\n}\n*LIGHT_SETTINGS {\n*LIGHT_COLOR 0.5 0.25 1\n*LIGHT_INTENS 2\n}\n}\n"
        "*LIGHTOBJECT {\n*LIGHT_TYPE Spot\n}\n"
        "*CAMERAOBJECT {\n*CAMERA_TYPE Free\n*CAMERA_SETTINGS {\n*CAMERA_FOV 0.7853982\n*CAMERA_NEAR 2\n}\n}\n";
    ASSERT_EQ(Parse(text), 1);
    const AseLight* l = Doc().lights;
    ASSERT_EQ(Doc().lightCount, 2);
    EXPECT_STREQ(l[0].nodeName, "L");
    EXPECT_EQ(l[0].lightType, kLightTarget);
    EXPECT_EQ(l[0].tmRead, 1);
    EXPECT_NEAR(l[0].transform.tm.m[3], 1.0f, 1e-5);
    EXPECT_NEAR(l[0].transform.tm.m[7], 2.0f, 1e-5);
    EXPECT_NEAR(l[0].transform.tm.m[11], 3.0f, 1e-5);
    EXPECT_EQ(l[0].color[1], 0.25f);
    EXPECT_EQ(l[0].intensity, 2.0f);
    EXPECT_EQ(l[1].lightType, kLightOmni);
    EXPECT_EQ(l[1].hotspot, 10.0f);
    EXPECT_EQ(l[1].attenuationEnd, 10.0f);
    EXPECT_NEAR(Doc().cameras[0].fovDegrees, 45.0f, 1e-4);
    EXPECT_EQ(Doc().cameras[0].nearClip, 2.0f);
    EXPECT_EQ(Doc().cameras[0].farClip, 1000.0f);
}

TEST_F(ReaderDocument, OpenLightEndsAtTheNextAndNoneIsWrittenBeyondTheCount) {
    // The open light ends at the second light line, which the first pass
    // counted; that light is not parsed and keeps its defaults.
    ASSERT_EQ(Parse(Object("") + "*LIGHTOBJECT {\n*NODE_NAME \"a\"\n*LIGHTOBJECT {\n*NODE_NAME \"b\"\n}\n"), 1);
    EXPECT_STREQ(Doc().lights[0].nodeName, "a");
    EXPECT_STREQ(Doc().lights[1].nodeName, "");
}

TEST_F(ReaderDocument, NoGeometryLeavesTheMessage) {
    HostContext context = {};
    EXPECT_EQ(Parse("", &context), 0);
    EXPECT_EQ(std::u16string(context.errorText.wide), u"No geometry found.");
    EXPECT_STREQ(context.errorText.narrow, "No geometry found.");
}

TEST_F(ReaderDocument, MarkedTextImportsLikeItsAnsiTwin) {
    const std::string ansi = "*GEOMOBJECT {\r\n*NODE_NAME \"Caf\xE9 \x80\"\r\n}\r\n";
    ASSERT_EQ(Parse(ansi), 1);
    const std::string expectedName = Doc().geomObjects[0].nodeName;
    EXPECT_EQ(expectedName, "Caf\xE9 \x80");
    // UTF-8 with mark; an invalid byte and a character beyond the code page
    // become '?'.
    ASSERT_EQ(Parse("\xEF\xBB\xBF*GEOMOBJECT {\n*NODE_NAME \"Caf\xC3\xA9 \xE2\x82\xAC\xFF\xF0\x9F\x98\x80\"\n}\n"), 1);
    EXPECT_EQ(std::string(Doc().geomObjects[0].nodeName), expectedName + "??");
    // UTF-16 in both byte orders.
    std::u16string wide = u"*GEOMOBJECT {\n*NODE_NAME \"Caf\u00e9 \u20ac\U0001F600\"\n}\n";
    for (bool big : {false, true}) {
        std::string bytes = big ? "\xFE\xFF" : "\xFF\xFE";
        for (char16_t unit : wide) {
            const char hi = static_cast<char>(unit >> 8);
            const char lo = static_cast<char>(unit & 0xFF);
            bytes += big ? std::string{hi, lo} : std::string{lo, hi};
        }
        ASSERT_EQ(Parse(bytes), 1);
        EXPECT_EQ(std::string(Doc().geomObjects[0].nodeName), expectedName + "?");
    }
}

TEST_F(ReaderDocument, SampleFilesParse) {
    for (const char* name : {"ThreeCubesGreen.ASE", "RotatingCube.ASE", "anim.ASE"}) {
        const std::string bytes = asetest::ReadFileBytes(std::string(ASE_SHARED_DIR "/samples/") + name);
        if (bytes.empty()) GTEST_SKIP() << "samples not present";
        ASSERT_EQ(Parse(bytes), 1) << name;
        EXPECT_GT(Doc().geomObjectCount, 0);
        EXPECT_GT(Doc().geomObjects[0].vertexCount, 0) << name;
        EXPECT_GT(Doc().geomObjects[0].faceCount, 0) << name;
    }
}

}  // namespace
