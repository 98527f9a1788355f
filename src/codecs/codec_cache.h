// The process-wide list of decompressors that hold an open codec, most
// recently used first. It bounds the open codec instances: adding one when
// the list is full closes the least recently used one's codec. It does not
// own the decompressors.
#pragma once

#include <cstddef>

namespace vx::codecs {

class VfwDecompressor;

class CodecCache {
public:
    // Once an insertion has finished at most this many codecs stay open.
    static constexpr std::size_t kLimit = 69;

    // False when the list cannot grow; the caller then closes the codec.
    static bool add_to_front(VfwDecompressor* d);
    static void remove(VfwDecompressor* d);
    static void move_to_front(VfwDecompressor* d);
    // Closes the least recently used codec that is not busy decoding on
    // another thread; false when none was closed.
    static bool evict_one();
    static std::size_t size();

    // Library load and unload.
    static void process_attach();
    static void process_detach();
};

}  // namespace vx::codecs
