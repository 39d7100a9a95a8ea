// The plug-in boundary: registration, filter dispatch and the context of the
// call in progress. Only the dispatch reads the context; every layer below
// is handed what it needs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/host_api.h"
#include "base/strings.h"

// The context of the filter call in progress: null until the first accepted
// filter call, overwritten by every accepted call, never cleared.
extern HostContext* currentContext;

// The texts of a call that the barrier of FilterProc ended: memory ran out
// (std::bad_alloc), or anything else was thrown.
inline constexpr char16_t kOutOfMemoryText[] = u"Out of memory.";
inline constexpr char16_t kInternalErrorText[] = u"Internal error in the ASE filter.";

// The filter callback handed to the host at registration. Never lets an
// exception out: whatever is caught becomes result 0 with a message.
int FilterProc(uint32_t message, HostContext* context, void* arg, void* reserved);

// Handler of PLUGIN_MSG_REGISTER: fills `info` and registers the filter.
// Returns 1 when the host accepted, 0 when it refused or `info` is null.
uint32_t RegisterFilter(PluginInfo* info);

// The filter's fixed identity.
extern const uint32_t kFilterId[4];
