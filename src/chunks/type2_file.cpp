// The quick test for files whose first stream interleaves DV audio and video.
#include <VexaInfo.h>
#include <vxmedia/avichunks.h>

#include <cstring>

#include "util/byte_io.h"

namespace {

class RefFile {
public:
    explicit RefFile(const char* name) {
        open_ = name != nullptr && HOpen(0, 0, name, -1, &ref_) == 0;
    }
    ~RefFile() {
        if (open_) FSClose(ref_);
    }
    RefFile(const RefFile&) = delete;
    RefFile& operator=(const RefFile&) = delete;

    bool open() const { return open_; }
    bool read(void* out, int32_t count) {
        int32_t n = count;
        return FSRead(ref_, &n, out) == 0 && n == count;
    }
    bool read32(uint32_t* v) {
        unsigned char b[4];
        if (!read(b, 4)) return false;
        *v = vx::le32(b);
        return true;
    }
    bool expect(const char (&id)[5]) {
        uint32_t v = 0;
        return read32(&v) && v == vx::fourcc(id);
    }
    // Relative moves take a 32-bit offset: anything larger is not a real
    // header and fails.
    bool skip(uint64_t count) {
        return count <= INT32_MAX && SetFPos(ref_, 3, static_cast<int32_t>(count)) == 0;
    }

private:
    int16_t ref_ = 0;
    bool open_ = false;
};

}  // namespace

VXAPI int32_t VXCALL IsAVIType2File(const char* name, void* streamHeader) {
    RefFile f(name);
    if (!f.open()) return 0;
    uint32_t mainSize = 0;
    unsigned char header[64];
    const bool ok = f.expect("RIFF") && f.skip(4) && f.expect("AVI ") && f.skip(8) &&
                    f.expect("hdrl") && f.skip(4) && f.read32(&mainSize) &&
                    f.skip(static_cast<uint64_t>(mainSize) + (mainSize & 1u) + 8) &&
                    f.expect("strl") && f.expect("strh") && f.skip(4) && f.read(header, 64) &&
                    vx::le32(header) == vx::fourcc("iavs");
    if (!ok) return 0;
    if (streamHeader != nullptr) std::memcpy(streamHeader, header, sizeof header);
    return 1;
}
