// AVI files written by ffmpeg during the test run, each made on first use in
// a temporary folder of the process (so that a run of one test makes only
// what it needs) and removed at exit.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "test_support.h"

namespace vxtest {

enum class Media {
    kClassic,     // mpeg4 + PCM with idx1
    kAudioFirst,  // the audio stream before the video stream
    kThreeAudio,  // video and three audio streams
    kBigFrames,   // raw frames larger than the 1 MiB cache block
    kNoIdx1,      // kClassic without its idx1
    kPiped,       // written to a pipe: sizes and lengths never fixed up
    // mpeg4 + MP3: variable-rate audio, one MP3 frame per chunk
    kMp3Mono44,
    kMp3Stereo44,
    kMp3Mono48,
    kMp3Stereo48,
};

struct MediaFile {
    Media media;
    std::string name;
    std::string path;  // empty when making it failed
    std::vector<Packet> packets;
    std::vector<ProbeStream> streams;
    std::string indexKind;  // what vxavi should call the index
    bool vbrAudio = false;  // a sample of its audio is a chunk, not a block
};

bool have_ffmpeg();
const MediaFile& media_file(Media media);
std::vector<Media> all_media();
std::string media_name(Media media);
// For test names and failure messages.
inline void PrintTo(Media media, std::ostream* os) { *os << media_name(media); }

// A raw-video file past 1 GiB, which ffmpeg continues in an "AVIX" segment
// and indexes with OpenDML super and standard indexes only. Too big to keep
// for the whole run: each suite makes it in a folder of its own and removes
// it when done.
constexpr uint32_t kLargeFrames = 1300;
constexpr uint32_t kLargeFrameBytes = 640 * 480 * 3;
// The file's path in `dir`, or empty with `*whyNot` set.
std::string make_large_avi(const TempDir& dir, std::string* whyNot);
// Forgets the file that make_large_avi made, once its folder is gone.
void large_avi_removed();

}  // namespace vxtest
