// The library's process-wide state, set up at load and torn down at unload:
// the one place that knows every module that keeps such state.
#include "platform/library_init.h"

#include "codecs/codec_cache.h"
#include "platform/video_codec.h"
#include "reader/block_cache.h"

namespace vx {

void library_load() {
    cache::process_attach();
    codecs::CodecCache::process_attach();
}

void library_unload() {
    codecs::CodecCache::process_detach();
    cache::process_detach();
    platform::codec_unload_modules();
}

}  // namespace vx
