// Reference-host scenes of the export control tests.
#pragma once

namespace exporttest {

// Materials of every kind the writer knows, and four objects: 0 uses the
// two-sided "Wood" with maps on every channel, 1 uses two layered materials,
// 2 uses none, 3 has no faces.
inline const char* const kMaterialScene = R"({
  "materials": [
    {"name": "Wood", "flags": 2, "diffuse": [0.5, 0.25, 1], "ambient": [0.1, 0.2, 0.3],
     "specular": [1, 0.75, 0], "shininess": 64, "opacity": 0.25,
     "textures": [ {"channel": 0, "kind": 1, "flags": 1, "path": "D:\\maps\\wood.png"},
                   {"channel": 1, "kind": 1, "flags": 1, "path": "C:\\op.tga"},
                   {"channel": 2, "kind": 4, "layerFlags": 3, "layers": ["a.png", "b.png"]},
                   {"channel": 3, "kind": 1, "flags": 1, "path": "spec.bmp"} ]},
    {"name": "Layered", "diffuse": [1, 1, 1], "ambient": [0, 0, 0], "specular": [0, 0, 0],
     "shininess": 0, "opacity": 1,
     "textures": [ {"channel": 0, "kind": 4, "layerFlags": 2,
                    "layers": ["C:\\a\\one.png", "C:\\b\\two.png"]} ]},
    {"name": "NoLayers", "diffuse": [1, 0, 0], "ambient": [0, 0, 0], "specular": [0, 0, 0],
     "shininess": 128, "opacity": 0,
     "textures": [ {"channel": 0, "kind": 4, "layerFlags": 3, "layers": null} ]}
  ],
  "vertices": [ {"position": [0, 0, 0]}, {"position": [1, 0, 0]}, {"position": [0, 1, 0]},
                {"position": [1, 1, 0]} ],
  "objects": [ {"name": "wood"}, {"name": "layered"}, {"name": "bare"}, {"name": "empty"} ],
  "faceGroups": [ {"faces": [
    {"materialIndex": 0, "objectIndex": 0, "normal": [0, 0, 1], "vertexIndices": [0, 1, 2]},
    {"materialIndex": 1, "objectIndex": 1, "normal": [0, 0, 1], "vertexIndices": [1, 3, 2]},
    {"materialIndex": 2, "objectIndex": 1, "normal": [0, 0, 1], "vertexIndices": [0, 1, 3]},
    {"materialIndex": -1, "objectIndex": 2, "normal": [0, 0, 1], "vertexIndices": [0, 2, 3]}
  ]} ]
})";

}  // namespace exporttest
