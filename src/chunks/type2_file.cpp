// The quick test for files whose first stream interleaves DV audio and video.
#include <VexaInfo.h>
#include <vxmedia/avichunks.h>

#include <cstring>

#include "util/riff_walker.h"

namespace {

// The file through the host's reference-number calls, which address it with
// 32-bit offsets: nothing past INT32_MAX is a header of a real file.
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
    uint64_t size() const { return INT32_MAX; }
    bool read(uint64_t position, void* out, uint32_t count) const {
        int32_t n = static_cast<int32_t>(count);
        return position <= INT32_MAX && count <= INT32_MAX &&
               SetFPos(ref_, 1, static_cast<int32_t>(position)) == 0 &&
               FSRead(ref_, &n, out) == 0 && n == static_cast<int32_t>(count);
    }

private:
    int16_t ref_ = 0;
    bool open_ = false;
};

}  // namespace

// The first stream's header must follow the main header directly, as DV
// writers lay it out: the header list, the main header, the first stream
// list and its "strh", whose first 64 bytes are returned.
VXAPI int32_t VXCALL IsAVIType2File(const char* name, void* streamHeader) {
    RefFile f(name);
    if (!f.open()) return 0;
    const vx::BasicRiffWalker<RefFile> walker(f);
    using vx::fourcc;
    vx::RiffChunk form, hdrl, avih, strl, strh;
    unsigned char header[64];
    const bool ok =
        walker.at(0, f.size(), &form) && form.id == fourcc("RIFF") &&
        form.listType == fourcc("AVI ") && walker.at(form.membersPos(), f.size(), &hdrl) &&
        hdrl.listType == fourcc("hdrl") && walker.at(hdrl.membersPos(), f.size(), &avih) &&
        walker.at(avih.next(), f.size(), &strl) && strl.listType == fourcc("strl") &&
        walker.at(strl.membersPos(), f.size(), &strh) && strh.id == fourcc("strh") &&
        f.read(strh.dataPos(), header, sizeof header) && vx::le32(header) == fourcc("iavs");
    if (!ok) return 0;
    if (streamHeader != nullptr) std::memcpy(streamHeader, header, sizeof header);
    return 1;
}
