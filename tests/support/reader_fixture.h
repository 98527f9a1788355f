// Shared fixture of the reader's unit tests: opens built files and reads the
// host's error log. Test-framework code, so header-only and included only
// by the tests.
#pragma once

#include <VexaInfo.h>
#include <gtest/gtest.h>
#include <vxmedia/avireader.h>

#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "support/riff_builder.h"
#include "util/error_sites.h"

namespace vxtest {

inline constexpr const char* kVfw = "Src/VFW/vfw";
inline constexpr const char* kOdml = "Src/VFW/odml";

namespace site = vx::site;

struct LogRecord {
    LogRecord(int32_t c, std::string s, int32_t l) : code(c), source(std::move(s)), line(l) {}
    // The record the library makes when it reports `code` at `where`.
    LogRecord(int32_t c, const vx::ErrorSite& where) : LogRecord(c, where.source, where.line) {}

    int32_t code;
    std::string source;
    int32_t line;
    bool operator==(const LogRecord&) const = default;
};
using Log = std::vector<LogRecord>;

inline void PrintTo(const LogRecord& r, std::ostream* os) {
    *os << r.source << ":" << r.line << " code=0x" << std::hex << static_cast<uint32_t>(r.code)
        << std::dec;
}

inline Log host_log() {
    Log log;
    for (uint32_t i = 0; i < VxHostErrorCount(); ++i) {
        VxHostErrorRecord r{};
        if (VxHostErrorGet(i, &r)) log.push_back({r.code, r.source, r.line});
    }
    return log;
}

class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        VxHostErrorClear();
        VxHostClearFaults();
    }
    void TearDown() override {
        close();
        VxHostClearFaults();
    }

    // Writes `bytes` to a fresh file and opens it; `withName` passes the
    // file's path, which makes frame reads go through the block cache.
    VXRESULT open(const Bytes& bytes, bool withName = false) {
        close();
        file_ = std::make_unique<TempAviFile>(bytes);
        return open_file(withName ? file_->path().c_str() : nullptr);
    }
    // Opens the current file again (after close()).
    VXRESULT open_file(const char* name) {
        // Never dereferenced: a failed open must replace it with null.
        AviReader* out = reinterpret_cast<AviReader*>(uintptr_t{8});
        const VXRESULT rc = aviOpen(&out, file_->handle(), name);
        if (rc != 0) {
            EXPECT_EQ(out, nullptr) << "a failed open must store null";
            out = nullptr;
        }
        reader_ = out;
        return rc;
    }
    void close() {
        if (reader_ != nullptr) aviClose(reader_);
        reader_ = nullptr;
    }

    AviReader* reader_ = nullptr;
    std::unique_ptr<TempAviFile> file_;
};

}  // namespace vxtest
