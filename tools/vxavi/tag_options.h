// The options of vxavi tag.
#pragma once

#include <string>

#include "commands.h"

namespace vxavi {

enum class TagOption { kNotMine, kTaken, kBad };

// Takes `arg` with its `value` (null when none follows) into `edits`. On
// kBad, `*error` says what is wrong.
TagOption parse_tag_option(const std::string& arg, const char* value, TagEdits* edits,
                           std::string* error);

}  // namespace vxavi
