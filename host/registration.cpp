// Registration: the host calls this once when it scans for plug-ins, and learns
// the names and the entry point from the callback it passes in.
#include "host/effect_identity.h"
#include "host/host_contract.h"

extern "C" LUMATRAIL_EXPORT PF_Err PluginDataEntryFunction2(PF_PluginDataPtr context,
                                                            PF_PluginDataCB2 callback,
                                                            SPBasicSuite* /*basic_suite*/,
                                                            const char* /*host_name*/,
                                                            const char* /*host_version*/) {
    const auto& id = lumatrail::EFFECT_IDENTITY;
    return callback(context, id.display_name, id.match_name, id.category, id.entry_point,
                    static_cast<std::int32_t>(id.kind), id.api_major, id.api_minor, id.reserved_info,
                    id.support_url);
}
