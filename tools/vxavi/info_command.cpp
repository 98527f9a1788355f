// vxavi info: what the file holds, from the reader's view of it plus a few
// structural facts the reader does not report (segments, index kinds).
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "commands.h"
#include "printing.h"
#include "riff_scan.h"
#include "util/byte_io.h"

namespace vxavi {

namespace {

constexpr uint32_t kVids = vx::fourcc("vids");
constexpr uint32_t kIavs = vx::fourcc("iavs");
constexpr uint32_t kAuds = vx::fourcc("auds");

struct FlagName {
    uint32_t bit;
    const char* name;
};
constexpr FlagName kMainFlags[] = {
    {0x00000010, "HASINDEX"},    {0x00000020, "MUSTUSEINDEX"},   {0x00000100, "ISINTERLEAVED"},
    {0x00000800, "TRUSTCKTYPE"}, {0x00010000, "WASCAPTUREFILE"}, {0x00020000, "COPYRIGHTED"},
};

std::vector<std::string> flag_names(uint32_t flags) {
    std::vector<std::string> names;
    for (const FlagName& f : kMainFlags)
        if (flags & f.bit) names.push_back(f.name);
    return names;
}

// Fields of a stream's raw format, present only when the format holds them.
class FormatView {
public:
    explicit FormatView(const AviStreamRecord& s) : r_(s.format, s.formatSize) {}
    std::optional<uint32_t> u16(uint32_t at) const { return held(at, 2, r_.u16(at)); }
    std::optional<uint32_t> u32(uint32_t at) const { return held(at, 4, r_.u32(at)); }
    std::optional<int32_t> i32(uint32_t at) const {
        const auto v = u32(at);
        return v ? std::optional<int32_t>(static_cast<int32_t>(*v)) : std::nullopt;
    }
    uint32_t size() const { return static_cast<uint32_t>(r_.size()); }

private:
    std::optional<uint32_t> held(uint32_t at, uint32_t n, uint32_t v) const {
        return r_.has(at, n) ? std::optional<uint32_t>(v) : std::nullopt;
    }

    vx::ByteReader r_;
};

// An audio format tag as "0x0055".
std::optional<std::string> tag_text(const std::optional<uint32_t>& tag) {
    if (!tag) return std::nullopt;
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%04X", *tag);
    return hex;
}

struct IndexFacts {
    int32_t stream = -1;
    std::string kind;
    AviStreamSummary summary{};
    uint32_t chunkId = 0;
};

struct Info {
    const AviReader* reader = nullptr;
    uint64_t fileSize = 0;
    RiffLayout layout;
    IndexFacts video, audio;
};

bool is_video(uint32_t type) { return type == kVids || type == kIavs; }

std::string index_kind(const Info& info, int32_t stream) {
    const auto usable = [&](int32_t s) {
        return s >= 0 && static_cast<std::size_t>(s) < info.layout.indx.size() &&
               info.layout.indx[static_cast<std::size_t>(s)].usable;
    };
    const AviReader* r = info.reader;
    // Any OpenDML index that loaded excludes the classic index for both
    // streams.
    const bool odml = (usable(r->videoStream) || usable(r->audioStream)) &&
                      (r->videoIndex.count != 0 || r->audioIndex.count != 0);
    if (odml) return usable(stream) ? "OpenDML" : "none";
    return info.layout.hasIdx1 && !info.layout.moviTruncated ? "idx1" : "rebuilt";
}

IndexFacts index_facts(const Info& info, AviReader* reader, int32_t stream,
                       const AviStreamIndex& index) {
    IndexFacts f;
    f.stream = stream;
    if (stream < 0) return f;
    f.kind = index_kind(info, stream);
    aviGetStreamSummary(reader, stream, &f.summary);
    f.chunkId = index.chunkId;
    return f;
}

uint64_t total_bytes(const AviStreamSummary& s) {
    return static_cast<uint64_t>(s.totalBytesHigh) << 32 | s.totalBytesLow;
}

std::optional<double> ratio(uint32_t num, uint32_t den) {
    if (den == 0) return std::nullopt;
    return static_cast<double>(num) / den;
}

std::string opt_text(const std::optional<uint32_t>& v) { return v ? std::to_string(*v) : "?"; }
std::string opt_text(const std::optional<int32_t>& v) { return v ? std::to_string(*v) : "?"; }

std::string format_text(const AviStreamRecord& s) {
    const FormatView f(s);
    if (is_video(s.header.fccType)) {
        const auto compression = f.u32(16);
        std::string text = compression ? (*compression ? fourcc_text(*compression) : "RGB") : "?";
        return text + " " + opt_text(f.i32(4)) + "x" + opt_text(f.i32(8)) + ", " +
               opt_text(f.u16(14)) + " bit";
    }
    if (s.header.fccType == kAuds) {
        return "tag " + tag_text(f.u16(0)).value_or("?") + ", " + opt_text(f.u16(2)) + " ch, " +
               opt_text(f.u32(4)) + " Hz, " + opt_text(f.u16(14)) + " bit, align " +
               opt_text(f.u16(12));
    }
    return std::to_string(f.size()) + " bytes";
}

std::string role_of(const AviReader* r, uint32_t stream) {
    if (static_cast<int32_t>(stream) == r->videoStream) return "video";
    if (static_cast<int32_t>(stream) == r->audioStream) return "audio";
    return "";
}

std::string render_text(const Info& info, const std::string& path) {
    const AviReader* r = info.reader;
    const MainAVIHeader& h = r->mainHeader;
    std::string out;
    auto line = [&](const std::string& label, const std::string& value) {
        out += label + std::string(label.size() < 14 ? 14 - label.size() : 1, ' ') + value + "\n";
    };
    line("File", path);
    line("Size", std::to_string(info.fileSize) + " bytes");
    std::string segments = std::to_string(info.layout.segments.size());
    for (std::size_t i = 0; i < info.layout.segments.size(); ++i) {
        const Segment& s = info.layout.segments[i];
        segments += (i == 0 ? ": " : ", ") + fourcc_text(s.form) + " at " +
                    std::to_string(s.offset) + " (" + std::to_string(s.size) + " bytes" +
                    (s.truncated ? ", cut short" : "") + ")";
    }
    line("Segments", segments);

    out += "\nMain header\n";
    line("  Frames", std::to_string(h.dwTotalFrames));
    std::string frameTime = std::to_string(h.dwMicroSecPerFrame) + " us";
    if (h.dwMicroSecPerFrame != 0)
        frameTime += " (" + short_number(1e6 / h.dwMicroSecPerFrame) + " fps)";
    line("  Frame time", frameTime);
    line("  Size", std::to_string(h.dwWidth) + "x" + std::to_string(h.dwHeight));
    line("  Streams", std::to_string(h.dwStreams));
    std::string flags = hex32(h.dwFlags);
    for (const std::string& n : flag_names(h.dwFlags)) flags += " " + n;
    line("  Flags", flags);
    line("  Max rate", std::to_string(h.dwMaxBytesPerSec) + " bytes/s");
    line("  Buffer size", std::to_string(h.dwSuggestedBufferSize) + " bytes");

    out += "\nStreams\n";
    using A = TextTable::Align;
    TextTable streams;
    streams.columns({{"#", A::kRight},
                     {"Type", A::kLeft},
                     {"Handler", A::kLeft},
                     {"Format", A::kLeft},
                     {"Rate", A::kLeft},
                     {"Start", A::kRight},
                     {"Length", A::kRight},
                     {"Role", A::kLeft}});
    for (uint32_t j = 0; j < h.dwStreams; ++j) {
        const AviStreamRecord& s = r->streams[j];
        std::string rate = std::to_string(s.header.dwRate) + "/" + std::to_string(s.header.dwScale);
        if (const auto v = ratio(s.header.dwRate, s.header.dwScale))
            rate += " = " + short_number(*v);
        streams.row({std::to_string(j), fourcc_text(s.header.fccType),
                     fourcc_text(s.header.fccHandler), format_text(s), rate,
                     std::to_string(s.header.dwStart), std::to_string(s.header.dwLength),
                     role_of(r, j)});
    }
    out += streams.render("  ");

    out += "\nIndexes\n";
    TextTable indexes;
    indexes.columns({{"Role", A::kLeft},
                     {"Stream", A::kRight},
                     {"Kind", A::kLeft},
                     {"Entries", A::kRight},
                     {"Key", A::kRight},
                     {"Delta", A::kRight},
                     {"Empty", A::kRight},
                     {"Bytes", A::kRight},
                     {"Chunk id", A::kLeft}});
    for (const auto& [role, f] :
         {std::pair{"video", &info.video}, std::pair{"audio", &info.audio}}) {
        if (f->stream < 0) {
            indexes.row({role, "-", "none"});
            continue;
        }
        indexes.row({role, std::to_string(f->stream), f->kind, std::to_string(f->summary.entries),
                     std::to_string(f->summary.keyEntries), std::to_string(f->summary.deltaEntries),
                     std::to_string(f->summary.emptyEntries),
                     std::to_string(total_bytes(f->summary)), fourcc_text(f->chunkId)});
    }
    out += indexes.render("  ");
    return out;
}

void json_format(JsonWriter& j, const AviStreamRecord& s) {
    const FormatView f(s);
    j.begin_object();
    j.field("bytes", f.size());
    if (is_video(s.header.fccType)) {
        const auto compression = f.u32(16);
        j.field("compression",
                compression ? std::optional(fourcc_text(*compression)) : std::nullopt);
        j.field("width", f.i32(4));
        j.field("height", f.i32(8));
        j.field("bitCount", f.u16(14));
    } else if (s.header.fccType == kAuds) {
        j.field("formatTag", tag_text(f.u16(0)));
        j.field("channels", f.u16(2));
        j.field("samplesPerSec", f.u32(4));
        j.field("avgBytesPerSec", f.u32(8));
        j.field("blockAlign", f.u16(12));
        j.field("bitsPerSample", f.u16(14));
    }
    j.end_object();
}

void json_index(JsonWriter& j, const IndexFacts& f) {
    if (f.stream < 0) {
        j.null();
        return;
    }
    j.begin_object();
    j.field("stream", f.stream);
    j.field("kind", f.kind);
    j.field("entries", f.summary.entries);
    j.field("keyFrames", f.summary.keyEntries);
    j.field("deltaFrames", f.summary.deltaEntries);
    j.field("emptyFrames", f.summary.emptyEntries);
    j.field("totalBytes", total_bytes(f.summary));
    j.field("chunkId", fourcc_text(f.chunkId));
    j.end_object();
}

std::string render_json(const Info& info, const std::string& path) {
    const AviReader* r = info.reader;
    const MainAVIHeader& h = r->mainHeader;
    std::string out;
    JsonWriter j(out);
    j.begin_object();
    j.field("file", path);
    j.field("size", info.fileSize);
    j.field("segmentCount", static_cast<uint64_t>(info.layout.segments.size()));
    j.key("segments").begin_array();
    for (const Segment& s : info.layout.segments) {
        j.begin_object();
        j.field("form", fourcc_text(s.form));
        j.field("offset", s.offset);
        j.field("size", s.size);
        j.field("truncated", s.truncated);
        j.end_object();
    }
    j.end_array();

    j.key("mainHeader").begin_object();
    j.field("frames", h.dwTotalFrames);
    j.field("microSecPerFrame", h.dwMicroSecPerFrame);
    j.field("fps", h.dwMicroSecPerFrame ? std::optional<double>(1e6 / h.dwMicroSecPerFrame)
                                        : std::nullopt);
    j.field("width", h.dwWidth);
    j.field("height", h.dwHeight);
    j.field("streams", h.dwStreams);
    j.field("flags", h.dwFlags);
    j.key("flagNames").begin_array();
    for (const std::string& n : flag_names(h.dwFlags)) j.value(n);
    j.end_array();
    j.field("maxBytesPerSec", h.dwMaxBytesPerSec);
    j.field("suggestedBufferSize", h.dwSuggestedBufferSize);
    j.end_object();

    j.key("streams").begin_array();
    for (uint32_t n = 0; n < h.dwStreams; ++n) {
        const AviStreamRecord& s = r->streams[n];
        j.begin_object();
        j.field("index", n);
        j.field("type", fourcc_text(s.header.fccType));
        j.field("handler", fourcc_text(s.header.fccHandler));
        j.field("role", role_of(r, n));
        j.key("format");
        json_format(j, s);
        j.field("rate", s.header.dwRate);
        j.field("scale", s.header.dwScale);
        j.field("rateValue", ratio(s.header.dwRate, s.header.dwScale));
        j.field("start", s.header.dwStart);
        j.field("length", s.header.dwLength);
        j.field("sampleSize", s.header.dwSampleSize);
        j.end_object();
    }
    j.end_array();
    j.key("videoIndex");
    json_index(j, info.video);
    j.key("audioIndex");
    json_index(j, info.audio);
    j.end_object();
    out += '\n';
    return out;
}

}  // namespace

int run_info(const Options& options) {
    const std::unique_ptr<AviFile> avi = AviFile::open(options.path);
    if (!avi) return kExitFileError;
    AviReader* r = avi->reader();
    Info info;
    info.reader = r;
    info.fileSize = avi->file().size();
    info.layout = scan_layout(avi->file());
    info.video = index_facts(info, r, r->videoStream, r->videoIndex);
    info.audio = index_facts(info, r, r->audioStream, r->audioIndex);
    const std::string text =
        options.json ? render_json(info, options.path) : render_text(info, options.path);
    if (!write_stdout(text)) {
        print_error("cannot write the output");
        return kExitFileError;
    }
    return kExitOk;
}

}  // namespace vxavi
