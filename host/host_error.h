// The internal error signal: a host error code travelling as an exception from
// deep inside a command to EffectMain, which returns it to the host unchanged.
// Deliberately not a std::exception, so it can never be mistaken for a failure
// with a message.
#pragma once

#include "host/host_contract.h"

namespace lumatrail {

struct HostError {
    PF_Err code;
};

// Raises a nonzero host result as the internal error signal.
inline void throw_if_error(PF_Err err) {
    if (err != PF_Err_NONE) throw HostError{err};
}

}  // namespace lumatrail
