#include "lavf_peer.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/log.h>
}

namespace vxbench {

bool LavfFile::open(const std::string& path) {
    close();
    const AVInputFormat* avi = av_find_input_format("avi");
    if (avi == nullptr || avformat_open_input(&ctx_, path.c_str(), avi, nullptr) < 0) {
        ctx_ = nullptr;
        return false;
    }
    pkt_ = av_packet_alloc();
    failed_ = false;
    return pkt_ != nullptr && ctx_->nb_streams > 0;
}

void LavfFile::close() {
    if (pkt_ != nullptr) av_packet_free(&pkt_);
    if (ctx_ != nullptr) avformat_close_input(&ctx_);
}

uint64_t LavfFile::index_entries() const {
    if (ctx_ == nullptr || ctx_->nb_streams == 0) return 0;
    return static_cast<uint64_t>(avformat_index_get_entries_count(ctx_->streams[0]));
}

// The previous packet is released before the next is read, as a player that
// is done with a frame would.
bool LavfFile::next(const unsigned char** data, uint32_t* size) {
    av_packet_unref(pkt_);
    const int err = av_read_frame(ctx_, pkt_);
    if (err < 0) {
        failed_ = err != AVERROR_EOF;
        return false;
    }
    *data = pkt_->data;
    *size = static_cast<uint32_t>(pkt_->size);
    return true;
}

void lavf_quiet() { av_log_set_level(AV_LOG_ERROR); }

}  // namespace vxbench
