// Shared helpers of the chunk-editing tests: files as bytes, an independent
// structural check of a RIFF file, and the chunk exports called on a path.
#pragma once

#include <VexaInfo.h>
#include <gtest/gtest.h>
#include <vxmedia/vxmedia.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "support/riff_builder.h"

namespace vxtest {

inline Bytes read_whole(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every chunk lies inside its list, every list holds at least its type, and
// the RIFF forms follow each other up to the file's end exactly. Returns an
// empty string or what is wrong.
inline std::string check_well_formed(const Bytes& b) { return RiffView(b).fault(); }

// A file opened read-write for the exports, closed when the object goes.
class Opened {
public:
    explicit Opened(const std::string& path) : h_(open_file(path, Access::kReadWrite)) {}
    ~Opened() { close_file(h_); }
    Opened(const Opened&) = delete;
    Opened& operator=(const Opened&) = delete;
    HANDLE get() const { return h_; }
    operator HANDLE() const { return h_; }  // NOLINT: implicit on purpose

private:
    HANDLE h_;
};

// Texts longer than their field are cut, as a host's text box would.
inline void put_text(char* field, std::size_t size, const char* text) {
    std::memcpy(field, text, std::min(std::strlen(text), size - 1));
}

inline AviTimeData time_data(const char* tcO, const char* tcA, const char* rnO, const char* rnA,
                             const char* comment) {
    AviTimeData t{};
    put_text(t.tc_O, sizeof t.tc_O, tcO);
    put_text(t.tc_A, sizeof t.tc_A, tcA);
    put_text(t.rn_O, sizeof t.rn_O, rnO);
    put_text(t.rn_A, sizeof t.rn_A, rnA);
    put_text(t.cmnt, sizeof t.cmnt, comment);
    return t;
}

struct TimeTexts {
    char tcO[18], tcA[18], rnO[40], rnA[40], cmnt[256];
};
inline TimeTexts get_texts(HANDLE h) {
    TimeTexts t;
    std::memset(&t, 0x55, sizeof t);
    vfwGetTimeCode(h, t.tcO, t.tcA, t.rnO, t.rnA, t.cmnt);
    return t;
}

// A small file: a header list with one video stream, an optional "JUNQ"
// filler of `filler` data bytes behind it, and a movie list of 3 frames.
inline Bytes small_avi(int filler, Fcc formType = "AVI ") {
    RiffBuilder b;
    b.riff(formType);
    b.list("hdrl");
    MainAVIHeader m{};
    m.dwStreams = 1;
    b.avih(m);
    b.list("strl");
    AVIStreamHeader s{};
    s.fccType = Fcc("vids");
    s.dwRate = 25;
    s.dwScale = 1;
    s.dwLength = 3;
    b.strh(s);
    b.strf(bitmap_info(16, 16));
    b.end();
    b.end();
    if (filler >= 0) b.chunk("JUNQ", Bytes(static_cast<std::size_t>(filler), 0));
    b.list("movi");
    for (int i = 0; i < 3; ++i) b.chunk("00dc", pattern(100 + i, static_cast<uint8_t>(i)));
    b.end();
    return b.finish();
}

}  // namespace vxtest
