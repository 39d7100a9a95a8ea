// What asehost does to a scene between an import and an export: the turn
// that keeps a file's orientation through a conversion.
#pragma once

#include "host/store/scene.h"

namespace asehost {

// The plug-in imports coordinates as the file holds them and exports a host
// vector (x, y, z) as (x, -z, y). Turning every position of the scene by
// (x, y, z) -> (x, z, -y) first makes the export write the imported numbers
// back: the two maps are inverse quarter turns about x, and negation is
// exact. Normals are not turned: the host computes face and vertex normals
// anew from the positions while the export is prepared. Bones and
// animation keys stay: the export writes neither.
void TurnForExport(HostScene& scene);

}  // namespace asehost
