// Loads the installed module through the installed contract header and
// registers it: the header and the module must agree on the interface
// version, and the registration must report the package's version.
#include <asefilter/host_api.h>
#include <dlfcn.h>

#include <cstdio>

namespace {

int Accept(PluginInfo*, const DualString*) { return 1; }

bool SameText(const char16_t* wide, const char* ascii) {
    for (; *ascii; ++wide, ++ascii) {
        if (*wide != static_cast<unsigned char>(*ascii)) return false;
    }
    return *wide == 0;
}

}  // namespace

int main() {
    void* module = dlopen(ASEFILTER_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        std::fprintf(stderr, "cannot load %s: %s\n", ASEFILTER_MODULE, dlerror());
        return 1;
    }
    auto version = reinterpret_cast<PluginVersionFn>(dlsym(module, "PluginVersion"));
    auto proc = reinterpret_cast<PluginProcFn>(dlsym(module, "PluginProc"));
    if (!version || !proc) {
        std::fprintf(stderr, "the module lacks PluginVersion or PluginProc\n");
        return 1;
    }
    if (version() != kPluginInterfaceVersion || proc(PLUGIN_MSG_VERSION, nullptr) != kPluginInterfaceVersion) {
        std::fprintf(stderr, "interface version %u, the header says %u\n", version(), kPluginInterfaceVersion);
        return 1;
    }
    PluginInfoOps ops{};
    ops.RegisterPlugin = Accept;
    static PluginInfo info{};
    info.ops = &ops;
    if (proc(PLUGIN_MSG_REGISTER, &info) != 1 || !info.filterCallback) {
        std::fprintf(stderr, "registration failed\n");
        return 1;
    }
    if (!SameText(info.versionText.wide, EXPECTED_VERSION)) {
        std::fprintf(stderr, "registration reports another version than the package (%s)\n", EXPECTED_VERSION);
        return 1;
    }
    std::printf("registered %s, interface %u\n", EXPECTED_VERSION, kPluginInterfaceVersion);
    dlclose(module);
    return 0;
}
