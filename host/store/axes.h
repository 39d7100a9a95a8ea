// What asehost does to a scene between an import and an export: the turn
// that keeps a file's orientation through a conversion, and the list of what
// an ASE file cannot carry.
#pragma once

#include <string>
#include <vector>

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

// One line for each kind of content of `scene` that an exported ASE file
// does not carry (the bone hierarchy, each animation with its track and
// frame counts); empty when the file carries everything.
std::vector<std::string> UnwrittenContent(const HostScene& scene);

}  // namespace asehost
