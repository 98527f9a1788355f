// The audio of vxavi convert: the first audio stream copied chunk by chunk,
// or converted through an installed audio codec, written after each video
// frame up to that frame's end time.
#pragma once

#include <vxmedia/avireader.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "avi_file.h"
#include "avi_output.h"
#include "commands.h"

namespace vxavi {

class AudioConverter;

struct AudioPlan {
    bool present = false;
    AVIStreamHeader header{};
    std::vector<uint8_t> format;  // the written stream's format
    uint32_t sourceBytesPerSecond = 0;
    double frameSeconds = 0;  // of one video frame
    uint32_t nextChunk = 0;
    uint64_t sourceBytes = 0;                   // read so far
    uint32_t blockAlign = 1;                    // of the written stream
    std::shared_ptr<AudioConverter> converter;  // null: copied
};

// False after printing why the audio cannot be written as asked.
bool plan_audio(const AviFile& avi, const Options& options, AudioPlan* plan);
// Writes the source's audio up to the end of video frame `frames` (a count).
bool write_audio_until(const AviFile& avi, AudioPlan& plan, AviOutput& out, int32_t stream,
                       uint64_t frames, uint64_t* length);
// Writes the rest, and what the converter still holds.
bool finish_audio(const AviFile& avi, AudioPlan& plan, AviOutput& out, int32_t stream,
                  uint64_t* length);

}  // namespace vxavi
