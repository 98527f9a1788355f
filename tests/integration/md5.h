// MD5 (RFC 1321), to compare sample bytes with the hashes ffprobe prints.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace vxtest {

class Md5 {
public:
    Md5();
    void update(const void* data, std::size_t size);
    // Lower-case hex digest; the object is spent afterwards.
    std::string hex();

private:
    void block(const unsigned char* p);

    uint32_t state_[4];
    uint64_t length_ = 0;  // bytes so far
    unsigned char buffer_[64];
    std::size_t used_ = 0;
};

std::string md5_hex(const void* data, std::size_t size);

}  // namespace vxtest
