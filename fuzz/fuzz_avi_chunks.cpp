// libFuzzer target for the chunk map and the auxiliary-chunk exports: each
// input is a file; the map is walked, every getter is called on it, and one
// setter of each kind runs on it.
//
// Besides the sanitizers: every record of the map must lie where the walk
// promises (its parent's end inside the file), and a setter that reports
// success must leave a file whose map still finds what was set.
#include <VexaInfo.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vxmedia/vxmedia.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "chunks/chunk_tree.h"

namespace {

std::string g_name;
int g_fd = -1;

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "fuzz_avi_chunks: %s\n", what);
    std::abort();
}
void check(bool ok, const char* what) {
    if (!ok) fail(what);
}

void remove_file() { ::unlink(g_name.c_str()); }

void setup_file() {
    const char* dir = std::getenv("TMPDIR");
    std::string pattern = std::string(dir && *dir ? dir : "/tmp") + "/fuzz_chunks_XXXXXX";
    g_fd = ::mkstemp(pattern.data());
    check(g_fd >= 0, "cannot create a temporary file");
    g_name = pattern;
    std::atexit(remove_file);
}

void write_input(const uint8_t* data, size_t size) {
    check(::ftruncate(g_fd, 0) == 0, "ftruncate failed");
    for (size_t done = 0; done < size;) {
        const ssize_t n = ::pwrite(g_fd, data + done, size - done, static_cast<off_t>(done));
        check(n > 0, "writing the input failed");
        done += static_cast<size_t>(n);
    }
}

HANDLE handle() { return reinterpret_cast<HANDLE>(static_cast<intptr_t>(g_fd)); }

void check_map(uint64_t fileSize) {
    vx::chunks::ChunkTree tree;
    if (tree.build(handle()) != vx::chunks::BuildResult::kOk) return;
    check(tree.fileEnd == fileSize, "map: wrong file end");
    for (std::size_t i = 0; i < tree.count(); ++i) {
        check(tree[i].parentEnd <= fileSize, "map: parent past the end of the file");
    }
}

void getters() {
    char tcO[18], tcA[18], rnO[40], rnA[40], cmnt[256];
    vfwGetTimeCode(handle(), tcO, tcA, rnO, rnA, cmnt);
    check(std::memchr(tcO, 0, sizeof tcO) && std::memchr(rnO, 0, sizeof rnO) &&
              std::memchr(cmnt, 0, sizeof cmnt),
          "vfwGetTimeCode: text not terminated");
    int32_t a = 0, b = 0;
    (void)vfwGetPullUpData(handle(), &a, &b);
    (void)vfwGetAspectData(handle(), &a, &b);
    uint32_t size = 0;
    if (vfwGetMetaData(handle(), 0, nullptr, &size) == 0) {
        unsigned char buf[64];
        uint32_t n = sizeof buf;
        (void)vfwGetMetaData(handle(), 0, buf, &n);
        check(n == sizeof buf, "vfwGetMetaData: size changed with a buffer");
    }
    void* it = nullptr;
    for (int i = 0; i < 10000; ++i) {
        void* data = nullptr;
        uint32_t n = 0;
        if (vfwGetNextChunk(handle(), &it, &data, &n, 0, 0) == 0) break;
        VxDisposeData(data);
    }
    if (it != nullptr) {  // stop the iteration the way the host would: to its end
        void* data = nullptr;
        uint32_t n = 0;
        while (vfwGetNextChunk(handle(), &it, &data, &n, 0, 0) != 0) {
            VxDisposeData(data);
            data = nullptr;
        }
    }
    unsigned char header[64];
    (void)IsAVIType2File(g_name.c_str(), header);
}

void setters() {
    if (vfwSetAspectData(handle(), 3, 2) == 0) {
        int32_t a = 0, b = 0;
        check(vfwGetAspectData(handle(), &a, &b) == 1, "aspect set but not found");
    }
    if (vfwSetPullUpData(handle(), 1, 2) == 0) {
        int32_t a = 0, b = 0;
        (void)vfwGetPullUpData(handle(), &a, &b);  // an odd existing chunk may hide them
    }
    AviTimeData t{};
    std::memcpy(t.tc_O, "01:00:00:00", 11);
    std::memcpy(t.cmnt, "fuzz", 4);
    (void)vfwAddTimeData(handle(), &t);
    (void)vfwSetMetaData(handle(), VX_MAKEFOURCC('X', 'f', 'z', 'z'), "abc", 3);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (g_fd < 0) setup_file();
    write_input(data, size);
    check_map(size);
    getters();
    setters();
    struct stat st {};
    check(::fstat(g_fd, &st) == 0, "fstat failed");
    check_map(static_cast<uint64_t>(st.st_size));
    getters();
    return 0;
}
