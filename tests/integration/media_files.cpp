#include "media_files.h"

#include <unistd.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>

namespace vxtest {

namespace {

struct Recipe {
    Media media;
    const char* name;
    const char* ffmpeg;  // arguments between the inputs and the output
    const char* kind;
    bool vbrAudio = false;
};

const char* const kVideo = "-f lavfi -i testsrc=size=320x240:rate=25";
const char* const kTone = "-f lavfi -i sine=frequency=440:sample_rate=44100";

const Recipe kRecipes[] = {
    {Media::kClassic, "classic", "-t 3 -c:v mpeg4 -g 12 -c:a pcm_s16le -ac 2", "idx1"},
    {Media::kAudioFirst, "audio_first", "-t 2 -map 1:a -map 0:v -c:v mpeg4 -g 10 -c:a pcm_s16le",
     "idx1"},
    {Media::kThreeAudio, "three_audio",
     "-f lavfi -i sine=frequency=880:sample_rate=22050 "
     "-f lavfi -i sine=frequency=220:sample_rate=48000 "
     "-t 2 -map 0:v -map 1:a -map 2:a -map 3:a -c:v mpeg4 -g 25 -c:a pcm_s16le",
     "idx1"},
    {Media::kBigFrames, "big_frames", "", "idx1"},
    {Media::kNoIdx1, "no_idx1", "-t 3 -c:v mpeg4 -g 12 -c:a pcm_s16le -ac 2", "rebuilt"},
    {Media::kPiped, "piped", "-t 2 -c:v mpeg4 -g 12 -c:a pcm_s16le -ac 2", "rebuilt"},
    {Media::kMp3Mono44, "mp3_mono_44k", "-t 3 -c:v mpeg4 -g 12 -c:a libmp3lame -b:a 32k -ac 1",
     "idx1", true},
    {Media::kMp3Stereo44, "mp3_stereo_44k",
     "-t 3 -c:v mpeg4 -g 12 -c:a libmp3lame -b:a 128k -ac 2", "idx1", true},
    {Media::kMp3Mono48, "mp3_mono_48k",
     "-t 3 -c:v mpeg4 -g 12 -c:a libmp3lame -ar 48000 -b:a 48k -ac 1", "idx1", true},
    {Media::kMp3Stereo48, "mp3_stereo_48k",
     "-t 3 -c:v mpeg4 -g 12 -c:a libmp3lame -ar 48000 -abr 1 -b:a 96k -ac 2", "idx1", true},
};

std::string command_for(const Recipe& r, const std::string& out) {
    const std::string ff = "ffmpeg -v error -nostdin -y ";
    switch (r.media) {
        case Media::kBigFrames:
            return ff +
                   "-f lavfi -i testsrc=size=1024x768:rate=25 -frames:v 10 -c:v rawvideo "
                   "-pix_fmt bgr24 " +
                   shell_quote(out);
        case Media::kPiped:
            return ff + kVideo + " " + kTone + " " + r.ffmpeg + " -f avi - > " + shell_quote(out);
        default:
            return ff + kVideo + " " + kTone + " " + r.ffmpeg + " " + shell_quote(out);
    }
}

struct Store {
    std::unique_ptr<TempDir> dir;
    std::map<Media, MediaFile> files;
};

Store& store() {
    static Store s;
    return s;
}

// A run stopped from outside (a test timeout) must not leave 1.2 GB behind.
char g_largePath[4096];

void remove_large_file_and_die(int sig) {
    if (g_largePath[0] != '\0') ::unlink(g_largePath);
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

void guard_large_file(const std::string& path) {
    if (path.size() >= sizeof g_largePath) return;
    std::memcpy(g_largePath, path.c_str(), path.size() + 1);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGABRT}) std::signal(sig, remove_large_file_and_die);
}

}  // namespace

bool have_ffmpeg() {
    static const bool have = have_program("ffmpeg") && have_program("ffprobe");
    return have;
}

std::vector<Media> all_media() {
    std::vector<Media> out;
    for (const Recipe& r : kRecipes) out.push_back(r.media);
    return out;
}

std::string media_name(Media media) {
    for (const Recipe& r : kRecipes)
        if (r.media == media) return r.name;
    return "unknown";
}

const MediaFile& media_file(Media media) {
    Store& s = store();
    if (const auto it = s.files.find(media); it != s.files.end()) return it->second;
    if (!s.dir) s.dir = std::make_unique<TempDir>();
    const Recipe* recipe = nullptr;
    for (const Recipe& r : kRecipes)
        if (r.media == media) recipe = &r;
    MediaFile f;
    f.media = media;
    f.name = recipe->name;
    f.indexKind = recipe->kind;
    f.vbrAudio = recipe->vbrAudio;
    const std::string path = s.dir->file(f.name + ".avi");
    bool made = run_command(command_for(*recipe, path)).exitCode == 0;
    if (made && media == Media::kNoIdx1) made = strip_idx1(path);
    if (made) {
        f.path = path;
        f.packets = ffprobe_packets(path);
        f.streams = ffprobe_streams(path);
    }
    return s.files.emplace(media, std::move(f)).first->second;
}

std::string make_large_avi(const TempDir& dir, std::string* whyNot) {
    std::error_code ec;
    const auto space = std::filesystem::space(dir.path(), ec);
    if (ec || space.available < (3ull << 29)) {
        *whyNot = "less than 1.5 GiB free in " + dir.path();
        return {};
    }
    const std::string out = dir.file("large.avi");
    guard_large_file(out);
    const CommandResult r = run_command(
        "ffmpeg -v error -nostdin -y -f lavfi -i testsrc=size=640x480:rate=25 -frames:v " +
        std::to_string(kLargeFrames) + " -c:v rawvideo -pix_fmt bgr24 " + shell_quote(out));
    if (r.exitCode != 0) {
        *whyNot = "ffmpeg failed: " + r.err;
        return {};
    }
    return out;
}

void large_avi_removed() { g_largePath[0] = '\0'; }

}  // namespace vxtest
