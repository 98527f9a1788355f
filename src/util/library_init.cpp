#include "platform/library_init.h"

#include "platform/video_codec.h"
#include "reader/block_cache.h"

namespace vx {

void library_load() { cache::process_attach(); }

void library_unload() {
    cache::process_detach();
    platform::codec_unload_modules();
}

}  // namespace vx
