// RecordAVIError and its bounded in-memory log, optionally mirrored to a file
// named by VEXAINFO_ERROR_LOG for runs of the command-line tool.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>

#include "host_internal.h"

namespace {

// Enough for any single operation's trail; old records fall off the front.
constexpr size_t kMaxRecords = 4096;

std::mutex g_mutex;
std::deque<VxHostErrorRecord> g_records;

}  // namespace

VXHOSTAPI int32_t VXCALL RecordAVIError(int32_t code, const char* source, int32_t line) {
    VxHostErrorRecord record{};
    record.code = code;
    record.line = line;
    if (source) {
        std::strncpy(record.source, source, sizeof(record.source) - 1);
        record.source[sizeof(record.source) - 1] = '\0';
    }

    std::lock_guard<std::mutex> lock(g_mutex);
    try {
        if (g_records.size() >= kMaxRecords) g_records.pop_front();
        g_records.push_back(record);
    } catch (...) {
        // Out of memory: the caller still gets its code back.
    }
    if (const char* path = std::getenv("VEXAINFO_ERROR_LOG"); path && *path) {
        // Binary: the same line endings on every system.
        if (std::FILE* out = std::fopen(path, "ab")) {
            std::fprintf(out, "%s:%d code=0x%08X\n", record.source, static_cast<int>(line),
                         static_cast<unsigned>(code));
            std::fclose(out);
        }
    }
    return code;
}

VXHOSTAPI uint32_t VXCALL VxHostErrorCount(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    return static_cast<uint32_t>(g_records.size());
}

VXHOSTAPI int32_t VXCALL VxHostErrorGet(uint32_t index, VxHostErrorRecord* record) {
    if (!record) return 0;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (index >= g_records.size()) return 0;
    *record = g_records[index];
    return 1;
}

VXHOSTAPI void VXCALL VxHostErrorClear(void) {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_records.clear();
}
