// The places the library reports failures from, as the host's error log
// shows them: a source identifier and a line number. Both are what the host
// logs and what its users look up, so an entry's values never change; new
// failures get new entries. Every report names one of the constants below;
// the vxavi tool takes its descriptions from the same table.
#pragma once

#include <cstddef>
#include <iterator>
#include <string_view>

namespace vx {

inline constexpr const char* kSrcVfw = "Src/VFW/vfw";
inline constexpr const char* kSrcOdml = "Src/VFW/odml";
inline constexpr const char* kSrcAviEasy = "Src/VFW/VfwAviEasy";
inline constexpr const char* kSrcVfwCodec = "Src/VFW/vfwcodec";

struct ErrorSite {
    const char* source;   // the identifier the host logs
    int line;             // the number the host logs with it
    const char* name;     // the constant's name below, as code spells it after site::
    const char* meaning;  // what failed, in a few words for a user
};

inline constexpr ErrorSite kErrorSites[] = {
    // Opening a file (aviOpen).
    {kSrcVfw, 76, "vfw::kOpen", "no place to return the reader, or no memory for it"},
    {kSrcVfw, 81, "vfw::kRewind", "cannot move to the start of the file"},
    {kSrcVfw, 97, "vfw::kFileSize", "cannot read the file"},
    {kSrcVfw, 108, "vfw::kNoRiffForm", "no RIFF AVI form"},
    {kSrcVfw, 117, "vfw::kNoHeaderList", "no header list"},
    {kSrcVfw, 126, "vfw::kNoMainHeader", "no main header"},
    {kSrcVfw, 136, "vfw::kMainHeaderCut", "main header cut short"},
    {kSrcVfw, 148, "vfw::kStreamCount", "stream count is 0 or above 255"},
    {kSrcVfw, 155, "vfw::kStreamMemory", "no memory for the stream records"},
    {kSrcVfw, 173, "vfw::kFewerStreamLists", "fewer stream lists than the main header declares"},
    {kSrcVfw, 200, "vfw::kMoreStreamLists", "more stream lists than the main header declares"},
    {kSrcVfw, 233, "vfw::kNoStreamHeader", "a stream has no stream header"},
    {kSrcVfw, 238, "vfw::kNoFormat", "a stream has no format"},
    {kSrcVfw, 289, "vfw::kNoMovieList", "no movie list"},
    {kSrcVfw, 302, "vfw::kIndex", "unreadable index"},
    {kSrcVfw, 352, "vfw::kStreamHeaderCut", "stream header cut short"},
    {kSrcVfw, 360, "vfw::kFormatMemory", "no memory for a stream format"},
    {kSrcVfw, 363, "vfw::kFormatCut", "stream format cut short"},
    {kSrcVfw, 375, "vfw::kCodecDataMemory", "no memory for a stream's codec data"},
    {kSrcVfw, 378, "vfw::kCodecDataCut", "codec data cut short"},
    {kSrcVfw, 389, "vfw::kOdmlHeaderCut", "OpenDML header cut short"},
    {kSrcVfw, 409, "vfw::kOdmlIndex", "unreadable OpenDML index"},
    {kSrcVfw, 459, "vfw::kIdx1Read", "unreadable idx1 index"},
    {kSrcVfw, 477, "vfw::kIdx1Memory", "no memory for the index"},
    // Reading.
    {kSrcVfw, 809, "vfw::kSummary", "no index for the stream asked for"},
    {kSrcVfw, 858, "vfw::kAudioSamples", "no audio stream, or a sample past its index"},
    {kSrcVfw, 901, "vfw::kAudioVariable", "several samples of variable-size audio asked for"},
    {kSrcVfw, 906, "vfw::kAudioBuffer", "audio samples larger than the buffer"},
    {kSrcVfw, 940, "vfw::kAudioRead", "audio sample data outside the file"},
    {kSrcVfw, 1002, "vfw::kDataStream", "no reader, or no index for the stream asked for"},
    {kSrcVfw, 1005, "vfw::kDataBeforeStart", "samples before the stream's start asked for"},
    {kSrcVfw, 1008, "vfw::kDataPastEnd", "samples past the stream's end asked for"},
    {kSrcVfw, 1050, "vfw::kKeyFrame", "no video index to find a key frame in"},
    {kSrcVfw, 1053, "vfw::kKeyFrameBeforeStart", "a frame before the stream's start asked for"},
    {kSrcVfw, 1119, "vfw::kDataNotIndexed", "a sample past the stream's index"},
    {kSrcVfw, 1172, "vfw::kDataVariable", "several samples of a variable-size stream asked for"},
    {kSrcVfw, 1182, "vfw::kDataBuffer", "samples larger than the buffer"},
    {kSrcVfw, 1222, "vfw::kDataRead", "sample data outside the file"},
    {kSrcVfw, 1240, "vfw::kCloseArgs", "no reader to close"},
    {kSrcVfw, 1250, "vfw::kSetFileRefArgs", "no reader to give the file to"},
    {kSrcVfw, 1260, "vfw::kFrameDataArgs", "no reader or no place for the frame table"},
    {kSrcVfw, 1359, "vfw::kFrameRead", "no video frame there, or its data outside the file"},
    {kSrcVfw, 1420, "vfw::kFramePointer", "no video frame there, or its data outside the file"},

    {kSrcOdml, 205, "odml::kIndex", "bad OpenDML index"},

    // Writing.
    {kSrcAviEasy, 287, "easy::kOpen", "cannot create the file, or no memory for the writer"},
    {kSrcAviEasy, 334, "easy::kAddStream", "no memory for a stream's format"},
    {kSrcAviEasy, 479, "easy::kBadStream", "no such stream to write to"},
    {kSrcAviEasy, 483, "easy::kFirstSegment", "cannot write the headers and first movie list"},
    {kSrcAviEasy, 529, "easy::kExtension", "cannot start an extension segment"},
    {kSrcAviEasy, 553, "easy::kChunkHeader", "cannot write a chunk header"},
    {kSrcAviEasy, 572, "easy::kChunkData", "cannot write chunk data"},
    {kSrcAviEasy, 602, "easy::kIndexGrow", "no memory for more index entries"},
    {kSrcAviEasy, 614, "easy::kChunkEnd", "cannot complete a chunk"},
    {kSrcAviEasy, 644, "easy::kRecordEnd", "cannot complete an interleave record"},
    {kSrcAviEasy, 831, "easy::kClose", "cannot complete the file"},
    {kSrcAviEasy, 1250, "easy::kSegmentEnd", "cannot complete a segment"},

    // Decoding frames.
    {kSrcVfwCodec, 81, "codec::kNoVideo", "no video stream to decode"},
    {kSrcVfwCodec, 93, "codec::kOutputFormat", "the codec offers no output format"},
    {kSrcVfwCodec, 111, "codec::kPictureMemory", "no memory for decoded pictures"},
    {kSrcVfwCodec, 134, "codec::kNoCodec", "no codec for the stream's handler"},
    {kSrcVfwCodec, 144, "codec::kCompressed", "compressed frames and no codec for them"},
    {kSrcVfwCodec, 157, "codec::kImageMemory", "no memory for pictures"},
    {kSrcVfwCodec, 266, "codec::kCallMemory", "no memory for the picture handed out"},
    {kSrcVfwCodec, 294, "codec::kReadMemory", "no memory for frame data"},
    {kSrcVfwCodec, 310, "codec::kReadGrow", "no memory for larger frame data"},
    {kSrcVfwCodec, 337, "codec::kDecompress", "the codec could not decode a frame"},
};

// One entry per logged (source, line) and per name, each with a meaning: the
// log names a place, and the tool describes it from here.
consteval bool sites_are_distinct() {
    for (std::size_t i = 0; i < std::size(kErrorSites); ++i) {
        const ErrorSite& a = kErrorSites[i];
        if (*a.meaning == '\0' || *a.name == '\0') return false;
        for (std::size_t j = i + 1; j < std::size(kErrorSites); ++j) {
            const ErrorSite& b = kErrorSites[j];
            if (std::string_view(a.name) == b.name) return false;
            if (a.line == b.line && std::string_view(a.source) == b.source) return false;
        }
    }
    return true;
}
static_assert(sites_are_distinct(), "error sites must be unique and described");

// The entry of a name; a name the table lacks does not compile.
consteval const ErrorSite& named_site(std::string_view name) {
    for (const ErrorSite& s : kErrorSites)
        if (name == s.name) return s;
    throw "no such error site";
}

// The entry the host logged, or null.
constexpr const ErrorSite* find_error_site(std::string_view source, int line) {
    for (const ErrorSite& s : kErrorSites)
        if (s.line == line && source == s.source) return &s;
    return nullptr;
}

namespace site::vfw {
inline constexpr const ErrorSite& kOpen = named_site("vfw::kOpen");
inline constexpr const ErrorSite& kRewind = named_site("vfw::kRewind");
inline constexpr const ErrorSite& kFileSize = named_site("vfw::kFileSize");
inline constexpr const ErrorSite& kNoRiffForm = named_site("vfw::kNoRiffForm");
inline constexpr const ErrorSite& kNoHeaderList = named_site("vfw::kNoHeaderList");
inline constexpr const ErrorSite& kNoMainHeader = named_site("vfw::kNoMainHeader");
inline constexpr const ErrorSite& kMainHeaderCut = named_site("vfw::kMainHeaderCut");
inline constexpr const ErrorSite& kStreamCount = named_site("vfw::kStreamCount");
inline constexpr const ErrorSite& kStreamMemory = named_site("vfw::kStreamMemory");
inline constexpr const ErrorSite& kFewerStreamLists = named_site("vfw::kFewerStreamLists");
inline constexpr const ErrorSite& kMoreStreamLists = named_site("vfw::kMoreStreamLists");
inline constexpr const ErrorSite& kNoStreamHeader = named_site("vfw::kNoStreamHeader");
inline constexpr const ErrorSite& kNoFormat = named_site("vfw::kNoFormat");
inline constexpr const ErrorSite& kNoMovieList = named_site("vfw::kNoMovieList");
inline constexpr const ErrorSite& kIndex = named_site("vfw::kIndex");
inline constexpr const ErrorSite& kStreamHeaderCut = named_site("vfw::kStreamHeaderCut");
inline constexpr const ErrorSite& kFormatMemory = named_site("vfw::kFormatMemory");
inline constexpr const ErrorSite& kFormatCut = named_site("vfw::kFormatCut");
inline constexpr const ErrorSite& kCodecDataMemory = named_site("vfw::kCodecDataMemory");
inline constexpr const ErrorSite& kCodecDataCut = named_site("vfw::kCodecDataCut");
inline constexpr const ErrorSite& kOdmlHeaderCut = named_site("vfw::kOdmlHeaderCut");
inline constexpr const ErrorSite& kOdmlIndex = named_site("vfw::kOdmlIndex");
inline constexpr const ErrorSite& kIdx1Read = named_site("vfw::kIdx1Read");
inline constexpr const ErrorSite& kIdx1Memory = named_site("vfw::kIdx1Memory");
inline constexpr const ErrorSite& kSummary = named_site("vfw::kSummary");
inline constexpr const ErrorSite& kAudioSamples = named_site("vfw::kAudioSamples");
inline constexpr const ErrorSite& kAudioVariable = named_site("vfw::kAudioVariable");
inline constexpr const ErrorSite& kAudioBuffer = named_site("vfw::kAudioBuffer");
inline constexpr const ErrorSite& kAudioRead = named_site("vfw::kAudioRead");
inline constexpr const ErrorSite& kDataStream = named_site("vfw::kDataStream");
inline constexpr const ErrorSite& kDataBeforeStart = named_site("vfw::kDataBeforeStart");
inline constexpr const ErrorSite& kDataPastEnd = named_site("vfw::kDataPastEnd");
inline constexpr const ErrorSite& kKeyFrame = named_site("vfw::kKeyFrame");
inline constexpr const ErrorSite& kKeyFrameBeforeStart = named_site("vfw::kKeyFrameBeforeStart");
inline constexpr const ErrorSite& kDataNotIndexed = named_site("vfw::kDataNotIndexed");
inline constexpr const ErrorSite& kDataVariable = named_site("vfw::kDataVariable");
inline constexpr const ErrorSite& kDataBuffer = named_site("vfw::kDataBuffer");
inline constexpr const ErrorSite& kDataRead = named_site("vfw::kDataRead");
inline constexpr const ErrorSite& kCloseArgs = named_site("vfw::kCloseArgs");
inline constexpr const ErrorSite& kSetFileRefArgs = named_site("vfw::kSetFileRefArgs");
inline constexpr const ErrorSite& kFrameDataArgs = named_site("vfw::kFrameDataArgs");
inline constexpr const ErrorSite& kFrameRead = named_site("vfw::kFrameRead");
inline constexpr const ErrorSite& kFramePointer = named_site("vfw::kFramePointer");
}  // namespace site::vfw

namespace site::odml {
// Every failure of the OpenDML index loader; the reason goes to the failure
// detail (util/failure_detail.h).
inline constexpr const ErrorSite& kIndex = named_site("odml::kIndex");
}  // namespace site::odml

namespace site::easy {
inline constexpr const ErrorSite& kOpen = named_site("easy::kOpen");
inline constexpr const ErrorSite& kAddStream = named_site("easy::kAddStream");
inline constexpr const ErrorSite& kBadStream = named_site("easy::kBadStream");
inline constexpr const ErrorSite& kFirstSegment = named_site("easy::kFirstSegment");
inline constexpr const ErrorSite& kExtension = named_site("easy::kExtension");
inline constexpr const ErrorSite& kChunkHeader = named_site("easy::kChunkHeader");
inline constexpr const ErrorSite& kChunkData = named_site("easy::kChunkData");
inline constexpr const ErrorSite& kIndexGrow = named_site("easy::kIndexGrow");
inline constexpr const ErrorSite& kChunkEnd = named_site("easy::kChunkEnd");
inline constexpr const ErrorSite& kRecordEnd = named_site("easy::kRecordEnd");
inline constexpr const ErrorSite& kClose = named_site("easy::kClose");
inline constexpr const ErrorSite& kSegmentEnd = named_site("easy::kSegmentEnd");
}  // namespace site::easy

namespace site::codec {
inline constexpr const ErrorSite& kNoVideo = named_site("codec::kNoVideo");
inline constexpr const ErrorSite& kOutputFormat = named_site("codec::kOutputFormat");
inline constexpr const ErrorSite& kPictureMemory = named_site("codec::kPictureMemory");
inline constexpr const ErrorSite& kNoCodec = named_site("codec::kNoCodec");
inline constexpr const ErrorSite& kCompressed = named_site("codec::kCompressed");
inline constexpr const ErrorSite& kImageMemory = named_site("codec::kImageMemory");
inline constexpr const ErrorSite& kCallMemory = named_site("codec::kCallMemory");
inline constexpr const ErrorSite& kReadMemory = named_site("codec::kReadMemory");
inline constexpr const ErrorSite& kReadGrow = named_site("codec::kReadGrow");
inline constexpr const ErrorSite& kDecompress = named_site("codec::kDecompress");
}  // namespace site::codec

}  // namespace vx
