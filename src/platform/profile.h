// Private-profile (INI) reads with the empty profile name: the installation's
// own configuration. A missing file, section or key gives the default.
//
// On Linux the profile is the INI file named by VXMEDIA_PROFILE, else
// $HOME/.config/vxmedia/profile.ini, and after it the one installed with the
// library (<prefix>/etc/vxmedia/profile.ini): a key the user's file has wins.
// Section and key names match without regard to case, as on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vx::platform {

// The key's value read as a decimal integer (leading digits only; a value
// that does not start with a digit gives 0), or `fallback` when missing.
uint32_t profile_int(const char* section, const char* key, int32_t fallback);

// Copies the key's value (or `fallback`) into `out`, cut to `size` - 1
// characters and terminated. Returns the characters copied.
std::size_t profile_string(const char* section, const char* key, const char* fallback, char* out,
                           std::size_t size);

// The names of the keys of `section`, in file order, each once (the first
// spelling when a name repeats without regard to case). Empty when the file or
// section is missing. Throws std::bad_alloc when memory runs out.
std::vector<std::string> profile_keys(const char* section);

}  // namespace vx::platform
