// Shared helpers of the end-to-end tests: the built module loaded once, files
// and temporary folders, and a comparison of a host scene against the parts
// of its JSON form that a test states.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <filesystem>
#include <string>

#include "host/plugin_loader.h"
#include "host/scene.h"

namespace e2e {

// The module at ASE_MODULE_PATH, loaded and registered on first use.
const asehost::PluginLoader& Plugin();

// A fixture of tests/data/e2e.
std::string DataPath(const std::string& name);
// One of the shared sample files, or empty when the samples are absent.
std::string SamplePath(const std::string& name);

std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
// A folder under the system's temporary folder, emptied as far as it can be.
std::filesystem::path FreshTempDir(const std::filesystem::path& name);

// FILTER_MSG_IMPORT of `path` into `scene` through the module.
int Import(asehost::HostScene& scene, const std::filesystem::path& path);
// The host's file name up to and including its last separator.
std::string FolderOfFileName(const asehost::HostScene& scene);

// Checks `actual` against `expected`: every member that `expected` has must
// match, arrays element by element with equal lengths, numbers within
// `tolerance`; a null in `expected` matches anything. "${DIR}" in expected
// texts stands for `folder`.
void ExpectSubset(const nlohmann::json& expected, const nlohmann::json& actual, const std::string& folder, double tolerance,
                  const std::string& where = "$");

}  // namespace e2e
