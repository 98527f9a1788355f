#include "riff_scan.h"

#include <algorithm>

namespace vxavi {

namespace {

constexpr uint32_t fcc(const char (&s)[5]) {
    return static_cast<uint32_t>(static_cast<unsigned char>(s[0])) |
           static_cast<uint32_t>(static_cast<unsigned char>(s[1])) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(s[2])) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(s[3])) << 24;
}

uint32_t le32(const unsigned char* p) {
    return p[0] | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

uint64_t le64(const unsigned char* p) { return le32(p) | static_cast<uint64_t>(le32(p + 4)) << 32; }

// Damaged files can hold any number of tiny chunks; a walk stops after this
// many steps.
constexpr int kMaxSteps = 1 << 20;
constexpr uint32_t kIndxHeader = 24;

struct Chunk {
    uint32_t id = 0;
    uint32_t size = 0;
    uint32_t listType = 0;  // for "RIFF" and "LIST"
    uint64_t pos = 0;       // of the header
    uint64_t data() const { return pos + 8; }
    uint64_t next() const { return pos + 8 + size + (size & 1u); }
    bool isList() const { return listType != 0; }
};

class Walker {
public:
    explicit Walker(const InputFile& f) : f_(f) {}

    // The chunk whose header starts at `pos`, when it lies before `limit`.
    bool at(uint64_t pos, uint64_t limit, Chunk* c) const {
        limit = std::min(limit, f_.size());
        unsigned char h[12];
        if (pos > limit || limit - pos < 8 || !f_.read(pos, h, 8)) return false;
        *c = Chunk{le32(h), le32(h + 4), 0, pos};
        const bool list = c->id == fcc("RIFF") || c->id == fcc("LIST");
        if (list && c->size >= 4 && f_.read(pos + 8, h + 8, 4)) c->listType = le32(h + 8);
        return true;
    }

    // Calls f(chunk) for each child of [begin, end); f returns false to stop.
    template <class F>
    void children(uint64_t begin, uint64_t end, F&& f) const {
        Chunk c;
        uint64_t pos = begin;
        for (int step = 0; step < kMaxSteps && at(pos, end, &c); ++step) {
            if (!f(c)) return;
            pos = c.next();
        }
    }

    const InputFile& file() const { return f_; }

private:
    const InputFile& f_;
};

IndxInfo read_indx(const InputFile& f, const Chunk& c) {
    IndxInfo info;
    info.present = true;
    unsigned char h[kIndxHeader];
    if (c.size < kIndxHeader || !f.read(c.data(), h, kIndxHeader)) return info;
    const uint16_t longs = static_cast<uint16_t>(h[0] | h[1] << 8);
    const uint8_t subType = h[2];
    info.indexType = h[3];
    info.entries = le32(h + 4);
    info.chunkId = le32(h + 8);
    if (kIndxHeader + 4ull * longs * info.entries > c.size || info.entries == 0) return info;
    if (info.indexType == 1) {
        info.usable = (subType == 0 && longs == 2) || (subType == 1 && longs == 3);
        return info;
    }
    if (info.indexType != 0 || subType > 1 || longs != 4) return info;
    // A super index counts when it has a duration and a standard index chunk
    // that the file really holds.
    uint64_t durations = 0;
    bool reachable = false;
    for (uint32_t i = 0; i < info.entries; ++i) {
        unsigned char e[16];
        if (!f.read(c.data() + kIndxHeader + 16ull * i, e, 16)) return info;
        const uint64_t offset = le64(e);
        const uint32_t size = le32(e + 8);
        durations += le32(e + 12);
        if (offset != 0 && size > 8 && offset <= f.size() && size <= f.size() - offset)
            reachable = true;
    }
    info.usable = durations != 0 && reachable;
    return info;
}

void scan_header_list(const Walker& w, const Chunk& hdrl, RiffLayout* out) {
    w.children(hdrl.data() + 4, hdrl.next(), [&](const Chunk& c) {
        if (c.id == fcc("LIST") && c.listType == fcc("strl")) {
            IndxInfo info;
            w.children(c.data() + 4, c.next(), [&](const Chunk& s) {
                if (s.id != fcc("indx")) return true;
                info = read_indx(w.file(), s);
                return false;
            });
            out->indx.push_back(info);
        }
        return true;
    });
}

}  // namespace

RiffLayout scan_layout(const InputFile& file) {
    RiffLayout out;
    Walker w(file);
    const Chunk* first = nullptr;
    Chunk form;
    w.children(0, file.size(), [&](const Chunk& c) {
        if (c.id == fcc("RIFF")) {
            Segment s{c.listType, c.pos, c.size, c.data() + c.size > file.size()};
            w.children(c.data() + 4, c.next(), [&](const Chunk& m) {
                if (m.id != fcc("LIST") || m.listType != fcc("movi")) return true;
                s.moviBegin = m.data() + 4;
                s.moviEnd = std::max(s.moviBegin, std::min(file.size(), m.data() + m.size));
                return false;
            });
            out.segments.push_back(s);
            if (first == nullptr && c.listType == fcc("AVI ")) {
                form = c;
                first = &form;
            }
        }
        return true;
    });
    if (first == nullptr) return out;

    // The form's own size is not trusted for "idx1": some writers store it
    // too short. The search ends at the next top-level form.
    bool afterMovi = false;
    w.children(form.data() + 4, file.size(), [&](const Chunk& c) {
        if (c.id == fcc("RIFF")) return false;
        if (c.id == fcc("LIST") && c.listType == fcc("hdrl") && out.indx.empty()) {
            scan_header_list(w, c, &out);
        } else if (c.id == fcc("LIST") && c.listType == fcc("movi") && !afterMovi) {
            afterMovi = true;
            out.moviTruncated = c.data() + c.size > file.size();
            if (out.moviTruncated) return false;
        } else if (afterMovi && c.id == fcc("idx1")) {
            const uint64_t held = std::min<uint64_t>(c.size, file.size() - c.data());
            out.hasIdx1 = held >= 16;
            return false;
        }
        return true;
    });
    return out;
}

}  // namespace vxavi
