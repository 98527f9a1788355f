// Host globals and the host's indexed UI strings.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <iterator>
#include <mutex>
#include <string>

#include "host_internal.h"

namespace {

// Labels of the AVI analysis report, 1-based. Entry 16 is the notice put at
// the end of a report that had to be cut short.
constexpr const char* kReportStrings[] = {
    "Video stream",            // 1
    "Audio stream",            // 2
    "Compression: ",           // 3
    "Frame rate: ",            // 4
    "Frames: ",                // 5
    "Duration: ",              // 6
    "Data rate: ",             // 7
    "Sample rate: ",           // 8
    "Channels: ",              // 9
    "Bits per sample: ",       // 10
    "Key frames: ",            // 11
    "Timecode: ",              // 12
    "Reel name: ",             // 13
    "Comment: ",               // 14
    "File size: ",             // 15
    "... (report truncated)",  // 16
    "Width: ",                 // 17
    "Height: ",                // 18
    "Bit depth: ",             // 19
    "Pixel aspect ratio: ",    // 20
    "Field order: ",           // 21
    "Interleave: ",            // 22
    "Audio format: ",          // 23
    "Block align: ",           // 24
    "Samples: ",               // 25
    "Streams: ",               // 26
    "Index: ",                 // 27
    "OpenDML index",           // 28
    "Classic index",           // 29
    "No index",                // 30
    "Largest frame: ",         // 31
    "Smallest frame: ",        // 32
    "Average frame: ",         // 33
    "Dropped frames: ",        // 34
    "Suggested buffer: ",      // 35
    "Created by: ",            // 36
    "Creation date: ",         // 37
    "Text stream",             // 38
    "Unknown stream",          // 39
    "File name: ",             // 40
};
constexpr int kReportStringCount = static_cast<int>(std::size(kReportStrings));

std::mutex g_globalsMutex;
// Every value handed out stays valid for the life of the process; a deque
// never moves its elements on push_back.
std::deque<std::string> g_pluginDirs;

const char* PluginDir() {
    const char* env = std::getenv("VEXAINFO_PLUGIN_DIR");
    if (!env || !*env) return nullptr;
    std::string dir(env);
    // Drop trailing separators, but keep a bare root as it is.
    while (dir.size() > 1 && (dir.back() == '/' || dir.back() == '\\')) dir.pop_back();

    std::lock_guard<std::mutex> lock(g_globalsMutex);
    for (const std::string& known : g_pluginDirs) {
        if (known == dir) return known.c_str();
    }
    try {
        g_pluginDirs.push_back(std::move(dir));
    } catch (...) {
        return nullptr;
    }
    return g_pluginDirs.back().c_str();
}

}  // namespace

VXHOSTAPI void* VXCALL GetAGlobal(int32_t index) {
    switch (index) {
        case VXHOST_GLOBAL_PLUGIN_DIR:
            return const_cast<char*>(PluginDir());
        case VXHOST_GLOBAL_DRAWDIB:  // no DrawDib outside Windows
        default:
            return nullptr;
    }
}

VXHOSTAPI void VXCALL GetIndString(char* buffer, int16_t listId, int16_t index) {
    if (!buffer) return;
    buffer[0] = '\0';
    if (listId != VXHOST_STRLIST_REPORT || index < 1 || index > kReportStringCount) return;
    const char* text = kReportStrings[index - 1];
    const size_t length = std::min<size_t>(std::strlen(text), 255);
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
}
