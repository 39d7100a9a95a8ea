// Internals of the ASE reader shared by its stages: the in-memory source,
// the line scanner, number reading, keyword lookup, the block stack, the
// block loop and the block parsers. Private to ase/ and its tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ase/document.h"
#include "plugin/host_api.h"

// --- Source --------------------------------------------------------------------

// Bytes after the end of every source buffer: the first is a line feed, the
// rest zero, so the scanner may read a vector past its position and always
// meets a line end.
inline constexpr uint32_t kSourcePadding = 64;  // at least 32 + 16

// The whole file in memory. `data` holds `size` bytes followed by
// kSourcePadding padding bytes; it comes from DocumentAllocate and is freed
// by ReleaseAseSource. A fresh source is all zero.
struct AseSource {
    char* data;
    uint32_t position;
    uint32_t size;
    // Bytes of the declared counts believed so far in this import (see
    // BelieveDeclaredCount); the parse starts it at 0.
    uint64_t believedBytes;
};

// Frees the source's data and zeroes the source.
void ReleaseAseSource(AseSource& source);

// Makes `source` own a padded copy of `bytes` (any previous data is freed),
// with text marked by a byte-order mark converted to the ANSI code page.
// Returns 1, or 0 when memory cannot be had (the source is then empty).
int MakeAseSource(AseSource& source, const void* bytes, size_t size);

// Allocates an uninitialised padded buffer of `size` bytes for `source`
// (freeing what it held). Returns the buffer or null.
char* AllocateSourceBuffer(AseSource& source, uint32_t size);

// Completes a source whose `size` bytes were written into the buffer of
// AllocateSourceBuffer: converts marked text in place and lays the padding.
void FinishAseSource(AseSource& source);

// --- Character classes (C locale, independent of the process locale) -------

// The C locale's isspace: space, \t, \n, \v, \f, \r.
inline bool IsCSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
inline bool IsDigit(unsigned char c) { return c >= '0' && c <= '9'; }
inline unsigned char AsciiUpper(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }

// Case-insensitive equality of two byte ranges, ASCII letters folded only.
bool EqualNoCase(std::string_view a, std::string_view b);

// --- Keywords ------------------------------------------------------------------

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
    X(CameraTdist, "*CAMERA_TDIST")

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

// LookupKeyword for a word followed by at least 32 readable bytes (any word
// inside a source buffer, thanks to its padding); reads them in lanes.
Kw LookupKeywordPadded(const char* word, size_t length);

// The keyword's text as the tables spell it ("" for kUnknown).
std::string_view KeywordText(Kw keyword);

// --- Lines ---------------------------------------------------------------------

enum : uint32_t {
    kMaxKeywordChars = 511,    // the first word is cut to this many bytes
    kMaxBlockNameChars = 255,  // block names on the stack
    kMaxQuotedChars = 255,     // quoted texts
    kMinLineCapacity = 1024,   // least line capacity recorded in maxLineLength
};

// One line of the source, viewed in place. The text ends at the first NUL
// of the line or at its CR/LF, whichever comes first.
struct AseLine {
    const char* text;
    uint32_t length;
    bool opens;   // '{' in the text
    bool closes;  // '}' in the text
    const char* word;  // first word (cut at kMaxKeywordChars); wordLength 0: none
    uint32_t wordLength;
    const char* args;  // first byte after the whole first word
    Kw keyword;
    const char* end() const { return text + length; }
    std::string_view Word() const { return {word, wordLength}; }
};

// Advances to the next line that holds at least one byte and fills `line`'s
// text, length and brace flags (not the word). Returns false at the end of
// the input. Yields exactly the non-empty lines of the line splitting rule;
// the empty lines it omits carry no word.
bool NextLine(AseSource& source, AseLine& line);

// Bit i of `lineEnds` is set when p[i] is CR or LF, of `stars` when it is
// '*', for the 64 bytes at `p` (all readable).
void MarkLineEndsAndStars(const char* p, uint64_t& lineEnds, uint64_t& stars);

// Finds the first word of the line (keyword left kUnknown). Returns false
// when the line holds no word. The line lies in a buffer with at least 16
// readable bytes after its end (a source's lines do).
bool FindFirstWord(AseLine& line);

// Finds the first word of the line and its keyword. Returns false when the
// line holds no word.
bool ScanFirstWord(AseLine& line);

// Copies the line's first quoted text into `dest` (kAseNameBytes bytes); a
// line without a double quote leaves `dest` unchanged.
void ReadQuotedString(char* dest, const AseLine& line);

// Capacity of a line buffer that holds every line: max(longest line + its
// terminator, 1024) + 1. Leaves `position` unchanged.
int32_t MeasureLongestLine(const AseSource& source);

// --- Numbers (as the C locale's sscanf reads them) -----------------------------

// "%d": skips C whitespace, reads an optional sign and decimal digits. The
// value is the one glibc stores: saturated to 64 bits, then cut to 32.
// On success advances `cursor` past the number.
bool ReadInt(const char*& cursor, const char* end, int32_t& value);

// "%f": the longest prefix glibc's scanner takes (sign, inf/infinity/nan,
// hexadecimal and decimal forms, dangling exponents), converted with
// correct rounding to single precision. On success advances `cursor`.
bool ReadFloat(const char*& cursor, const char* end, float& value);

// Reads `count` reals after the line's first word ("%s %f %f ..."); true
// when all are read.
bool ReadLineFloats(const AseLine& line, float* values, int count);

// Reads one integer and then `count` reals after the first word.
bool ReadLineIntFloats(const AseLine& line, int32_t& index, float* values, int count);

// Reads one integer after the first word.
bool ReadLineInt(const AseLine& line, int32_t& value);

// "%Ns": skips C whitespace and takes up to `maxChars` other bytes.
bool ReadWord(const char*& cursor, const char* end, uint32_t maxChars, std::string_view& word);

// --- Block stack ---------------------------------------------------------------

// The stack of open block names, stored back to back in one growing buffer
// (memory in proportion to the names held). Its buffers come from
// DocumentAllocate; Clear frees them.
class BlockStack {
public:
    // Pushes `name` cut to kMaxBlockNameChars. Returns false when memory
    // cannot be had (the stack is then unchanged).
    bool Push(std::string_view name);
    // Removes the top entry, copying its name into `dest` (256 bytes) when
    // given. Returns false on an empty stack (dest untouched).
    bool Pop(char* dest);
    // Removes the top entry; true when its name equals `name` without regard
    // to case. False on an empty stack.
    bool PopMatches(std::string_view name);
    void Clear();
    size_t Depth() const { return depth_; }
    size_t CapacityBytes() const { return nameCapacity_ + endCapacity_ * sizeof(uint32_t); }

private:
    char* names_ = nullptr;
    size_t nameUsed_ = 0;
    size_t nameCapacity_ = 0;
    uint32_t* ends_ = nullptr;  // end offset of each entry's name
    size_t depth_ = 0;
    size_t endCapacity_ = 0;
};

BlockStack& TheBlockStack();

// --- Block loop ------------------------------------------------------------------

// What the block loop reads next.
enum class BlockStep {
    kLine,  // a line with a word for the parser to act on
    kDone,  // the block closed, or the input ended
    kFail,  // the block stack could not grow
};

// Reads lines of the block named `own` (empty: the top level, which never
// closes) until one holds a word; pushes its first word when it opens a
// block, else pops when it closes one. Returns kDone when the pop closes
// `own`.
BlockStep NextBlockLine(AseSource& source, std::string_view own, AseLine& line);

// Reads and discards the lines of the block named `own`. 1, or 0 when the
// block stack could not grow.
int SkipBlock(AseSource& source, std::string_view own);

// --- Memory bound of declared counts -------------------------------------------

// A count that a line declares (materials, sub-materials, mesh arrays) is
// believed only when the memory it asks for stays in proportion to the file:
// count x element size at most kDeclaredBytesPerFileByte times the bytes
// after the count line plus kDeclaredSlackBytes, and every count believed in
// one import together at most the same multiple of the whole file plus the
// slack (so many count lines cannot add up to more). A count beyond that is
// treated as an allocation failure. The slack lets a small file declare a
// few large records: a material takes about 2.4 KB. Appended keys are real
// lines no smaller than their records and need no bound.
inline constexpr uint64_t kDeclaredBytesPerFileByte = 8;
inline constexpr uint64_t kDeclaredSlackBytes = 64 * 1024;

// The objects, lights and cameras that the first pass counts are real lines
// too, but a line of a dozen bytes ("*GEOMOBJECT" and its line end) would
// make records of hundreds. Their counts are charged to the same budget
// before anything is allocated, each object at these bytes: its document
// record and the host records the scene builder makes of it (object, bone,
// face group, animation track). Exporters write hundreds of bytes for every
// object (its node transform alone takes about 400), so real files stay
// far inside the budget while a flood of object lines fails at once.
inline constexpr size_t kCountedGeomObjectBytes =
    sizeof(AseGeomObject) + sizeof(HostObject) + sizeof(HostBone) + sizeof(HostFaceGroup) + sizeof(HostTrack);
inline constexpr size_t kCountedLightBytes = sizeof(AseLight);
inline constexpr size_t kCountedCameraBytes = sizeof(AseCamera);

// Bytes of the source after its current position.
uint64_t RemainingBytes(const AseSource& source);

// True when `count` elements of `elementBytes` each may be allocated for a
// count line that `remaining` bytes of the file follow; charges them to the
// source's believedBytes. False for a negative count or one beyond the bound.
bool BelieveDeclaredCount(AseSource& source, uint64_t remaining, int64_t count, size_t elementBytes);

// --- Parsers ---------------------------------------------------------------------
// Each is entered after its opening line was read and pushed; `name` is that
// line's first word. 1 on success, 0 on failure (which fails the import).

int ParseScene(AseSource& source, std::string_view name);
int ParseMaterialList(AseSource& source, std::string_view name);
int ParseMaterial(AseSource& source, std::string_view name, int32_t index);
int ParseSubMaterial(AseSource& source, std::string_view name, AseMaterial& material, int32_t index);
int ParseMap(AseSource& source, std::string_view name, AseMaterial* material, AseSubMaterial* sub, int32_t index,
             int kind);
int FileNameOfPath(const char* path, char* dest, size_t destBytes);
int ParseGeomObject(AseSource& source, std::string_view name);
int ParseNodeTm(AseSource& source, std::string_view name, Mat4& target);
int ParseMesh(AseSource& source, std::string_view name, AseGeomObject& object);
int ParseMapChannel(AseSource& source, std::string_view name, AseMapChannel& channel, int32_t number);
int ParseTmAnimation(AseSource& source, std::string_view name, AseGeomObject& object);
int ParsePosTrack(AseSource& source, std::string_view name, AseGeomObject& object);
int ParseRotTrack(AseSource& source, std::string_view name, AseGeomObject& object);
int ParseScaleTrack(AseSource& source, std::string_view name, AseGeomObject& object);
int ParseLight(AseSource& source, std::string_view name);
int ParseCamera(AseSource& source, std::string_view name);
int ParseLightSettings(AseSource& source, std::string_view name, AseLight& light);
int ParseCameraSettings(AseSource& source, std::string_view name, AseCamera& camera);
Mat4 RebuildRigidTransform(const Mat4& m);

// First pass over the whole source (whatever its position): counts
// objects, lights and cameras and reads the material count; also records
// maxLineLength. Leaves the position at the end. 0 only without source data.
int CountObjects(AseSource& source);
int ParseTopLevel(AseSource& source);

// Remaps every face's material id to a host material index: with hostBase(r)
// the host materials made from the materials before r (one from a material
// without sub-materials, else one per sub-material), an id in 0..L-1 gives
// hostBase(r) + id and any other id hostBase(r); without a material array or
// when r names no material, -1. Linear time. 1, or 0 when memory fails.
int RemapMaterialIds(AseDocument& doc);

// Parses a source into the process-wide document: both passes, parent
// resolution, material ids and post-processing. 1, or 0 (the document then
// holds what was read until a reset).
int ParseAseDocument(AseSource& source, HostContext* context);

// Loads the file named by the context and imports it; resets the document
// whatever the result.
int ImportAseFile(AseSource& source, HostContext* context);
