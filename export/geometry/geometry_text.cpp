// Node header, closing lines and material ids of a *GEOMOBJECT block.
#include "export/geometry/geometry_text.h"

#include <algorithm>
#include <cstring>

int WriteNodeHeader(ExportStream stream, const HostObject& object) {
    // The host keeps the name terminated; a copy with its own terminator
    // keeps a name that fills the whole field from running on.
    char name[kDualStringUnits + 1];
    std::memcpy(name, object.name.narrow, kDualStringUnits);
    name[kDualStringUnits] = '\0';
    return WritePiece(stream,
                      "*GEOMOBJECT {\n"
                      "\t*NODE_NAME \"%s\"\n"
                      "\t*NODE_TM {\n"
                      "\t\t*NODE_NAME \"%s\"\n"
                      "\t\t*INHERIT_POS 0 0 0\n"
                      "\t\t*INHERIT_ROT 0 0 0\n"
                      "\t\t*INHERIT_SCL 0 0 0\n"
                      "\t\t*TM_ROW0 1.00000000\t0.00000000\t0.00000000\n"
                      "\t\t*TM_ROW1 0.00000000\t1.00000000\t0.00000000\n"
                      "\t\t*TM_ROW2 0.00000000\t0.00000000\t1.00000000\n"
                      "\t\t*TM_ROW3 0.00000000\t0.00000000\t0.00000000\n"
                      "\t\t*TM_POS 0.00000000\t0.00000000\t0.00000000\n"
                      "\t\t*TM_ROTAXIS 0.00000000\t0.00000000\t0.00000000\n"
                      "\t\t*TM_ROTANGLE 0.00000000\n"
                      "\t\t*TM_SCALE 1.00000000\t1.00000000\t1.00000000\n"
                      "\t\t*TM_SCALEAXIS 0.00000000\t0.00000000\t0.00000000\n"
                      "\t\t*TM_SCALEAXISANG 0.00000000\n"
                      "\t}\n",
                      name, name);
}

int WriteObjectTail(ExportStream stream, const ExportOptions& options, int materialOrdinal) {
    if (!WritePiece(stream, "\t*PROP_MOTIONBLUR 0\n\t*PROP_CASTSHADOW 1\n\t*PROP_RECVSHADOW 1\n")) return 0;
    if (options.exportMaterials == 1 && !WritePiece(stream, "\t*MATERIAL_REF %d\n", materialOrdinal))
        return 0;
    return WritePiece(stream, "}\n");
}

MaterialIdMap::MaterialIdMap(JobAllocator& allocator, const HostObject& object, bool exportMaterials)
    : sorted_(JobStdAllocator<Entry>(allocator)) {
    if (!exportMaterials || object.materialRefs == nullptr || object.materialRefCount <= 0) return;
    sorted_.reserve(static_cast<size_t>(object.materialRefCount));
    for (int j = 0; j < object.materialRefCount; ++j) sorted_.emplace_back(object.materialRefs[j].materialIndex, j);
    // Sorting by (index, position) puts the first position of each material
    // index first among its equals, which is the entry a face refers to.
    std::sort(sorted_.begin(), sorted_.end());
}

int MaterialIdMap::Lookup(int materialIndex) const {
    const auto it = std::lower_bound(sorted_.begin(), sorted_.end(), std::make_pair(materialIndex, 0),
                                     [](const std::pair<int, int>& a, const std::pair<int, int>& b) {
                                         return a.first < b.first;
                                     });
    return (it != sorted_.end() && it->first == materialIndex) ? it->second : 0;
}
