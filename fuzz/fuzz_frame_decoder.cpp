// libFuzzer target for the frame decoder: each input is an AVI file, opened
// by the reader and decoded with aviGetFrameInit / aviGetFrame through the
// codec manager and the libavcodec driver module, installed at start-up by a
// profile of the target's own, as a host installs it.
//
// Frames are asked for in several orders (first, last, middle, then
// backwards), each of them decoded from its key frame on. Besides the
// sanitizers (the driver module is built with them too), every picture
// handed out must hold the image its format describes, and a decoder that
// fails to set up must leave no handle behind.
#include <VexaInfo.h>
#include <unistd.h>
#include <vxmedia/aviframes.h>
#include <vxmedia/avireader.h>
#include <vxmedia/vxutil.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver_profile.h"
#include "input_file.h"

namespace {

// Each call decodes from the key frame on: long streams, and large pictures,
// make inputs slow without reaching other code.
constexpr int64_t kMaxIndex = 256;
constexpr int64_t kMaxPixels = 256 * 256;
constexpr int32_t kMaxSide = 4096;
constexpr int kBackwards = 4;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_frame_decoder: %s\n", what);
    std::abort();
}

void check(bool ok, const char* what) {
    if (!ok) fail(what);
}

const vxfuzz::InputFile& input_file() {
    static const vxfuzz::InputFile file("fuzz_frame_decoder");
    return file;
}

// Reads every byte so that ASan checks the whole range handed out.
void touch(const void* p, size_t n) {
    const auto* b = static_cast<const unsigned char*>(p);
    unsigned sum = 0;
    for (size_t i = 0; i < n; ++i) sum += b[i];
    volatile unsigned sink = sum;
    (void)sink;
}

// Bytes of the image a format describes, rows padded to 4 bytes; 0 when it
// describes none.
uint64_t image_bytes(const BITMAPINFOHEADER& f) {
    if (f.biWidth <= 0 || f.biBitCount == 0 || f.biBitCount > 64) return 0;
    const uint64_t row = (uint64_t{static_cast<uint32_t>(f.biWidth)} * f.biBitCount + 31) / 32 * 4;
    const int64_t h = f.biHeight;
    return row * static_cast<uint64_t>(h < 0 ? -h : h);
}

// Pictures the driver would make from the stored format stay small; other
// inputs are left to the reader's target.
bool worth_decoding(AviReader* r) {
    if (r->videoStream < 0 || r->videoIndex.count == 0 || r->videoIndex.count > kMaxIndex)
        return false;
    const AviStreamRecord* s = aviGetAVIStream(r, static_cast<uint32_t>(r->videoStream));
    if (s == nullptr || s->format == nullptr || s->formatSize < sizeof(BITMAPINFOHEADER))
        return false;
    BITMAPINFOHEADER f;
    std::copy_n(static_cast<const uint8_t*>(s->format), sizeof f, reinterpret_cast<uint8_t*>(&f));
    const int64_t w = f.biWidth, h = f.biHeight < 0 ? -int64_t{f.biHeight} : f.biHeight;
    return w > 0 && w <= kMaxSide && h > 0 && h <= kMaxSide && w * h <= kMaxPixels;
}

void get_frame(AviFrameDecoder* d, int64_t frame) {
    union {
        BITMAPINFOHEADER header;
        unsigned char room[40 + 1024];
    } format{};
    void* pixels = nullptr;
    int16_t owned = -1;
    const int32_t f = static_cast<int32_t>(std::clamp<int64_t>(frame, INT32_MIN, INT32_MAX));
    if (aviGetFrame(d, f, &format.header, &pixels, &owned) != 0) return;
    check(owned == 0 || owned == 1, "aviGetFrame gave no owned flag");
    check(pixels != nullptr, "aviGetFrame succeeded without a picture");
    const uint64_t image = image_bytes(format.header);
    check(image != 0, "aviGetFrame handed out a format that describes no image");
    check(format.header.biSizeImage >= image, "the picture is smaller than its format's image");
    touch(pixels, image);
    if (owned == 1) VxDisposeData(pixels);
}

void decode(AviReader* r) {
    AviFrameDecoder* d = nullptr;
    if (aviGetFrameInit(r, &d) != 0) {
        check(d == nullptr, "a failed aviGetFrameInit left a handle");
        return;
    }
    const AviStreamRecord* s = aviGetAVIStream(r, static_cast<uint32_t>(r->videoStream));
    // Frames count from the stream's start; the index may hold more or fewer
    // than its header says.
    const int64_t start = s->header.dwStart;
    const int64_t last = r->videoIndex.count - 1 - start;
    for (const int64_t f : {int64_t{0}, last, last / 2}) get_frame(d, f);
    for (int i = 0; i < kBackwards; ++i) get_frame(d, last - i);
    get_frame(d, last + 1);  // past the end: the last frame again
    aviGetFrameTerm(d);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static const vxfuzz::DriverProfile profile("fuzz_frame_decoder", "vidc.lavc",
                                               VX_LAVC_DRIVER_PATH);
    (void)input_file();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    VxHostErrorClear();
    input_file().write(data, size);
    AviReader* r = nullptr;
    if (aviOpen(&r, input_file().handle(), nullptr) != 0) {
        check(r == nullptr, "a failed open returned a reader");
        return 0;
    }
    if (worth_decoding(r)) decode(r);
    check(aviClose(r) == 0, "close failed");
    VxHostErrorClear();
    return 0;
}
