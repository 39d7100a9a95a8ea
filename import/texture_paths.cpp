// Texture path resolution: every texture of an import is placed in the
// folder of the imported file.
#include "import/import_detail.h"
#include "platform/platform.h"

int GetPathDirectory(const char16_t* path, char16_t* out) {
    if (path == nullptr || out == nullptr) return 0;
    char16_t drive[platform::kMaxDrive] = {};
    char16_t directory[platform::kMaxDir] = {};
    platform::SplitPath(path, drive, directory, nullptr, nullptr);

    // Drive (at most 2 units) and directory (at most 255) leave room for the
    // separator and the terminator within kImportPathUnits.
    size_t length = 0;
    for (size_t i = 0; drive[i] != 0 && i + 1 < platform::kMaxDrive; ++i) out[length++] = drive[i];
    for (size_t i = 0; directory[i] != 0 && i + 1 < platform::kMaxDir; ++i) out[length++] = directory[i];
    if (length > 0 && out[length - 1] != u'\\' && out[length - 1] != u'/') out[length++] = u'\\';
    out[length] = 0;
    return 1;
}

int ResolveTexturePath(const char16_t* directory, const char16_t* fileName, char16_t* full) {
    if (full == nullptr) return 0;
    full[0] = 0;
    if (directory == nullptr || fileName == nullptr) return 0;

    size_t length = 0;
    for (size_t i = 0; directory[i] != 0; ++i) {
        if (length + 1 >= kImportPathUnits) {
            full[0] = 0;
            return 0;
        }
        full[length++] = directory[i];
    }
    for (size_t i = 0; i < kAsePathUnits && fileName[i] != 0; ++i) {
        if (length + 1 >= kImportPathUnits) {
            full[0] = 0;
            return 0;
        }
        full[length++] = fileName[i];
    }
    full[length] = 0;
    return 1;
}
