// The module's two exports and the registration of the filter.
#include "plugin/plugin.h"

#include "asefilter/version.h"

// {5A3E0C41-9B27-4D6A-8F13-2C7B61E4A0D9}, the same in every build.
const uint32_t kFilterId[4] = {0x5A3E0C41u, 0x4D6A9B27u, 0x7B2C138Fu, 0xD9A0E461u};

uint32_t RegisterFilter(PluginInfo* info) {
    if (info == nullptr) return 0;
    info->registrationCodeA = 3;
    info->registrationCodeB = 6;
    info->filterCallback = &FilterProc;
    for (int i = 0; i < 4; ++i) info->filterId[i] = kFilterId[i];
    AssignDualString(&info->description, u"ASCII 3D Studio Max Importer/Exporter\r\n");
    AssignDualString(&info->versionText, ASEFILTER_VERSION_TEXT16);
    AssignDualString(&info->filePattern, u"ASCII Max files (*.ase)");
    DualString extension;
    AssignDualString(&extension, u"ase");
    if (info->ops == nullptr || info->ops->RegisterPlugin == nullptr) return 0;
    return info->ops->RegisterPlugin(info, &extension) != 0 ? 1u : 0u;
}

extern "C" uint32_t PluginVersion(void) { return kPluginInterfaceVersion; }

// The host is C: nothing thrown may cross this call. The registration
// record has no error text, so a caught exception only answers 0.
extern "C" uint32_t PluginProc(uint32_t message, PluginInfo* info) {
    try {
        switch (message) {
            case PLUGIN_MSG_REGISTER:
                return RegisterFilter(info);
            case PLUGIN_MSG_VERSION:
                return kPluginInterfaceVersion;
            default:
                return 1;
        }
    } catch (...) {
        return 0;
    }
}
