// Loads the installed module through the installed contract header and
// registers it: the header and the module must agree on the interface
// version, and the registration must report the package's version.
#include <asefilter/host_api.h>
#include <dlfcn.h>

#include <cstdio>

namespace {

int Accept(PluginInfo*, const DualString*) { return 1; }

int Fail(const char* what) {
    std::fprintf(stderr, "%s (%s, package %s)\n", what, ASEFILTER_MODULE, EXPECTED_VERSION);
    return 1;
}

}  // namespace

int main() {
    void* module = dlopen(ASEFILTER_MODULE, RTLD_NOW | RTLD_LOCAL);
    if (!module) return Fail(dlerror());
    auto version = reinterpret_cast<PluginVersionFn>(dlsym(module, "PluginVersion"));
    auto proc = reinterpret_cast<PluginProcFn>(dlsym(module, "PluginProc"));
    if (!version || !proc) return Fail("the module lacks PluginVersion or PluginProc");
    if (version() != kPluginInterfaceVersion || proc(PLUGIN_MSG_VERSION, nullptr) != kPluginInterfaceVersion) {
        return Fail("the module's interface version is not the header's");
    }
    PluginInfoOps ops{};
    ops.RegisterPlugin = Accept;
    static PluginInfo info{};
    info.ops = &ops;
    if (proc(PLUGIN_MSG_REGISTER, &info) != 1 || !info.filterCallback) return Fail("registration failed");
    const char* expected = EXPECTED_VERSION;
    for (const char16_t* wide = info.versionText.wide; *wide != 0 || *expected != 0; ++wide, ++expected) {
        if (*wide != static_cast<unsigned char>(*expected)) return Fail("registration reports another version");
    }
    std::printf("registered %s, interface %u\n", EXPECTED_VERSION, kPluginInterfaceVersion);
    dlclose(module);
    return 0;
}
