#include "video_decoder.h"

#include <vxmedia/vxutil.h>

#include <utility>

#include "commands.h"
#include "printing.h"
#include "reader_errors.h"
#include "util/byte_io.h"

namespace vxavi {

std::unique_ptr<VideoDecoder> VideoDecoder::open(const AviFile& avi, const std::string& path) {
    AviReader* r = avi.reader();
    const AviStreamRecord* video =
        r->videoStream >= 0 ? aviGetAVIStream(r, static_cast<uint32_t>(r->videoStream)) : nullptr;
    AviFrameDecoder* decoder = nullptr;
    begin_reader_call();
    const VXRESULT init = aviGetFrameInit(r, &decoder);
    if (init == AVIERR_COMPRESSOR && video != nullptr && video->format != nullptr &&
        video->formatSize >= sizeof(BITMAPINFOHEADER)) {
        const uint32_t c = vx::ByteReader(video->format, video->formatSize).u32(16);
        std::string code;
        for (int i = 0; i < 4; ++i) {
            const char ch = static_cast<char>(c >> (8 * i));
            code += ch >= 0x20 && ch < 0x7F ? ch : '?';
        }
        print_error("cannot decode the video of " + path + ": no installed codec takes '" + code +
                    "'");
        return nullptr;
    }
    if (init != 0 || video == nullptr) {
        print_error(describe_failure(init != 0 ? init : AVIERR_BADPARAM, path,
                                     "cannot decode the video of"));
        aviGetFrameTerm(decoder);
        return nullptr;
    }
    return std::unique_ptr<VideoDecoder>(new VideoDecoder(decoder, path, video->header.dwLength));
}

VideoDecoder::~VideoDecoder() {
    release_pixels();
    aviGetFrameTerm(decoder_);
}

void VideoDecoder::release_pixels() {
    picture_.reset();
    if (owned_ != nullptr) VxDisposeData(owned_);
    owned_ = nullptr;
}

const Picture* VideoDecoder::decode(uint32_t n) {
    release_pixels();
    const std::string what = "cannot decode frame " + std::to_string(n) + " of";
    if (n > INT32_MAX) {
        print_error(what + " " + path_ + " (past the frames the decoder counts)");
        return nullptr;
    }
    void* pixels = nullptr;
    int16_t owned = 0;
    begin_reader_call();
    const VXRESULT rc =
        aviGetFrame(decoder_, static_cast<int32_t>(n), &format_.header, &pixels, &owned);
    if (rc != 0) {
        print_error(describe_failure(rc, path_, what));
        return nullptr;
    }
    if (owned == 1) owned_ = pixels;
    std::string why;
    picture_ = Picture::of(format_, pixels, &why);
    if (!picture_) {
        print_error(what + " " + path_ + " (" + why + ")");
        return nullptr;
    }
    return &*picture_;
}

}  // namespace vxavi
