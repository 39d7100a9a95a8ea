// The keywords of the ASE format the reader knows, from one list: the
// enumeration observers and the reader's stages compare first words with,
// the lookup of a word and the text of a keyword. Public: part of what the
// reader tells an observer (ase/observe.h).
#pragma once

#include <cstdint>
#include <string_view>

#define ASE_KEYWORDS(X)                                                    \
    X(CloseBrace, "}")                                                     \
    X(AsciiExport, "*3DSMAX_ASCIIEXPORT")                                  \
    X(Scene, "*SCENE")                                                     \
    X(SceneFirstFrame, "*SCENE_FIRSTFRAME")                                \
    X(SceneLastFrame, "*SCENE_LASTFRAME")                                  \
    X(SceneFrameSpeed, "*SCENE_FRAMESPEED")                                \
    X(SceneTicksPerFrame, "*SCENE_TICKSPERFRAME")                          \
    X(MaterialList, "*MATERIAL_LIST")                                      \
    X(MaterialCount, "*MATERIAL_COUNT")                                    \
    X(Material, "*MATERIAL")                                               \
    X(MaterialName, "*MATERIAL_NAME")                                      \
    X(MaterialClass, "*MATERIAL_CLASS")                                    \
    X(MaterialAmbient, "*MATERIAL_AMBIENT")                                \
    X(MaterialDiffuse, "*MATERIAL_DIFFUSE")                                \
    X(MaterialSpecular, "*MATERIAL_SPECULAR")                              \
    X(MaterialTransparency, "*MATERIAL_TRANSPARENCY")                      \
    X(MaterialShine, "*MATERIAL_SHINE")                                    \
    X(MaterialTwoSided, "*MATERIAL_TWOSIDED")                              \
    X(NumSubMtls, "*NUMSUBMTLS")                                           \
    X(SubMaterial, "*SUBMATERIAL")                                         \
    X(MapDiffuse, "*MAP_DIFFUSE")                                          \
    X(MapOpacity, "*MAP_OPACITY")                                          \
    X(MapSpecular, "*MAP_SPECULAR")                                        \
    X(MapBump, "*MAP_BUMP")                                                \
    X(Bitmap, "*BITMAP")                                                   \
    X(GeomObject, "*GEOMOBJECT")                                           \
    X(NodeName, "*NODE_NAME")                                              \
    X(NodeParent, "*NODE_PARENT")                                          \
    X(MaterialRef, "*MATERIAL_REF")                                        \
    X(NodeTm, "*NODE_TM")                                                  \
    X(TmRow0, "*TM_ROW0")                                                  \
    X(TmRow1, "*TM_ROW1")                                                  \
    X(TmRow2, "*TM_ROW2")                                                  \
    X(TmRow3, "*TM_ROW3")                                                  \
    X(Mesh, "*MESH")                                                       \
    X(MeshAnimation, "*MESH_ANIMATION")                                    \
    X(TimeValue, "*TIMEVALUE")                                             \
    X(MeshNumVertex, "*MESH_NUMVERTEX")                                    \
    X(MeshNumFaces, "*MESH_NUMFACES")                                      \
    X(MeshNumTVertex, "*MESH_NUMTVERTEX")                                  \
    X(MeshNumTVFaces, "*MESH_NUMTVFACES")                                  \
    X(MeshNumCVertex, "*MESH_NUMCVERTEX")                                  \
    X(MeshNumCVFaces, "*MESH_NUMCVFACES")                                  \
    X(MeshVertexList, "*MESH_VERTEX_LIST")                                 \
    X(MeshVertex, "*MESH_VERTEX")                                          \
    X(MeshFaceList, "*MESH_FACE_LIST")                                     \
    X(MeshFace, "*MESH_FACE")                                              \
    X(MeshTVertList, "*MESH_TVERTLIST")                                    \
    X(MeshTVert, "*MESH_TVERT")                                            \
    X(MeshTFaceList, "*MESH_TFACELIST")                                    \
    X(MeshTFace, "*MESH_TFACE")                                            \
    X(MeshCVertList, "*MESH_CVERTLIST")                                    \
    X(MeshVertCol, "*MESH_VERTCOL")                                        \
    X(MeshCFaceList, "*MESH_CFACELIST")                                    \
    X(MeshCFace, "*MESH_CFACE")                                            \
    X(MeshMappingChannel, "*MESH_MAPPINGCHANNEL")                          \
    X(MeshNormals, "*MESH_NORMALS")                                        \
    X(TmAnimation, "*TM_ANIMATION")                                        \
    X(ControlPosLinear, "*CONTROL_POS_LINEAR")                             \
    X(ControlPosTcb, "*CONTROL_POS_TCB")                                   \
    X(ControlPosBezier, "*CONTROL_POS_BEZIER")                             \
    X(ControlPosTrack, "*CONTROL_POS_TRACK")                               \
    X(ControlRotLinear, "*CONTROL_ROT_LINEAR")                             \
    X(ControlRotTcb, "*CONTROL_ROT_TCB")                                   \
    X(ControlRotBezier, "*CONTROL_ROT_BEZIER")                             \
    X(ControlRotTrack, "*CONTROL_ROT_TRACK")                               \
    X(ControlScaleLinear, "*CONTROL_SCALE_LINEAR")                         \
    X(ControlScaleTcb, "*CONTROL_SCALE_TCB")                               \
    X(ControlScaleBezier, "*CONTROL_SCALE_BEZIER")                         \
    X(ControlScaleTrack, "*CONTROL_SCALE_TRACK")                           \
    X(ControlPosSample, "*CONTROL_POS_SAMPLE")                             \
    X(ControlPosKey, "*CONTROL_POS_KEY")                                   \
    X(ControlBezierPosKey, "*CONTROL_BEZIER_POS_KEY")                      \
    X(ControlTcbPosKey, "*CONTROL_TCB_POS_KEY")                            \
    X(ControlRotSample, "*CONTROL_ROT_SAMPLE")                             \
    X(ControlRotKey, "*CONTROL_ROT_KEY")                                   \
    X(ControlBezierRotKey, "*CONTROL_BEZIER_ROT_KEY")                      \
    X(ControlTcbRotKey, "*CONTROL_TCB_ROT_KEY")                            \
    X(ControlScaleSample, "*CONTROL_SCALE_SAMPLE")                         \
    X(ControlScaleKey, "*CONTROL_SCALE_KEY")                               \
    X(ControlBezierScaleKey, "*CONTROL_BEZIER_SCALE_KEY")                  \
    X(ControlTcbScaleKey, "*CONTROL_TCB_SCALE_KEY")                        \
    X(LightObject, "*LIGHTOBJECT")                                         \
    X(LightType, "*LIGHT_TYPE")                                            \
    X(LightSettings, "*LIGHT_SETTINGS")                                    \
    X(LightColor, "*LIGHT_COLOR")                                          \
    X(LightIntens, "*LIGHT_INTENS")                                        \
    X(LightHotspot, "*LIGHT_HOTSPOT")                                      \
    X(LightFalloff, "*LIGHT_FALLOFF")                                      \
    X(LightAttnStart, "*LIGHT_ATTNSTART")                                  \
    X(LightAttnEnd, "*LIGHT_ATTNEND")                                      \
    X(CameraObject, "*CAMERAOBJECT")                                       \
    X(CameraType, "*CAMERA_TYPE")                                          \
    X(CameraSettings, "*CAMERA_SETTINGS")                                  \
    X(CameraNear, "*CAMERA_NEAR")                                          \
    X(CameraFar, "*CAMERA_FAR")                                            \
    X(CameraFov, "*CAMERA_FOV")                                            \
    X(CameraTdist, "*CAMERA_TDIST")                                        \
    X(HelperObject, "*HELPEROBJECT")

enum class Kw : uint8_t {
    kUnknown,
#define ASE_KEYWORD_ENUM(name, text) k##name,
    ASE_KEYWORDS(ASE_KEYWORD_ENUM)
#undef ASE_KEYWORD_ENUM
        kCount
};

// The keyword a first word names, compared without regard to letter case;
// kUnknown for any other word. Constant time: a hash of the upper-cased
// word into a small open-addressed table, then one comparison.
Kw LookupKeyword(std::string_view word);

// The keyword's text as the tables spell it ("" for kUnknown).
std::string_view KeywordText(Kw keyword);
