// The command entry: EffectMain dispatches host commands to their handlers and
// is the one place where failures become host error codes.
//
// Inside a command, failures travel as exceptions:
//   HostError{code}      -> code, nothing written
//   std::bad_alloc       -> PF_Err_OUT_OF_MEMORY, no message
//   other std::exception -> "Lumatrail: <what>" shown, PF_Err_BAD_CALLBACK_PARAM
//   anything else        -> PF_Err_INTERNAL_STRUCT_DAMAGED
#pragma once

#include <cstdio>
#include <exception>
#include <new>

#include "host/host_contract.h"
#include "host/host_error.h"

namespace lumatrail {

// Runs one command and converts whatever it throws, in the order above.
template <class Command>
PF_Err run_guarded(PF_OutData* out_data, Command&& command) noexcept {
    try {
        return command();
    } catch (const HostError& e) {
        return e.code;
    } catch (const std::bad_alloc&) {
        return PF_Err_OUT_OF_MEMORY;
    } catch (const std::exception& e) {
        if (out_data) {
            std::snprintf(out_data->return_msg, sizeof out_data->return_msg, "Lumatrail: %s", e.what());
            out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
        }
        return PF_Err_BAD_CALLBACK_PARAM;
    } catch (...) {
        return PF_Err_INTERNAL_STRUCT_DAMAGED;
    }
}

// Command 0: the About text into return_msg.
PF_Err about(PF_OutData& out_data);

// Command 1: the version and the two capability words; nothing else.
PF_Err global_setup(PF_OutData& out_data);

}  // namespace lumatrail
