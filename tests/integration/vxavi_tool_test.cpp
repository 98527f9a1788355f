// The vxavi tool, run as a program on generated, corpus and damaged files;
// its answers are checked against the library and against an independent
// CRC of the file's bytes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "json_value.h"
#include "media_files.h"

namespace vxtest {
namespace {

namespace fs = std::filesystem;

CommandResult vxavi(const std::string& args) {
    return run_command(shell_quote(VXAVI_PATH) + " " + args);
}

std::optional<Json> parse_or_fail(const std::string& text) {
    std::string error;
    auto doc = Json::parse(text, &error);
    if (!doc) ADD_FAILURE() << "not valid JSON (" << error << "): " << text.substr(0, 200);
    return doc;
}

std::string fourcc_string(uint32_t f) {
    return f == 0 ? ""
                  : std::string{static_cast<char>(f), static_cast<char>(f >> 8),
                                static_cast<char>(f >> 16), static_cast<char>(f >> 24)};
}

bool one_error_line(const std::string& err) {
    return err.rfind("vxavi: ", 0) == 0 && std::count(err.begin(), err.end(), '\n') == 1;
}

class VxaviOnMediaTest : public ::testing::TestWithParam<Media> {
protected:
    void SetUp() override {
        if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not on PATH";
        file_ = &media_file(GetParam());
        ASSERT_FALSE(file_->path.empty());
    }
    const MediaFile* file_ = nullptr;
};

// `kind` empty: not checked.
void expect_index(const Json& j, AviReader* r, int32_t stream, const AviStreamIndex& index,
                  const std::string& kind) {
    ASSERT_FALSE(j.is_null());
    AviStreamSummary s{};
    ASSERT_EQ(aviGetStreamSummary(r, stream, &s), 0);
    EXPECT_EQ(j["stream"].u64(), static_cast<uint64_t>(stream));
    if (!kind.empty()) {
        EXPECT_EQ(j["kind"].str(), kind);
    }
    EXPECT_EQ(j["entries"].u64(), s.entries);
    EXPECT_EQ(j["keyFrames"].u64(), s.keyEntries);
    EXPECT_EQ(j["deltaFrames"].u64(), s.deltaEntries);
    EXPECT_EQ(j["emptyFrames"].u64(), s.emptyEntries);
    EXPECT_EQ(j["totalBytes"].u64(),
              static_cast<uint64_t>(s.totalBytesHigh) << 32 | s.totalBytesLow);
    EXPECT_EQ(j["chunkId"].str(), fourcc_string(index.chunkId));
}

TEST_P(VxaviOnMediaTest, InfoJsonAgreesWithTheLibrary) {
    const CommandResult run = vxavi("info --json " + shell_quote(file_->path));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto doc = parse_or_fail(run.out);
    ASSERT_TRUE(doc);
    OpenedAvi avi(file_->path, false);
    ASSERT_TRUE(avi.ok());
    AviReader* r = avi.reader();
    const Json& j = *doc;
    EXPECT_EQ(j["file"].str(), file_->path);
    EXPECT_EQ(j["size"].u64(), file_size(file_->path));
    EXPECT_EQ(j["segmentCount"].u64(), 1u);
    EXPECT_EQ(j["segments"][0]["form"].str(), "AVI ");
    EXPECT_EQ(j["mainHeader"]["frames"].u64(), r->mainHeader.dwTotalFrames);
    EXPECT_EQ(j["mainHeader"]["width"].u64(), r->mainHeader.dwWidth);
    ASSERT_EQ(j["streams"].size(), aviGetStreamCount(r));
    for (uint32_t n = 0; n < aviGetStreamCount(r); ++n) {
        const AVIStreamHeader& h = aviGetAVIStream(r, n)->header;
        const Json& s = j["streams"][n];
        EXPECT_EQ(s["type"].str(), fourcc_string(h.fccType));
        EXPECT_EQ(s["rate"].u64(), h.dwRate);
        EXPECT_EQ(s["scale"].u64(), h.dwScale);
        EXPECT_EQ(s["length"].u64(), h.dwLength);
        EXPECT_EQ(s["sampleSize"].u64(), h.dwSampleSize);
    }
    expect_index(j["videoIndex"], r, r->videoStream, r->videoIndex, file_->indexKind);
    if (r->audioStream >= 0)
        expect_index(j["audioIndex"], r, r->audioStream, r->audioIndex, file_->indexKind);
    else
        EXPECT_TRUE(j["audioIndex"].is_null());
}

TEST_P(VxaviOnMediaTest, FramesJsonGivesEveryEntryWithItsCrc) {
    const CommandResult run = vxavi("frames --json " + shell_quote(file_->path));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto doc = parse_or_fail(run.out);
    ASSERT_TRUE(doc);
    OpenedAvi avi(file_->path, false);
    ASSERT_TRUE(avi.ok());
    const AviStreamIndex& index = avi.reader()->videoIndex;
    ASSERT_EQ(doc->size(), index.count);
    for (uint32_t i = 0; i < index.count; ++i) {
        const Json& f = (*doc)[i];
        const AviIndexEntry& e = index.entries[i];
        ASSERT_EQ(f["frame"].u64(), i);
        ASSERT_EQ(f["offset"].u64(), e.offset) << "frame " << i;
        ASSERT_EQ(f["size"].u64(), e.size) << "frame " << i;
        ASSERT_EQ(f["key"].boolean(), (e.flags & AVIIF_KEYFRAME) != 0) << "frame " << i;
        const std::vector<unsigned char> bytes = read_range(file_->path, e.offset, e.size);
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08x", crc32_bitwise(bytes.data(), bytes.size()));
        ASSERT_EQ(f["crc32"].str(), crc) << "frame " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Ffmpeg, VxaviOnMediaTest, ::testing::ValuesIn(all_media()),
                         [](const ::testing::TestParamInfo<Media>& info) {
                             return media_name(info.param);
                         });

class VxaviTest : public ::testing::Test {
protected:
    TempDir dir_;
};

TEST_F(VxaviTest, TextOutputHasOneLinePerFrame) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not on PATH";
    const MediaFile& f = media_file(Media::kClassic);
    ASSERT_FALSE(f.path.empty());
    const CommandResult frames = vxavi("frames " + shell_quote(f.path));
    ASSERT_EQ(frames.exitCode, 0) << frames.err;
    OpenedAvi avi(f.path, false);
    ASSERT_TRUE(avi.ok());
    EXPECT_EQ(std::count(frames.out.begin(), frames.out.end(), '\n'),
              avi.reader()->videoIndex.count + 1);
    const CommandResult info = vxavi("info " + shell_quote(f.path));
    ASSERT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("HASINDEX"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("idx1"), std::string::npos) << info.out;
    EXPECT_NE(info.out.find("01wb"), std::string::npos) << info.out;
}

// File names reach the JSON output intact, whatever characters they hold.
TEST_F(VxaviTest, JsonKeepsUnusualFileNames) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not on PATH";
    const MediaFile& f = media_file(Media::kClassic);
    ASSERT_FALSE(f.path.empty());
    const std::string odd = dir_.file("it's a \"clip\" \\ caf\xC3\xA9\t1.avi");
    fs::copy_file(f.path, odd);
    const CommandResult run = vxavi("info --json " + shell_quote(odd));
    ASSERT_EQ(run.exitCode, 0) << run.err;
    const auto doc = parse_or_fail(run.out);
    ASSERT_TRUE(doc);
    EXPECT_EQ((*doc)["file"].str(), odd);
}

TEST_F(VxaviTest, FilesThatAreNotUsableAviFilesFailWithOneLine) {
    const std::string text = dir_.file("notes.avi");
    std::ofstream(text) << "just some text, long enough to hold a RIFF header\n";
    CommandResult run = vxavi("info " + shell_quote(text));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err, "vxavi: not an AVI file: " + text +
                           " (no RIFF AVI form; Src/VFW/vfw:108 AVIERR_BADFORMAT)\n");

    run = vxavi("frames " + shell_quote(dir_.file("missing.avi")));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.rfind("vxavi: cannot open " + dir_.file("missing.avi") + ": ", 0), 0u)
        << run.err;

    // A form with a header list that stops before its main header.
    const std::string cut = dir_.file("cut.avi");
    std::ofstream(cut, std::ios::binary)
        .write(
            "RIFF\x20\x00\x00\x00"
            "AVI LIST\x04\x00\x00\x00hdrl",
            24);
    run = vxavi("info --json " + shell_quote(cut));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "vxavi: damaged AVI file: " + cut +
                           " (no main header; Src/VFW/vfw:126 AVIERR_BADFORMAT)\n");
}

std::string le32(uint32_t v) {
    return {static_cast<char>(v), static_cast<char>(v >> 8), static_cast<char>(v >> 16),
            static_cast<char>(v >> 24)};
}

std::string riff_chunk(const std::string& id, const std::string& data) {
    return id + le32(static_cast<uint32_t>(data.size())) + data +
           std::string(data.size() % 2, '\0');
}

// The OpenDML loader reports every fault at one site; the message says which.
TEST_F(VxaviTest, AnOpenDmlIndexFaultIsNamedInTheMessage) {
    // One video stream whose "indx" is neither an index of indexes nor of chunks.
    std::string avih(56, '\0'), strh(56, '\0'), strf(40, '\0');
    avih.replace(24, 4, le32(1));  // dwStreams
    strh.replace(0, 4, "vids");
    strf.replace(0, 4, le32(40));
    const std::string indx =
        std::string("\x02\x00\x00\x07", 4) + le32(0) + "00dc" + std::string(12, '\0');
    const std::string strl =
        riff_chunk("strh", strh) + riff_chunk("strf", strf) + riff_chunk("indx", indx);
    const std::string hdrl = riff_chunk("avih", avih) + riff_chunk("LIST", "strl" + strl);
    const std::string form =
        "AVI " + riff_chunk("LIST", "hdrl" + hdrl) + riff_chunk("LIST", "movi");
    const std::string path = dir_.file("bad-indx.avi");
    std::ofstream(path, std::ios::binary) << riff_chunk("RIFF", form);

    const CommandResult run = vxavi("info " + shell_quote(path));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "vxavi: damaged AVI file: " + path +
                           " (bad OpenDML index: stream 0: indx: index type 7 unknown;"
                           " Src/VFW/odml:205 AVIERR_BADFORMAT)\n");
}

// INFO lists nested without end (a few bytes a level) are listed as far as
// real files go, not followed down until the stack runs out.
TEST_F(VxaviTest, TagsStopsInEndlesslyNestedInfoLists) {
    constexpr uint32_t kLevels = 1u << 18;
    std::string bytes;
    auto put = [&](const char* fcc, uint32_t size) {
        bytes.append(fcc, 4);
        for (int k = 0; k < 4; ++k) bytes += static_cast<char>(size >> (8 * k));
    };
    const uint32_t name = 8 + 6;  // "INAM" holding "outer" and its NUL
    put("RIFF", 4 + 8 + 4 + name + 12 * (kLevels - 1));
    bytes += "AVI ";
    for (uint32_t level = 0; level < kLevels; ++level) {
        put("LIST", 4 + 12 * (kLevels - 1 - level) + (level == 0 ? name : 0));
        bytes += "INFO";
        if (level == 0) {
            put("INAM", 6);
            bytes.append("outer", 6);
        }
    }
    const std::string path = dir_.file("nested.avi");
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    const CommandResult run = vxavi("tags " + shell_quote(path));
    ASSERT_FALSE(run.crashed);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("INFO INAM      outer\n"), std::string::npos) << run.out;
}

TEST_F(VxaviTest, UsageErrorsExitWithTwo) {
    for (const char* args : {"", "inspect x.avi", "info", "info a.avi b.avi", "frames --csv a.avi",
                             "frame a.avi 1", "frame a.avi x a.bmp", "frame a.avi 2147483648 a.bmp",
                             "frame a.avi 1 a.bmp --bits 16", "decode a.avi --bits 24"}) {
        const CommandResult run = vxavi(args);
        EXPECT_EQ(run.exitCode, 2) << args;
        EXPECT_NE(run.err.find("usage: vxavi"), std::string::npos) << args;
        EXPECT_EQ(run.out, "") << args;
    }
    const CommandResult help = vxavi("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out.rfind("usage: vxavi", 0), 0u);
}

TEST_F(VxaviTest, CorpusFilesOpenOrFailCleanly) {
    if (!fs::exists(VX_CORPUS_DIR)) GTEST_SKIP() << "no corpus at " << VX_CORPUS_DIR;
    int files = 0;
    for (const auto& entry : fs::directory_iterator(VX_CORPUS_DIR)) {
        if (entry.path().extension() != ".avi") continue;
        ++files;
        const std::string path = entry.path().string();
        OpenedAvi avi(path, true);
        const CommandResult info = vxavi("info --json " + shell_quote(path));
        const CommandResult frames = vxavi("frames --json " + shell_quote(path));
        if (!avi.ok()) {
            EXPECT_EQ(info.exitCode, 1) << path;
            EXPECT_TRUE(one_error_line(info.err)) << info.err;
            continue;
        }
        ASSERT_EQ(info.exitCode, 0) << path << ": " << info.err;
        ASSERT_EQ(frames.exitCode, 0) << path << ": " << frames.err;
        const auto doc = parse_or_fail(frames.out);
        ASSERT_TRUE(doc);
        EXPECT_EQ(doc->size(), avi.reader()->videoIndex.count) << path;
        // What the tool says of streams and indexes is what the library has.
        const auto j = parse_or_fail(info.out);
        ASSERT_TRUE(j) << path;
        AviReader* r = avi.reader();
        SCOPED_TRACE(path);
        ASSERT_EQ((*j)["streams"].size(), aviGetStreamCount(r));
        for (uint32_t n = 0; n < aviGetStreamCount(r); ++n) {
            const AVIStreamHeader& h = aviGetAVIStream(r, n)->header;
            EXPECT_EQ((*j)["streams"][n]["length"].u64(), h.dwLength);
            EXPECT_EQ((*j)["streams"][n]["sampleSize"].u64(), h.dwSampleSize);
        }
        if (r->videoStream >= 0)
            expect_index((*j)["videoIndex"], r, r->videoStream, r->videoIndex, "");
        if (r->audioStream >= 0)
            expect_index((*j)["audioIndex"], r, r->audioStream, r->audioIndex, "");
    }
    EXPECT_GT(files, 0);
}

// Damaged copies of a real file: every run ends with a result or a one-line
// error, never with a crash, and the library survives reading them too.
TEST_F(VxaviTest, DamagedFilesNeverCrash) {
    if (!have_ffmpeg()) GTEST_SKIP() << "ffmpeg and ffprobe are not on PATH";
    const MediaFile& f = media_file(Media::kClassic);
    ASSERT_FALSE(f.path.empty());
    const std::vector<unsigned char> original = read_range(f.path, 0, 1u << 30);
    ASSERT_GT(original.size(), 20000u);
    uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    // Offsets of the 32-bit fields most worth breaking: sizes and counts in
    // the headers, and entries of the idx1 at the end.
    const std::size_t headerEnd = 2048;
    for (int variant = 0; variant < 48; ++variant) {
        std::vector<unsigned char> bytes = original;
        switch (variant % 4) {
            case 0:  // cut short anywhere
                bytes.resize(next() % bytes.size());
                break;
            case 1:  // a header field set to an extreme value
            case 2: {
                const std::size_t at = (next() % (headerEnd / 4)) * 4;
                const uint32_t v = variant % 4 == 1 ? 0xFFFFFFFFu : 0x7FFFFFF0u + next() % 16;
                for (int k = 0; k < 4; ++k)
                    bytes[at + k] = static_cast<unsigned char>(v >> (8 * k));
                break;
            }
            default:  // bytes of the idx1 scrambled
                for (int k = 0; k < 16; ++k)
                    bytes[bytes.size() - 1 - next() % 4000] = next() & 0xFF;
        }
        const std::string path = dir_.file("damaged" + std::to_string(variant) + ".avi");
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));

        for (const char* command : {"info --json ", "frames --json "}) {
            const CommandResult run = vxavi(command + shell_quote(path));
            ASSERT_FALSE(run.crashed) << command << path;
            ASSERT_TRUE(run.exitCode == 0 || run.exitCode == 1) << command << path;
            if (run.exitCode == 1) {
                EXPECT_TRUE(one_error_line(run.err)) << run.err;
            }
            if (!run.out.empty()) {
                EXPECT_TRUE(parse_or_fail(run.out)) << command << path;
            }
        }

        OpenedAvi avi(path, true);
        if (!avi.ok()) continue;
        AviReader* r = avi.reader();
        std::vector<unsigned char> buffer(1u << 20);
        for (uint32_t i = 0; i < r->videoIndex.count; ++i) {
            uint32_t size = static_cast<uint32_t>(buffer.size());
            aviReadFrame(r, static_cast<int32_t>(i), buffer.data(), &size, nullptr);
            unsigned char* data = nullptr;
            aviReadFramePtr(r, static_cast<int32_t>(i), &data, &size, nullptr, 0);
            aviReadFramePtrRelease(data);
        }
        for (uint32_t start = 0, count = 1; count != 0;) {
            uint32_t size = static_cast<uint32_t>(buffer.size());
            if (aviReadAudSamples(r, start, &count, buffer.data(), &size) != 0) break;
            start += count;
        }
    }
}

}  // namespace
}  // namespace vxtest
