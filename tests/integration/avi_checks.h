// The comparisons shared by the generated-file, large-file and corpus tests:
// every sample the reader delivers against ffprobe's packets.
#pragma once

#include <string>
#include <vector>

#include "test_support.h"

namespace vxtest {

struct CheckOptions {
    // Compare the key-frame flag (not for rebuilt indexes, which have none).
    bool keyFlags = true;
    // Also read every frame through aviReadFramePtr.
    bool pointers = true;
};

// Every video index entry read by copy (and by pointer) with the reader
// opened with or without the file name; non-empty entries must equal
// ffprobe's packets of the video stream one by one (position, size, MD5,
// key flag), empty ones have no packet.
void check_video(const std::string& path, const std::vector<Packet>& packets, bool withName,
                 const CheckOptions& options = {});

// Every audio index entry read with aviReadData (by its samples), and the
// whole stream read with aviReadAudSamples in buffers that do not line up
// with the chunks, against ffprobe's packets of the audio stream.
// With `keyFlags`, every audio entry must carry the key flag that ffprobe
// reports for its packet.
// `bySampleNumber` false: the header counts the audio in units that are neither
// blocks nor chunks, so entries are compared as the index gives them.
void check_audio(const std::string& path, const std::vector<Packet>& packets, bool keyFlags,
                 bool bySampleNumber = true);

}  // namespace vxtest
