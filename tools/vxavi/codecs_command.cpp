// vxavi codecs: the video codec list and the audio codec list as the
// library builds them for the host.
#include <VexaInfo.h>
#include <vxmedia/vxcodecmgr.h>
#include <vxmedia/vxcodecs.h>
#include <vxmedia/vxformats.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "commands.h"
#include "formats/codec_entry.h"
#include "printing.h"

namespace vxavi {

namespace {

using VideoEntry = vx::CodecEntry;

struct Lists {
    std::vector<VideoEntry> video;
    ACMCodecList audio{};
    bool haveAudio = false;
};

Lists read_lists() {
    Lists lists;
    const HostMemFuncs* mem = VxHostMemFuncs();
    if (VxHandle h = GetAVICodecs(mem)) {
        const uint32_t count = mem->getHandleSize(h) / VX_CODEC_ENTRY_SIZE;
        for (uint32_t i = 0; i < count; ++i)
            lists.video.push_back(
                vx::unpack_codec_entry(static_cast<const uint8_t*>(*h) + i * VX_CODEC_ENTRY_SIZE));
        // Kept-open codecs are the caller's to close.
        for (const VideoEntry& e : lists.video)
            if (e.instance != 0)
                VxCodecClose(reinterpret_cast<VxCodec>(static_cast<uintptr_t>(e.instance)));
        mem->disposeHandle(h);
    }
    if (VxHandle h = GetACMCodecs(mem)) {
        std::memcpy(&lists.audio, *h, sizeof lists.audio);
        lists.haveAudio = true;
        mem->disposeHandle(h);
    }
    return lists;
}

std::string code_or_none(uint32_t code) {
    return code == 0xFFFFFFFFu ? "-" : code < 0x100 ? std::to_string(code) : fourcc_text(code);
}

std::vector<uint32_t> depths(uint16_t mask) {
    std::vector<uint32_t> out;
    for (uint32_t bit = 0; bit < 4; ++bit)
        if (mask >> bit & 1) out.push_back(8 * (bit + 1));
    return out;
}

constexpr struct {
    uint32_t bit;
    const char* name;
} kFlags[] = {{VX_CODEC_HAS_DIALOG, "dialog"},
              {VX_CODEC_QUALITY, "quality"},
              {VX_CODEC_KEEP_OPEN, "keep-open"},
              {VX_CODEC_TEMPORAL, "temporal"},
              {VX_CODEC_QUALITY_OR_CRUNCH, "quality-or-crunch"}};

std::vector<uint32_t> compatible(const VideoEntry& e) {
    std::vector<uint32_t> out;
    for (uint32_t c : e.compatible)
        if (c != 0) out.push_back(c);
    return out;
}

std::string name_of(const char* text, std::size_t size) {
    return std::string(text, strnlen(text, size));
}

// The driver's short name; its id when it gives none.
std::string driver_name(void* id) {
    char name[64];
    if (VxAcmDriverName(id, name, sizeof name) == 0 && name[0] != '\0') return name;
    return hex32(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(id)));
}

std::string render_json(const Lists& lists) {
    std::string out;
    JsonWriter j(out);
    j.begin_object().key("video").begin_array();
    for (const VideoEntry& e : lists.video) {
        j.begin_object()
            .field("kind", e.kind)
            .field("handler", fourcc_text(e.handlerType))
            .key("bitmapType");
        if (e.bitmapType == 0xFFFFFFFFu)
            j.null();
        else
            j.value(code_or_none(e.bitmapType));
        j.key("depths").begin_array();
        for (uint32_t d : depths(e.depthMask)) j.value(d);
        j.end_array().field("qualityFlag", e.qualityFlag).key("flags").begin_array();
        for (const auto& f : kFlags)
            if (e.flags & f.bit) j.value(f.name);
        j.end_array()
            .field("defaultQuality", e.defaultQuality)
            .field("defaultKeyFrameRate", e.defaultKeyRate)
            .key("compatible")
            .begin_array();
        for (uint32_t c : compatible(e)) j.value(fourcc_text(c));
        j.end_array().field("name", name_of(e.name, sizeof e.name)).end_object();
    }
    j.end_array().key("audio").begin_object();
    const ACMCodecList& a = lists.audio;
    j.field("singleTagPosition", a.singleTagPosition).key("codecs").begin_array();
    for (uint32_t i = 0; lists.haveAudio && i < a.count && i < VX_ACM_MAX_CODECS; ++i) {
        j.begin_object()
            .field("tag", a.formatTag[i])
            .field("name", name_of(a.name[i], sizeof a.name[i]))
            .field("driver", driver_name(a.driverId[i]))
            .key("rates")
            .begin_array();
        const ACMRateList& r = a.pcmRates[i];
        for (uint32_t k = 0; k < r.count && k < VX_ACM_MAX_RATES; ++k)
            j.begin_object()
                .field("rate", r.rates[k])
                .field("mono", (r.channels[k] & VX_ACM_MONO) != 0)
                .field("stereo", (r.channels[k] & VX_ACM_STEREO) != 0)
                .end_object();
        j.end_array().end_object();
    }
    j.end_array().end_object().end_object();
    out += '\n';
    return out;
}

// Appends `item` to a list separated by `separator`.
void add_item(std::string& list, std::string_view item, char separator = ',') {
    if (!list.empty()) list += separator;
    list += item;
}

constexpr auto kL = TextTable::Align::kLeft;
constexpr auto kR = TextTable::Align::kRight;

std::string render_text(const Lists& lists) {
    std::string out = "Video compressors\n";
    TextTable video;
    video.columns({{"handler", kL},
                   {"bitmap", kL},
                   {"depths", kL},
                   {"flags", kL},
                   {"quality", kR},
                   {"keys", kR},
                   {"compatible", kL},
                   {"name", kL}});
    for (const VideoEntry& e : lists.video) {
        std::string d, f, c;
        for (uint32_t v : depths(e.depthMask)) add_item(d, std::to_string(v));
        for (const auto& flag : kFlags)
            if (e.flags & flag.bit) add_item(f, flag.name);
        for (uint32_t v : compatible(e)) add_item(c, fourcc_text(v));
        video.row({fourcc_text(e.handlerType) + (e.kind != 0 ? " (host)" : ""),
                   code_or_none(e.bitmapType), d.empty() ? "-" : d, f.empty() ? "-" : f,
                   std::to_string(e.defaultQuality), std::to_string(e.defaultKeyRate),
                   c.empty() ? "-" : c, name_of(e.name, sizeof e.name)});
    }
    out += video.render("  ");
    out += "\nAudio codecs\n";
    TextTable audio;
    audio.columns(
        {{"tag", kL}, {"name", kL}, {"driver", kL}, {"PCM rates (m mono, s stereo)", kL}});
    const ACMCodecList& a = lists.audio;
    for (uint32_t i = 0; lists.haveAudio && i < a.count && i < VX_ACM_MAX_CODECS; ++i) {
        std::string rates;
        const ACMRateList& r = a.pcmRates[i];
        for (uint32_t k = 0; k < r.count && k < VX_ACM_MAX_RATES; ++k) {
            std::string rate = std::to_string(r.rates[k]);
            if (r.channels[k] & VX_ACM_MONO) rate += 'm';
            if (r.channels[k] & VX_ACM_STEREO) rate += 's';
            add_item(rates, rate, ' ');
        }
        std::string tag = "0x";
        tag += hex32(a.formatTag[i]).substr(6);
        audio.row({tag, name_of(a.name[i], sizeof a.name[i]), driver_name(a.driverId[i]), rates});
    }
    out += audio.render("  ");
    return out;
}

}  // namespace

int run_codecs(const Options& options) {
    const Lists lists = read_lists();
    return write_stdout(options.json ? render_json(lists) : render_text(lists)) ? kExitOk
                                                                                : kExitFileError;
}

}  // namespace vxavi
