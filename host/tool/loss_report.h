// What a trip through the host loses, named for the user: the content of an
// ASE file that the host's records cannot take (the import side), and the
// host content that an exported ASE file does not carry (the export side).
// asehost prints each list after import, convert and export, one line per
// kind with its counts and, where one exists, the option that carries it;
// nothing where nothing is lost.
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "host/store/scene.h"
#include "host/tool/plugin_loader.h"

namespace asehost {

// One line for each kind of content of the ASE file at `path` that an
// import cannot hand to the host: lights, cameras, corner colours averaged
// per vertex, the UV offset, tiling and angle of maps, the folders of
// texture paths, maps of kinds beyond the four the host takes, material
// values without a host field, names outside the code page and mapping
// channels beyond the second. Learnt from the plug-in's own reader in a
// scan that parses no numbers (ScanAse); values are judged by their text.
// Empty when nothing is lost, and when the file cannot be read (the import
// itself says why). The file is read once more: call only when the list is
// shown.
std::vector<std::string> UncarriedContent(const std::u16string& path);

// One line for each kind of content of `scene` that an ASE file written
// with `choices` (on a freshly loaded plug-in: an unset check box is the
// dialog's default) does not carry: the second UV channel when the choices
// leave it out, the bone hierarchy where a bone has a parent or a pose
// other than the identity, each animation with its track and frame counts,
// and the objects without faces. Empty when the file carries everything.
std::vector<std::string> UnwrittenContent(const HostScene& scene, const DialogChoices& choices);

// Writes "asehost: <kind>: <line>" for each line.
void PrintLosses(std::ostream& out, const char* kind, const std::vector<std::string>& lines);

}  // namespace asehost
