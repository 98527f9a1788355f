// Lists in the installation's profile: elements separated by commas, any
// run of commas and the spaces after them skipped. Values are read into a
// zero-filled buffer a little larger than the 100 characters a value may
// have, so that the four bytes at an element near the end stay inside it.
#pragma once

#include <array>
#include <cstddef>

#include "platform/profile.h"

namespace vx {

class ProfileList {
public:
    static constexpr std::size_t kValueChars = 100;

    ProfileList(const char* section, const char* key) {
        platform::profile_string(section, key, "", text_.data(), kValueChars);
    }

    // Calls f(element) with a pointer to each element's first character; at
    // least 4 bytes are readable there (padding reads as NULs).
    template <typename F>
    void for_each(F&& f) const {
        const char* p = text_.data();
        while (*p != '\0') {
            f(p);
            while (*p != '\0' && *p != ',') ++p;
            while (*p == ',') ++p;
            while (*p == ' ') ++p;
        }
    }

private:
    std::array<char, kValueChars + 8> text_{};
};

}  // namespace vx
