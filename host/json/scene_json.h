// The scene store's JSON form, shared by its reader
// (scene_json_read.cpp) and its writer (scene_json_write.cpp); the keys
// below, each kind of object's in the writer's order, come from the one
// list in scene_keys.h.
//
// docs/scene.schema.json describes it as a JSON Schema. One object; the
// writer puts the keys in this order, the reader takes them in any order
// (every key may be missing when its list is empty; unknown and repeated
// keys are rejected so that a misspelt key is not silently ignored):
//
//   "format": "asehost-scene/1"   (written always; any other value refused)
//   "materials": [ {
//       "name": text, "flags": unsigned,
//       "diffuse": [r, g, b], "ambient": [r, g, b], "specular": [r, g, b],
//       "shininess": number, "opacity": number,
//       "textures": [ { "channel": 0..3, "kind": 1 | 4, "flags": unsigned,
//                       "path": text,                         (kind 1)
//                       "layerFlags": 0..255,                 (kind 4)
//                       "layers": null | [text, text] } ] } ] (kind 4)
//   "vertices": [ { "position": [x, y, z], "normal": [x, y, z],
//                   "color": [r, g, b, a],
//                   "weights": [ [boneIndex, weight], ... ] } ]
//   "uvStore": [ [ [u, v], ... ], [ [u, v], ... ] ]   (channel 0, channel 1)
//   "objects": [ { "name": text, "faceCount": int,
//                  "materialRefs": [ [materialIndex, faceCount], ... ] } ]
//   "faceGroups": [ { "faces": [ {
//       "materialIndex": int (-1 = none), "objectIndex": int (-1 = none),
//       "smoothingGroup": int, "normal": [x, y, z],
//       "vertexIndices": [int, ...]               (any number of corners)
//       "uvChannels": [ { "uvIndices": [int, ...], "cornerUvs": [[u, v], ...] },
//                       { ... channel 1 ... } ] } ] } ]
//   "bones": [ { "name": text, "parentIndex": int (-1 = root),
//                "translation": [x, y, z], "scale": [x, y, z],
//                "rotation": [x, y, z, w] } ]
//   "animations": [ { "name": text, "flags": int, "frameCount": number,
//                     "frameRate": number,
//                     "tracks": [ { "positionKeys": [ [t, x, y, z], ... ],
//                                   "rotationKeys": [ [t, x, y, z, w], ... ],
//                                   "scaleKeys": [ [t, x, y, z], ... ] } ] } ]
//
// Texts are UTF-8 and become the wide part of a DualString (at most 259
// UTF-16 units); the narrow part is made from it. Numbers are written in the
// shortest form that reads back to the same 32-bit float, -0 as -0.0 (the
// integer -0 reads as 0); the non-finite values are written as the strings
// "nan", "inf" and "-inf" and read back from them. Integers must be written
// without fraction or exponent.
//
// Both UV views: without "uvStore" the store and every face's uvIndices are
// built from the cornerUvs (equal values share an entry) and uvIndices must be
// absent. With "uvStore" every face names, per channel, one uvIndex per corner
// inside the store; cornerUvs may then be left out and are filled from the
// store.
//
// Optional keys of a face take the defaults of AllocateFaces; of a vertex
// those of AllocateVertices. An object's "faceCount" and "materialRefs" are
// derived from the faces; when given they must agree with what is derived.
// Saving writes every key.
#pragma once

#include <cstdint>

namespace asehost {

// The name and version of the layout above.
inline constexpr const char* kSceneJsonFormat = "asehost-scene/1";

// The memory bound of a load: what the reader holds, and what the scene
// store makes of the text, also when an export triangulates its faces, stays
// below kJsonBytesPerTextByte bytes per byte of text plus
// kJsonMemoryAllowance. A text that would need more fails at the value that
// crosses the line, before that value is stored, with the value's key path
// and byte offset.
inline constexpr uint64_t kJsonBytesPerTextByte = 32;
inline constexpr uint64_t kJsonMemoryAllowance = uint64_t{64} << 20;

}  // namespace asehost
