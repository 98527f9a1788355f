// aviOpen: walks the header list of the first "AVI " form, keeps the stream
// headers and formats, chooses the video and audio streams and loads their
// indexes.
#include <cstdlib>
#include <cstring>
#include <new>

#include "formats/stored_records.h"
#include "reader/block_cache.h"
#include "reader/reader_internal.h"
#include "util/host.h"

namespace vx::reader {

namespace {

constexpr uint32_t kMaxStreams = 255;

class Opener {
public:
    Opener(AviReader* reader, RiffWalker& walker) : r_(reader), walker_(walker) {}

    VXRESULT run();

private:
    VXRESULT fail(VXRESULT code, const ErrorSite& site) { return record(code, site); }
    VXRESULT walk_header_list(const RiffChunk& hdrl);
    VXRESULT walk_stream_list(const RiffChunk& strl, uint32_t stream);
    VXRESULT handle_chunk(const RiffChunk& c, uint32_t stream);
    VXRESULT read_blob(const RiffChunk& c, void** data, uint32_t* size, const ErrorSite& memSite,
                       const ErrorSite& readSite);
    VXRESULT load_indx(const RiffChunk& c, uint32_t stream);
    void choose_streams();
    void settle_audio_sample_size();

    AviReader* r_;
    RiffWalker& walker_;
    uint32_t storedAudioSampleSize_ = 0;  // the chosen audio stream's, as the file has it
};

VXRESULT Opener::run() {
    RiffChunk form, hdrl, avih;
    const uint64_t fileEnd = walker_.file().size();
    walker_.seek(0);
    if (!walker_.find(fileEnd, fourcc("RIFF"), fourcc("AVI "), &form))
        return fail(AVIERR_BADFORMAT, site::vfw::kNoRiffForm);
    if (!walker_.find(form.end, fourcc("LIST"), fourcc("hdrl"), &hdrl))
        return fail(AVIERR_BADFORMAT, site::vfw::kNoHeaderList);
    if (!walker_.find(hdrl.end, fourcc("avih"), 0, &avih))
        return fail(AVIERR_BADFORMAT, site::vfw::kNoMainHeader);

    const uint32_t n = avih.size < sizeof(MainAVIHeader) ? avih.size : sizeof(MainAVIHeader);
    unsigned char buf[sizeof(MainAVIHeader)] = {};
    if (!walker_.read(avih, 0, buf, n)) return fail(AVIERR_FILEREAD, site::vfw::kMainHeaderCut);
    r_->mainHeader = MainAVIHeader{};
    read_main_header(buf, n, &r_->mainHeader);
    walker_.leave(avih);

    const uint32_t streams = r_->mainHeader.dwStreams;
    if (streams == 0 || streams > kMaxStreams)
        return fail(AVIERR_BADFORMAT, site::vfw::kStreamCount);
    r_->streams = static_cast<AviStreamRecord*>(std::calloc(streams, sizeof(AviStreamRecord)));
    if (r_->streams == nullptr) return fail(AVIERR_MEMORY, site::vfw::kStreamMemory);
    r_->videoStream = -1;
    r_->audioStream = -1;

    if (VXRESULT err = walk_header_list(hdrl)) return err;

    for (uint32_t j = 0; j < streams; ++j) {
        if (r_->streams[j].header.fccType == 0)
            return fail(AVIERR_BADFORMAT, site::vfw::kNoStreamHeader);
        if (r_->streams[j].format == nullptr) return fail(AVIERR_BADFORMAT, site::vfw::kNoFormat);
    }
    choose_streams();
    walker_.leave(hdrl);
    r_->audioCursorSample = -1;
    r_->audioCursorEntry = -1;

    if (r_->videoIndex.count == 0 && r_->audioIndex.count == 0) {
        RiffChunk movi;
        if (!walker_.find(form.end, fourcc("LIST"), fourcc("movi"), &movi))
            return fail(AVIERR_BADFORMAT, site::vfw::kNoMovieList);
        if (load_classic_index(r_, walker_, movi, form) != 0)
            return fail(AVIERR_FILEREAD, site::vfw::kIndex);
    }
    settle_audio_sample_size();
    return 0;
}

// Variable-rate audio (MP3 and the like) is stored with a sample size of 0
// and one compressed frame per chunk, in chunks that need not hold whole
// blocks: there a sample is a chunk, as other readers count it, and the
// header's rate, scale and length count chunks too. Where every chunk holds
// whole blocks (constant-rate data) the block stays the sample.
void Opener::settle_audio_sample_size() {
    if (r_->audioStream < 0 || storedAudioSampleSize_ != 0) return;
    AVIStreamHeader& h = r_->streams[r_->audioStream].header;
    const uint32_t block = h.dwSampleSize;
    const AviStreamIndex& index = r_->audioIndex;
    if (block == 0 || index.entries == nullptr) return;
    for (uint32_t i = 0; i < index.count; ++i) {
        if (index.entries[i].size % block != 0) {
            h.dwSampleSize = 0;
            return;
        }
    }
}

void Opener::choose_streams() {
    for (uint32_t j = 0; j < r_->mainHeader.dwStreams; ++j) {
        AviStreamRecord& s = r_->streams[j];
        if (is_audio_type(s.header.fccType)) {
            if (r_->audioStream < 0) {
                r_->audioStream = static_cast<int32_t>(j);
                storedAudioSampleSize_ = s.header.dwSampleSize;
            }
            // A format too short to hold nBlockAlign has none.
            s.header.dwSampleSize = format_reader(s).u16(12);
        } else if (r_->videoStream < 0 && is_video_type(s.header.fccType)) {
            r_->videoStream = static_cast<int32_t>(j);
            s.header.dwSampleSize = 0;
        }
    }
}

VXRESULT Opener::walk_header_list(const RiffChunk& hdrl) {
    const uint32_t streams = r_->mainHeader.dwStreams;
    uint32_t seen = 0;
    RiffChunk c;
    while (walker_.enter(hdrl.end, &c)) {
        if (c.id == fourcc("LIST") && c.listType == fourcc("strl")) {
            if (seen == streams) return fail(AVIERR_BADFORMAT, site::vfw::kMoreStreamLists);
            if (VXRESULT err = walk_stream_list(c, seen)) return err;
            ++seen;
        } else {
            // Chunks standing directly in the header list: only "dmlh" and
            // stream chunks of a stream still to come are acted on.
            if (VXRESULT err = handle_chunk(c, seen)) return err;
        }
        walker_.leave(c);
    }
    if (seen < streams) return fail(AVIERR_BADFORMAT, site::vfw::kFewerStreamLists);
    return 0;
}

VXRESULT Opener::walk_stream_list(const RiffChunk& strl, uint32_t stream) {
    RiffChunk c;
    while (walker_.enter(strl.end, &c)) {
        if (VXRESULT err = handle_chunk(c, stream)) return err;
        walker_.leave(c);
    }
    return 0;
}

VXRESULT Opener::handle_chunk(const RiffChunk& c, uint32_t stream) {
    if (c.isList()) return 0;
    if (c.id == fourcc("dmlh")) {
        const uint32_t n = c.size < 4 ? c.size : 4;
        unsigned char b[4] = {};
        if (!walker_.read(c, 0, b, n)) return fail(AVIERR_FILEREAD, site::vfw::kOdmlHeaderCut);
        ByteReader(b, n).field(r_->mainHeader.dwTotalFrames);
        return 0;
    }
    // After the last stream list there is no record to fill.
    if (stream >= r_->mainHeader.dwStreams) return 0;
    AviStreamRecord& s = r_->streams[stream];
    if (c.id == fourcc("strh")) {
        s.header.dwQuality = 0xFFFFFFFFu;
        const uint32_t n = c.size < sizeof(AVIStreamHeader) ? c.size : sizeof(AVIStreamHeader);
        unsigned char b[sizeof(AVIStreamHeader)];
        if (!walker_.read(c, 0, b, n)) return fail(AVIERR_FILEREAD, site::vfw::kStreamHeaderCut);
        read_stream_header(b, n, &s.header);
        return 0;
    }
    if (c.id == fourcc("strf")) {
        if (s.format != nullptr) return 0;
        return read_blob(c, &s.format, &s.formatSize, site::vfw::kFormatMemory,
                         site::vfw::kFormatCut);
    }
    if (c.id == fourcc("strd")) {
        if (s.codecData != nullptr) return 0;
        return read_blob(c, &s.codecData, &s.codecDataSize, site::vfw::kCodecDataMemory,
                         site::vfw::kCodecDataCut);
    }
    if (c.id == fourcc("indx")) return load_indx(c, stream);
    return 0;
}

VXRESULT Opener::read_blob(const RiffChunk& c, void** data, uint32_t* size,
                           const ErrorSite& memSite, const ErrorSite& readSite) {
    // The size comes from the file: it must be there before it sizes memory.
    if (!walker_.file().holds(c.dataPos(), c.size)) return fail(AVIERR_FILEREAD, readSite);
    void* p = std::malloc(c.size ? c.size : 1);
    if (p == nullptr) return fail(AVIERR_MEMORY, memSite);
    if (!walker_.read(c, 0, p, c.size)) {
        std::free(p);
        return fail(AVIERR_FILEREAD, readSite);
    }
    *data = p;
    *size = c.size;
    return 0;
}

VXRESULT Opener::load_indx(const RiffChunk& c, uint32_t stream) {
    const AviStreamRecord& s = r_->streams[stream];
    const uint32_t type = s.header.fccType;
    // The index goes to the stream that will be chosen: the first of its kind.
    AviStreamIndex* target = nullptr;
    if (is_video_type(type)) {
        target = &r_->videoIndex;
        for (uint32_t j = 0; j < stream; ++j)
            if (is_video_type(r_->streams[j].header.fccType)) return 0;
    } else if (is_audio_type(type)) {
        target = &r_->audioIndex;
        for (uint32_t j = 0; j < stream; ++j)
            if (is_audio_type(r_->streams[j].header.fccType)) return 0;
    } else {
        return 0;
    }
    if (load_odml_index(r_, walker_, c, s, target) != 0)
        return fail(AVIERR_FILEREAD, site::vfw::kOdmlIndex);
    return 0;
}

}  // namespace

void release_contents(AviReader* r) {
    if (r->streams != nullptr) {
        for (uint32_t j = 0; j < r->mainHeader.dwStreams && j < kMaxStreams; ++j) {
            std::free(r->streams[j].format);
            std::free(r->streams[j].codecData);
        }
        std::free(r->streams);
        r->streams = nullptr;
    }
    clear_index(&r->videoIndex);
    clear_index(&r->audioIndex);
}

VXRESULT open(AviReader** outReader, HANDLE fileRef, const char* fileName) {
    if (outReader == nullptr) return record(AVIERR_BADPARAM, site::vfw::kOpen);
    auto* r = static_cast<AviReader*>(std::calloc(1, sizeof(AviReader)));
    if (r == nullptr) return record(AVIERR_MEMORY, site::vfw::kOpen);
    r->videoStream = -1;
    r->audioStream = -1;

    VXRESULT err = 0;
    if (SetFilePointer64(fileRef, nullptr, nullptr, 0) != 0) {
        err = record(AVIERR_FILEREAD, site::vfw::kRewind);
    } else {
        r->fileRef = fileRef;
        // A name that does not fit is not cut to another file's name: such a
        // reader reads through the host's handle only.
        if (fileName != nullptr && std::strlen(fileName) < VX_MAX_PATH) {
            std::strcpy(r->fileName, fileName);
            r->useCache = 1;
        }
        HostFile file(fileRef);
        if (!file.init()) {
            err = record(AVIERR_FILEREAD, site::vfw::kFileSize);
        } else {
            RiffWalker walker(file);
            r->riffParser = &walker;
            err = Opener(r, walker).run();
            r->riffParser = nullptr;
        }
    }
    if (err != 0) {
        release_contents(r);
        std::free(r);
        *outReader = nullptr;
        return err;
    }
    *outReader = r;
    return 0;
}

}  // namespace vx::reader
