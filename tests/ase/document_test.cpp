// Block parsers at document level: what each block family puts into the
// document, including the edge cases that catch real faults.
#include <string>
#include <vector>

#include "test_support.h"

namespace {

using asetest::Doc;
using asetest::Object;
using asetest::Parse;

class ReaderDocument : public asetest::ReaderTest {
protected:
    struct Case { const char* what; std::string text; int result; std::vector<asetest::Check> checks; };

    static void Run(const std::vector<Case>& cases) {
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            ASSERT_EQ(Parse(c.text), c.result);
            asetest::ExpectAll(c.checks);
        }
    }
};

std::string MaterialList(const std::string& materials, int count) {
    return "*MATERIAL_LIST {\n*MATERIAL_COUNT " + std::to_string(count) + "\n" + materials + "}\n";
}

TEST_F(ReaderDocument, MeshEdgeCases) {
    const std::string face = ": A: 0 B: 1 C: 2 AB: 1 BC: 1 CA: 0";
    Run({
        {"keywords ignore case, but only a capital *MESH_MTLID gives the material id",
         MaterialList(
             "*MATERIAL 0 {\n*NUMSUBMTLS 3\n*SUBMATERIAL 0 {\n}\n*SUBMATERIAL 1 {\n}\n*SUBMATERIAL 2 {\n}\n}\n", 1) +
             Object("*mesh {\n*mesh_numvertex 3\n*Mesh_NumFaces 5\n*MESH_FACE_LIST {\n*MESH_FACE 0" + face +
                    " *MESH_SMOOTHING 1 *MESH_MTLID 2\n*MESH_FACE 1" + face + " *MESH_MTLID 2 *MESH_OTHER\n" +
                    "*MESH_FACE 2" + face + " *mesh_mtlid 2\n*mesh_face 3" + face + "\n*MESH_FACE 4 " + face +
                    " *MESH_MTLID 1\n}\n}\n"),
         1,
         {ASE_OBJ_EQ(vertexCount, 3), ASE_OBJ_EQ(faces[0].materialId, 2), ASE_OBJ_EQ(faces[1].materialId, 0),
          ASE_OBJ_EQ(faces[2].materialId, 0), ASE_OBJ_EQ(faces[3].materialId, 0), ASE_OBJ_EQ(faces[3].a, 0),
          // A blank between index and colon: the line is passed over.
          ASE_OBJ_EQ(faces[4].a, -1)}},
        {"list items need their count and an index in range",
         Object(
             "*MESH {\n*MESH_NUMVERTEX 2\n*MESH_NUMTVERTEX 4\n"
             "*MESH_VERTEX_LIST {\n*MESH_VERTEX 2 9 9 9\n*MESH_VERTEX -1 9 9 9\n*MESH_VERTEX 1 5 6 7\n}\n"
             "*MESH_TVERTLIST {\n*MESH_TVERT 3 0.5 0.25\n*MESH_TVERT 0 0.1 0.2 0.3\n}\n"
             "*MESH_FACE_LIST {\n*MESH_FACE 0" +
             face +
             "\n}\n*MESH_MAPPINGCHANNEL 2 {\n*MESH_NUMTVERTEX 1\n*MESH_TVERTLIST {\n*MESH_TVERT 0 0.75 0.5\n}\n}\n"
             "*MESH_MAPPINGCHANNEL 2 {\n}\n*MESH_NORMALS {\n*MESH_FACENORMAL 0 0 0 1\n*MESH_VERTEXNORMAL {\n}\n}\n}\n"),
         1,
         {ASE_OBJ_EQ(vertices[1].position.z, 7), ASE_OBJ_EQ(vertices[0].color[0], 1),
          ASE_OBJ_EQ(texChannel.tverts[3].u, 0.5), ASE_OBJ_EQ(texChannel.tverts[3].v, 0.25),
          ASE_OBJ_EQ(texChannel.tverts[0].v, 0.2), ASE_OBJ_EQ(faceCount, 0), ASE_OBJ_EQ(mapChannelCount, 2),
          ASE_OBJ_EQ(mapChannels[0].channel, 2), ASE_OBJ_EQ(mapChannels[1].channel, 2),
          ASE_OBJ_EQ(mapChannels[0].tverts[0].u, 0.75)}},
        {"a second vertex count drops earlier vertices",
         Object("*MESH {\n*MESH_NUMVERTEX 2\n*MESH_VERTEX_LIST {\n*MESH_VERTEX 0 4 4 4\n}\n"
                "*MESH_NUMVERTEX 2\n*MESH_VERTEX_LIST {\n*MESH_VERTEX 1 4 4 4\n}\n}\n"),
         1,
         {ASE_OBJ_EQ(vertices[0].position.x, 0)}},
        {"node matrix snaps tiny values, keeps the fourth column and passes over a short row; names are the "
         "first quoted text",
         Object("*NODE_PARENT \"p 1\" \"\"\n*NODE_TM {\n*TM_ROW0 2 0 0\n*TM_ROW3 0.00005 10 -0.00009\n*TM_ROW1 1\n}\n"),
         1,
         {ASE_OBJ_STR(parentName, "p 1"), ASE_OBJ_EQ(worldTm.m[0], 2), ASE_OBJ_EQ(worldTm.m[12], 0),
          ASE_OBJ_EQ(worldTm.m[13], 10), ASE_OBJ_EQ(worldTm.m[14], 0), ASE_OBJ_EQ(worldTm.m[15], 1),
          ASE_OBJ_EQ(worldTm.m[5], 1)}},
        {"a brace on its own line swallows the rest of the file",
         "*GEOMOBJECT {\n*MESH {\n*MESH_NUMVERTEX 1\n*MESH_VERTEX_LIST\n{\n*MESH_VERTEX 0 1 2 3\n}\n}\n"
         "*NODE_NAME \"late\"\n}\n",
         1,
         {ASE_OBJ_EQ(vertices[0].position.x, 1), ASE_OBJ_STR(nodeName, "")}},
    });
}

TEST_F(ReaderDocument, SceneAndNestingEdgeCases) {
    Run({
        {"scene values and their limits",
         "*SCENE {\n*SCENE_FIRSTFRAME 10\n*SCENE_LASTFRAME 10\n*SCENE_FRAMESPEED 30.5\n*SCENE_TICKSPERFRAME 0\n}\n" +
             Object(""),
         1,
         {ASE_EQ(frameCount, 30), ASE_EQ(frameSpeed, 30), ASE_EQ(ticksPerFrame, 160), ASE_EQ(firstFrame, 10)}},
        {"the frame difference does not overflow 32 bits",
         "*SCENE {\n*SCENE_FIRSTFRAME -2147483648\n*SCENE_LASTFRAME 2147483647\n}\n" + Object(""),
         1,
         {ASE_EQ(frameCount, 4294967295.0)}},
        {"a material list inside the scene ends it and is not read as a list",
         "*SCENE {\n*SCENE_FRAMESPEED 25\n*MATERIAL_LIST {\n*MATERIAL_COUNT 1\n*MATERIAL 0 {\n"
         "*MATERIAL_NAME \"m\"\n}\n}\n*SCENE_FRAMESPEED 10\n}\n" +
             Object(""),
         1,
         {ASE_EQ(frameSpeed, 25), ASE_STR(materials[0].name, "")}},
        {"objects inside unread blocks are imported; an open object ends at the next",
         "*GROUP \"g\" {\n" + Object("", "inner") + "}\n*GEOMOBJECT {\n*NODE_NAME \"open\"\n" + Object("", "skipped") +
             Object("", "last"),
         1,
         {ASE_EQ(geomObjectCount, 4), ASE_OBJ_STR(nodeName, "inner"), ASE_STR(geomObjects[1].nodeName, "open"),
          ASE_STR(geomObjects[2].nodeName, "last"), ASE_STR(geomObjects[3].nodeName, "")}},
        {"an open material ends at the next material, an open list at an object",
         "*MATERIAL_LIST {\n*MATERIAL_COUNT 2\n*MATERIAL 0 {\n*MATERIAL_NAME \"a\"\n*MATERIAL 1 {\n"
         "*MATERIAL_NAME \"b\"\n}\n" +
             Object("", "first") + Object("", "second"),
         1,
         {ASE_STR(materials[0].name, "a"), ASE_STR(materials[1].name, ""), ASE_EQ(geomObjectCount, 2),
          ASE_OBJ_STR(nodeName, "second"), ASE_STR(geomObjects[1].nodeName, "")}},
        // The second light line was counted as it came; that light is
        // not parsed and keeps its defaults.
        {"an open light ends at the next and none is written beyond the count",
         Object("") + "*LIGHTOBJECT {\n*NODE_NAME \"a\"\n*LIGHTOBJECT {\n*NODE_NAME \"b\"\n}\n",
         1,
         {ASE_STR(lights[0].nodeName, "a"), ASE_STR(lights[1].nodeName, "")}},
    });
}

TEST_F(ReaderDocument, MaterialEdgeCases) {
    const std::string longPath = "\"c:\\" + std::string(200, 'n') + "." + std::string(200, 'e') + "\"";
    Run({
        {"values follow their limits",
         MaterialList(
             "*MATERIAL 0 {\n*MATERIAL_NAME \"m0\"\n*MATERIAL_TRANSPARENCY 1.0\n*MATERIAL_SHINE 0.5\n"
             "*MATERIAL_TWOSIDED\n*MATERIAL_DIFFUSE 0.5 2.0 -1\n*NUMSUBMTLS 2\n"
             "*SUBMATERIAL 0 {\n*MATERIAL_TRANSPARENCY 1.5\n*MATERIAL_SHINE 2.0\n}\n"
             "*SUBMATERIAL 1 {\n*MATERIAL_TRANSPARENCY -0.5\n*MATERIAL_SHINE -1\n}\n"
             "}\n*MATERIAL 1 {\n*MATERIAL_TRANSPARENCY 1.5\n}\n*MATERIAL 2 {\n*MATERIAL_TRANSPARENCY -0.5\n}\n",
             3) +
             Object(""),
         1,
         {ASE_EQ(materials[0].opacity, 1), ASE_EQ(materials[0].shininess, 64), ASE_EQ(materials[0].twoSided, 1),
          ASE_EQ(materials[0].diffuse[1], 2), ASE_EQ(materials[0].diffuse[2], -1),
          ASE_EQ(materials[0].subMaterials[0].opacity, 0), ASE_EQ(materials[0].subMaterials[0].shininess, 128),
          ASE_EQ(materials[0].subMaterials[1].opacity, 1), ASE_EQ(materials[0].subMaterials[1].shininess, 0),
          ASE_EQ(materials[1].opacity, 1), ASE_EQ(materials[2].opacity, 1), ASE_EQ(nextMaterial, 3)}},
        {"a nested map's bitmap wins; a path ending in a separator or without a dot",
         MaterialList("*MATERIAL 0 {\n*MAP_BUMP {\n*BITMAP \"C:\\maps\\old.tga\"\n*MAP_GENERIC {\n"
                      "*BITMAP \"C:\\maps\\deep\\bump.tga\"\n}\n}\n*MAP_OPACITY {\n*BITMAP \"C:\\maps\\\"\n}\n"
                      "*MAP_SPECULAR {\n*BITMAP \"/a/b/noext\"\n}\n}\n",
                      1) +
             Object(""),
         1,
         {ASE_STR(materials[0].bumpMap, u"bump.tga"), ASE_STR(materials[0].opacityMap, u""),
          ASE_STR(materials[0].specularMap, u"noext")}},
        // The quoted path is cut at 255 bytes first: 200 name bytes, a dot and 51.
        {"a long bitmap name and extension are cut to the slot",
         MaterialList("*MATERIAL 0 {\n*MAP_DIFFUSE {\n*BITMAP " + longPath + "\n}\n}\n", 1) + Object(""),
         1,
         {ASE_STR(materials[0].diffuseMap, std::u16string(200, u'n') + u"." + std::u16string(51, u'e'))}},
        // Material and sub-material indices beyond their counts, or without one, fail the import
        // (material 2 of 2 is the import's fault test, with its message).
        {"material -1", MaterialList("*MATERIAL -1 {\n}\n*MATERIAL 0 {\n}\n", 2) + Object(""), 0, {}},
        {"sub-material 2 of 2", MaterialList("*MATERIAL 0 {\n*NUMSUBMTLS 2\n*SUBMATERIAL 2 {\n}\n}\n", 1) + Object(""),
         0, {}},
        {"sub-material of none", MaterialList("*MATERIAL 0 {\n*SUBMATERIAL 0 {\n}\n}\n", 1) + Object(""), 0, {}},
        {"a list without *MATERIAL_COUNT is passed over", "*MATERIAL_LIST {\n*MATERIAL 5 {\n}\n}\n" + Object(""), 1,
         {ASE_EQ(materials, nullptr)}},
    });
}

std::string FacesWithIds(int ref, const char* const (&ids)[6]) {
    std::string faces = "*MATERIAL_REF " + std::to_string(ref) + "\n*MESH {\n*MESH_NUMVERTEX 3\n*MESH_NUMFACES 6\n*MESH_FACE_LIST {\n";
    for (int f = 0; f < 6; ++f) {
        faces += "*MESH_FACE " + std::to_string(f) + ": A: 0 B: 1 C: 2 AB: 1 BC: 1 CA: 0" +
                 (*ids[f] != '\0' ? std::string(" *MESH_MTLID ") + ids[f] : std::string()) + "\n";
    }
    return faces + "}\n}\n";
}

// Host material indices: material 0 makes one host material, material 1
// three (its sub-materials), material 2 one. "" is a face without an id.
TEST_F(ReaderDocument, MaterialIdsBecomeHostMaterialIndices) {
    const struct { int ref; const char* ids[6]; int expected[6]; } objects[] = {
        {1, {"0", "1", "2", "3", "-5", ""}, {1, 2, 3, 1, 1, 1}},
        {2, {"0", "1", "", "-2147483648", "2147483647", "0"}, {4, 4, 4, 4, 4, 4}},
        {3, {"0", "1", "2", "0", "0", "0"}, {-1, -1, -1, -1, -1, -1}},
        {-1, {"0", "0", "0", "0", "0", "0"}, {-1, -1, -1, -1, -1, -1}}};
    std::string text = MaterialList(
        "*MATERIAL 0 {\n}\n*MATERIAL 1 {\n*NUMSUBMTLS 3\n*SUBMATERIAL 0 {\n}\n"
        "*SUBMATERIAL 1 {\n}\n*SUBMATERIAL 2 {\n}\n}\n*MATERIAL 2 {\n}\n",
        3);
    for (const auto& o : objects) text += Object(FacesWithIds(o.ref, o.ids));
    ASSERT_EQ(Parse(text), 1);
    for (int k = 0; k < 4; ++k) {
        for (int f = 0; f < 6; ++f)
            EXPECT_EQ(Doc().geomObjects[k].faces[f].materialId, objects[k].expected[f]) << k << ' ' << f;
    }
    // Without a material list every face gets -1.
    ASSERT_EQ(Parse(Object(FacesWithIds(0, {"0", "", "3", "0", "0", "0"}))), 1);
    for (int f = 0; f < 6; ++f) EXPECT_EQ(Doc().geomObjects[0].faces[f].materialId, -1);
}

TEST_F(ReaderDocument, AnimationLightAndCameraEdgeCases) {
    std::string manyKeys = "*TM_ANIMATION {\n*CONTROL_POS_TRACK {\n";
    for (int i = 0; i < 200000; ++i) manyKeys += "*CONTROL_POS_SAMPLE " + std::to_string(i) + " 1 2 3\n";
    Run({
        {"200000 keys grow their array to less than twice the count",
         Object(manyKeys + "}\n}\n"),
         1,
         {ASE_OBJ_EQ(posKeyCount, 200000), ASE_OBJ_EQ(posKeys[199999].value.y, 2),
          {"capacity", [](const AseDocument& d) { return d.geomObjects[0].posKeyCapacity < 400000; }}}},
        {"lights and cameras at document level",
         Object("") +
             "*LIGHTOBJECT {\n*NODE_NAME \"L\"\n*LIGHT_TYPE target\n*NODE_TM {\n*TM_ROW3 1 2 3\n}\n"
             "*NODE_TM {\n*TM_ROW3 9 9 9\n}\n*LIGHT_SETTINGS {\n*LIGHT_COLOR 0.5 0.25 1\n*LIGHT_INTENS 2\n}\n}\n"
             "*LIGHTOBJECT {\n*LIGHT_TYPE Spot\n}\n"
             "*CAMERAOBJECT {\n*CAMERA_TYPE Free\n*CAMERA_SETTINGS {\n*CAMERA_FOV 0.7853982\n*CAMERA_NEAR 2\n}\n}\n",
         1,
         {ASE_EQ(lightCount, 2), ASE_EQ(lights[0].lightType, kLightTarget), ASE_NEAR(lights[0].transform.tm.m[3], 1),
          ASE_NEAR(lights[0].transform.tm.m[7], 2), ASE_NEAR(lights[0].transform.tm.m[11], 3),
          ASE_EQ(lights[0].color[1], 0.25), ASE_EQ(lights[0].intensity, 2), ASE_EQ(lights[1].lightType, kLightOmni),
          ASE_NEAR(cameras[0].fovDegrees, 45), ASE_EQ(cameras[0].nearClip, 2)}},
    });
}

// Helpers are nodes after the geometry objects: a child finds a helper
// parent wherever it stands in the file, a name shared with an object
// names the object, a helper has no mesh, an open helper ends at the next
// node, and both ways of reading give the same document.
TEST_F(ReaderDocument, HelpersAreNodesAfterTheObjects) {
    const std::string helper = "*HELPEROBJECT {\n*NODE_NAME \"h\"\n*HELPER_CLASS \"Dummy\"\n*NODE_TM {\n*TM_ROW3 10 0 0\n}\n"
                               "*TM_ANIMATION {\n*CONTROL_POS_TRACK {\n*CONTROL_POS_SAMPLE 4800 10 5 0\n}\n}\n}\n";
    const std::string child = "*NODE_PARENT \"h\"\n*NODE_TM {\n*TM_ROW3 12 0 0\n}\n";
    const std::vector<Case> cases = {
        {"a child before its helper parent",
         Object(child, "c") + helper + "*HELPEROBJECT {\n*NODE_NAME \"g\"\n*NODE_PARENT \"c\"\n}\n",
         1,
         {ASE_EQ(geomObjectCount, 1), ASE_EQ(helperCount, 2), ASE_OBJ_EQ(parentIndex, 1),
          ASE_OBJ_EQ(localTranslation.x, 2), ASE_STR(helpers[0].nodeName, "h"), ASE_EQ(helpers[0].parentIndex, -1),
          ASE_EQ(helpers[0].localTranslation.x, 10), ASE_EQ(helpers[0].posKeyCount, 1),
          ASE_EQ(helpers[0].posKeys[0].value.y, 5), ASE_EQ(helpers[0].vertices, nullptr),
          ASE_EQ(helpers[1].parentIndex, 0)}},
        {"a name shared by an object and a helper names the object",
         helper + Object("", "h") + Object(child, "c"),
         1,
         {ASE_EQ(geomObjectCount, 2), ASE_EQ(geomObjects[1].parentIndex, 0), ASE_EQ(helpers[0].parentIndex, -1)}},
        {"an open helper ends at the next object, an open object at the next helper",
         "*HELPEROBJECT {\n*NODE_NAME \"open\"\n" + Object("*NODE_NAME \"late\"\n", "o") +
             "*GEOMOBJECT {\n*NODE_NAME \"p\"\n*HELPEROBJECT {\n*NODE_NAME \"q\"\n}\n" + Object("", "last"),
         1,
         // The blocks that end them are counted but read as unread lines,
         // so their records are the last ones and stay empty.
         {ASE_EQ(geomObjectCount, 3), ASE_EQ(helperCount, 2), ASE_STR(helpers[0].nodeName, "open"),
          ASE_STR(helpers[1].nodeName, ""), ASE_STR(geomObjects[0].nodeName, "p"),
          ASE_STR(geomObjects[1].nodeName, "last"), ASE_STR(geomObjects[2].nodeName, "")}},
        {"helpers alone are no geometry", helper, 0, {}},
    };
    for (const bool twoPasses : {false, true}) {
        SCOPED_TRACE(twoPasses ? "two passes" : "one pass");
        asetest::TheReading().reader.twoPasses = twoPasses;
        Run(cases);
    }
    asetest::TheReading().reader.twoPasses = false;
}

// Marked UTF-8 and UTF-16 in either byte order import as their code-page
// twin; an invalid byte and a character beyond the code page become '?'.
TEST_F(ReaderDocument, MarkedTextImportsLikeItsAnsiTwin) {
    const std::u16string wide = u"*GEOMOBJECT {\n*NODE_NAME \"Caf\u00e9 \u20ac\U0001F600\"\n}\n";
    std::string little = "\xFF\xFE", big = "\xFE\xFF";
    for (char16_t unit : wide) {
        const char hi = static_cast<char>(unit >> 8), lo = static_cast<char>(unit & 0xFF);
        little += {lo, hi};
        big += {hi, lo};
    }
    const std::string u8 = "\xEF\xBB\xBF*GEOMOBJECT {\n*NODE_NAME \"Caf\xC3\xA9 \xE2\x82\xAC\xFF\xF0\x9F\x98\x80\"\n}";
    for (const auto& [bytes, tail] : {std::pair{u8, "??"}, {little, "?"}, {big, "?"}}) {
        ASSERT_EQ(Parse(bytes), 1);
        EXPECT_EQ(Doc().geomObjects[0].nodeName, "Caf\xE9 \x80" + std::string(tail));
    }
}

}  // namespace
