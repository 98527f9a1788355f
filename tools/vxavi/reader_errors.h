// Turns a failed reader call into a one-line message, from its result code
// and the first failure the host's error log recorded during the call.
#pragma once

#include <cstdint>
#include <string>

namespace vxavi {

// Empties the host's error log; call right before the reader call whose
// failure is to be described.
void begin_reader_call();

// "<kind>: <path> (<meaning>[: <detail>]; <source>:<line> <code name>)", where
// meaning is the library's description of the logged site, detail the reason
// it kept for a site that stands for several faults, and kind is
// "not an AVI file", "damaged AVI file" or similar. `action` names what
// failed for messages that are not about the file's structure, e.g.
// "cannot read frame 12 of".
std::string describe_failure(int32_t result, const std::string& path,
                             const std::string& action = {});

const char* code_name(int32_t code);

}  // namespace vxavi
