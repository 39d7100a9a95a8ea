// Import settings for tests that reach the import through the filter
// callback: the jobs made while a scope lives read with its settings.
#pragma once

#include "import/import_job.h"

class ImportSettingsScope {
public:
    explicit ImportSettingsScope(AseReadSettings settings) : settings_(settings) { SetImportSettingsOverride(&settings_); }
    ~ImportSettingsScope() { SetImportSettingsOverride(nullptr); }
    ImportSettingsScope(const ImportSettingsScope&) = delete;
    ImportSettingsScope& operator=(const ImportSettingsScope&) = delete;

private:
    AseReadSettings settings_;
};
