#include "reader/block_cache.h"

#include <VexaInfo.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/test_files.h"

namespace {

namespace cache = vx::cache;

constexpr uint64_t kMiB = cache::kBlockSize;
// Not a multiple of the block size, so the last block is short.
constexpr uint64_t kFileSize = 25 * kMiB + 1234;

// Differs between blocks at the same offset, so bytes from a wrong or stale
// block show up.
uint8_t pattern(uint64_t i) {
    return static_cast<uint8_t>((static_cast<uint32_t>(i) * 2654435761u) >> 24);
}

bool matches(const unsigned char* data, uint64_t position, uint64_t size) {
    for (uint64_t i = 0; i < size; ++i) {
        if (data[i] != pattern(position + i)) return false;
    }
    return true;
}

// A reader as aviOpen leaves it, reading the test file through its own
// descriptor.
class TestReader {
public:
    explicit TestReader(const std::string& path, const std::string& name, bool useCache = true) {
        handle_ = vxtest::open_file(path, vxtest::Access::kRead);
        reader_.fileRef = handle_;
        std::snprintf(reader_.fileName, sizeof(reader_.fileName), "%s", name.c_str());
        reader_.useCache = useCache ? 1 : 0;
    }
    explicit TestReader(const std::string& path) : TestReader(path, path) {}
    ~TestReader() {
        close();
        vxtest::close_file(handle_);
    }
    TestReader(const TestReader&) = delete;
    TestReader& operator=(const TestReader&) = delete;

    AviReader* get() { return &reader_; }
    AviReader* operator->() { return &reader_; }
    void close() { cache::release_reader(&reader_); }

private:
    AviReader reader_{};
    HANDLE handle_ = INVALID_HANDLE_VALUE;
};

struct PointerDeleter {
    void operator()(unsigned char* p) const { cache::release_pointer(p); }
};
using Pointer = std::unique_ptr<unsigned char, PointerDeleter>;

Pointer read_pointer(AviReader* reader, uint32_t size, uint64_t position, bool noCopy, int* rc) {
    unsigned char* out = reinterpret_cast<unsigned char*>(1);
    *rc = cache::read_pointer(reader, &out, size, position, noCopy);
    if (*rc != 0) {
        EXPECT_EQ(out, nullptr);
    }
    return Pointer(out);
}

// One pointer into each of the 20 blocks 0..19 of the file.
std::vector<Pointer> pin_all_blocks(AviReader* reader) {
    std::vector<Pointer> pins;
    for (uint64_t k = 0; k < cache::kBlockCount; ++k) {
        int rc = 0;
        pins.push_back(read_pointer(reader, 100, k * kMiB + 10, true, &rc));
        EXPECT_EQ(rc, 0) << "block " << k;
    }
    return pins;
}

class BlockCacheTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ =
            new std::filesystem::path(std::filesystem::temp_directory_path() /
                                      ("vx_block_cache_" + std::to_string(vxtest::process_id())));
        std::filesystem::create_directories(*dir_);
        path_ = new std::string((*dir_ / "pattern.bin").string());
        std::vector<unsigned char> data(kFileSize);
        for (uint64_t i = 0; i < kFileSize; ++i) data[i] = pattern(i);
        FILE* f = std::fopen(path_->c_str(), "wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(data.data(), 1, data.size(), f), data.size());
        std::fclose(f);
    }
    static void TearDownTestSuite() {
        std::filesystem::remove_all(*dir_);
        delete path_;
        delete dir_;
    }

    // Every test starts from an empty cache of fresh blocks.
    void SetUp() override {
        cache::process_detach();
        cache::process_attach();
    }
    void TearDown() override { cache::fail_block_creation_for_testing(false); }

    static std::filesystem::path* dir_;
    static std::string* path_;
};

std::filesystem::path* BlockCacheTest::dir_ = nullptr;
std::string* BlockCacheTest::path_ = nullptr;

TEST_F(BlockCacheTest, FramesAreAssembledAcrossBlocksAndReadOnce) {
    TestReader reader(*path_);
    std::vector<unsigned char> buf(300);

    const uint64_t loads = cache::block_loads();
    ASSERT_EQ(cache::read_into(reader.get(), buf.data(), 300, kMiB - 100), 0);
    EXPECT_TRUE(matches(buf.data(), kMiB - 100, 300));
    EXPECT_EQ(cache::block_loads(), loads + 2);

    // The same frame again, and one inside the second block: no file reads.
    const uint64_t hostReads = VxHostReadCalls();
    std::fill(buf.begin(), buf.end(), 0);
    ASSERT_EQ(cache::read_into(reader.get(), buf.data(), 300, kMiB - 100), 0);
    EXPECT_TRUE(matches(buf.data(), kMiB - 100, 300));
    ASSERT_EQ(cache::read_into(reader.get(), buf.data(), 300, kMiB + 5000), 0);
    EXPECT_TRUE(matches(buf.data(), kMiB + 5000, 300));
    EXPECT_EQ(cache::block_loads(), loads + 2);
    EXPECT_EQ(VxHostReadCalls(), hostReads);

    // A frame larger than a block spans three.
    std::vector<unsigned char> big(kMiB + 200);
    ASSERT_EQ(cache::read_into(reader.get(), big.data(), big.size(), 3 * kMiB - 100), 0);
    EXPECT_TRUE(matches(big.data(), 3 * kMiB - 100, big.size()));
    EXPECT_EQ(cache::block_loads(), loads + 5);
}

TEST_F(BlockCacheTest, PointersOnlyForFramesStrictlyInsideOneBlock) {
    TestReader reader(*path_);
    int rc = 0;

    // Ends one byte before the boundary: a pointer into the block.
    Pointer inside = read_pointer(reader.get(), 99, kMiB - 100, true, &rc);
    ASSERT_EQ(rc, 0);
    EXPECT_TRUE(matches(inside.get(), kMiB - 100, 99));

    // Ends exactly at the boundary: refused without copying, copied otherwise.
    Pointer refused = read_pointer(reader.get(), 100, kMiB - 100, true, &rc);
    EXPECT_EQ(rc, 1);
    Pointer copy = read_pointer(reader.get(), 100, kMiB - 100, false, &rc);
    ASSERT_EQ(rc, 0);
    EXPECT_TRUE(matches(copy.get(), kMiB - 100, 100));
    EXPECT_NE(copy.get(), inside.get());

    // Spanning two blocks: an allocated copy (freed on release; ASan checks).
    Pointer spanning = read_pointer(reader.get(), 5000, 2 * kMiB - 2500, false, &rc);
    ASSERT_EQ(rc, 0);
    EXPECT_TRUE(matches(spanning.get(), 2 * kMiB - 2500, 5000));
}

TEST_F(BlockCacheTest, AllBlocksPinnedFallsBackOnlyForCopies) {
    TestReader reader(*path_);
    std::vector<Pointer> pins = pin_all_blocks(reader.get());
    for (uint64_t k = 0; k < pins.size(); ++k) {
        EXPECT_TRUE(matches(pins[k].get(), k * kMiB + 10, 100));
    }

    // A cached block can still be pinned again.
    int rc = 0;
    Pointer again = read_pointer(reader.get(), 100, 3 * kMiB + 500, true, &rc);
    EXPECT_EQ(rc, 0);

    const uint64_t loads = cache::block_loads();
    EXPECT_TRUE(read_pointer(reader.get(), 100, 21 * kMiB + 10, true, &rc) == nullptr);
    EXPECT_EQ(rc, 1);
    EXPECT_TRUE(read_pointer(reader.get(), 100, 21 * kMiB + 10, false, &rc) == nullptr);
    EXPECT_EQ(rc, 1);

    const uint64_t hostReads = VxHostReadCalls();
    std::vector<unsigned char> buf(100);
    ASSERT_EQ(cache::read_into(reader.get(), buf.data(), 100, 21 * kMiB + 10), 0);
    EXPECT_TRUE(matches(buf.data(), 21 * kMiB + 10, 100));
    EXPECT_EQ(VxHostReadCalls(), hostReads + 1);
    EXPECT_EQ(cache::block_loads(), loads);

    // Once one pin goes, the block is reusable.
    pins[7].reset();
    Pointer after = read_pointer(reader.get(), 100, 21 * kMiB + 10, true, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(cache::block_loads(), loads + 1);
}

TEST_F(BlockCacheTest, ClosedReadersPointerStaysValidAndItsBlockIsNotReused) {
    auto first = std::make_unique<TestReader>(*path_);
    int rc = 0;
    Pointer held = read_pointer(first->get(), 4096, 5 * kMiB + 64, true, &rc);
    ASSERT_EQ(rc, 0);
    const HANDLE handle = (*first)->fileRef;
    first->close();
    EXPECT_EQ((*first)->cacheHandle, nullptr);
    EXPECT_EQ((*first)->cacheLockReady, 0);

    // A new reader that gets the same handle value must not see the old
    // reader's block: it may belong to another file by now.
    TestReader second(*path_);
    second->fileRef = handle;
    const uint64_t loads = cache::block_loads();
    std::vector<unsigned char> buf(4096);
    ASSERT_EQ(cache::read_into(second.get(), buf.data(), 4096, 12 * kMiB), 0);
    ASSERT_EQ(cache::read_into(second.get(), buf.data(), 4096, 5 * kMiB + 64), 0);
    EXPECT_EQ(cache::block_loads(), loads + 2);

    // Fill every other block with other data; the pinned one is untouched.
    std::vector<Pointer> others;
    for (uint64_t k = 0; k < cache::kBlockCount - 1; ++k) {
        others.push_back(read_pointer(second.get(), 10, (k + 6) * kMiB, true, &rc));
        ASSERT_EQ(rc, 0);
    }
    EXPECT_TRUE(matches(held.get(), 5 * kMiB + 64, 4096));
    others.clear();

    // The last release frees the block: all 20 can be pinned again.
    held.reset();
    std::vector<Pointer> pins = pin_all_blocks(second.get());
    EXPECT_EQ(pins.size(), static_cast<size_t>(cache::kBlockCount));
}

TEST_F(BlockCacheTest, EvictsTheLeastRecentlyUsedBlock) {
    TestReader reader(*path_);
    unsigned char byte = 0;
    for (uint64_t k = 0; k < cache::kBlockCount; ++k) {
        ASSERT_EQ(cache::read_into(reader.get(), &byte, 1, k * kMiB), 0);
    }
    // Block 0 becomes the most recent; block 1 is now the oldest.
    ASSERT_EQ(cache::read_into(reader.get(), &byte, 1, 0), 0);
    const uint64_t loads = cache::block_loads();
    ASSERT_EQ(cache::read_into(reader.get(), &byte, 1, 20 * kMiB), 0);
    ASSERT_EQ(cache::read_into(reader.get(), &byte, 1, 0), 0);
    EXPECT_EQ(cache::block_loads(), loads + 1);
    ASSERT_EQ(cache::read_into(reader.get(), &byte, 1, kMiB), 0);
    EXPECT_EQ(cache::block_loads(), loads + 2);
}

TEST_F(BlockCacheTest, ForgottenHandleIsReadAgain) {
    TestReader reader(*path_);
    std::vector<unsigned char> buf(64);
    int rc = 0;
    Pointer held = read_pointer(reader.get(), 64, 2 * kMiB, true, &rc);
    ASSERT_EQ(rc, 0);
    ASSERT_EQ(cache::read_into(reader.get(), buf.data(), 64, 9 * kMiB), 0);

    const uint64_t loads = cache::block_loads();
    cache::forget_handle(reader->fileRef);
    ASSERT_EQ(cache::read_into(reader.get(), buf.data(), 64, 9 * kMiB), 0);
    ASSERT_EQ(cache::read_into(reader.get(), buf.data(), 64, 2 * kMiB), 0);
    EXPECT_TRUE(matches(buf.data(), 2 * kMiB, 64));
    EXPECT_EQ(cache::block_loads(), loads + 2);
    EXPECT_TRUE(matches(held.get(), 2 * kMiB, 64));
}

TEST_F(BlockCacheTest, ReadsPastTheEndFailInsteadOfReturningStaleBytes) {
    TestReader reader(*path_);
    // Leave earlier data in every block buffer first.
    std::vector<unsigned char> buf(kMiB);
    for (uint64_t k = 0; k < cache::kBlockCount; ++k) {
        ASSERT_EQ(cache::read_into(reader.get(), buf.data(), 16, k * kMiB), 0);
    }

    const uint64_t tail = kFileSize - 100;
    ASSERT_EQ(cache::read_into(reader.get(), buf.data(), 100, tail), 0);
    EXPECT_TRUE(matches(buf.data(), tail, 100));
    EXPECT_EQ(cache::read_into(reader.get(), buf.data(), 101, tail), 1);
    EXPECT_EQ(cache::read_into(reader.get(), buf.data(), 1, kFileSize), 1);
    EXPECT_EQ(cache::read_into(reader.get(), buf.data(), 1, kFileSize + 3 * kMiB), 1);

    int rc = 0;
    Pointer last = read_pointer(reader.get(), 100, tail, true, &rc);
    EXPECT_EQ(rc, 0);
    EXPECT_TRUE(read_pointer(reader.get(), 101, tail, true, &rc) == nullptr);
    EXPECT_EQ(rc, 1);
    EXPECT_TRUE(read_pointer(reader.get(), 101, tail, false, &rc) == nullptr);
    EXPECT_EQ(rc, 1);
}

TEST_F(BlockCacheTest, GrownFileIsReadAgainPastItsOldEnd) {
    const std::string path = (*dir_ / "growing.bin").string();
    std::vector<unsigned char> data(kMiB + 1000);
    for (uint64_t i = 0; i < data.size(); ++i) data[i] = pattern(i);
    const HANDLE out = vxtest::open_file(path, vxtest::Access::kCreate);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(vxtest::write_all(out, data.data(), kMiB + 500, 0));

    TestReader reader(path);
    std::vector<unsigned char> buf(400);
    ASSERT_EQ(cache::read_into(reader.get(), buf.data(), 100, kMiB + 300), 0);
    EXPECT_EQ(cache::read_into(reader.get(), buf.data(), 400, kMiB + 300), 1);

    ASSERT_TRUE(vxtest::write_all(out, data.data() + kMiB + 500, 500, kMiB + 500));
    vxtest::close_file(out);
    int rc = 0;
    Pointer grown = read_pointer(reader.get(), 400, kMiB + 300, true, &rc);
    ASSERT_EQ(rc, 0);
    EXPECT_TRUE(matches(grown.get(), kMiB + 300, 400));
    ASSERT_EQ(cache::read_into(reader.get(), buf.data(), 400, kMiB + 600), 0);
    EXPECT_TRUE(matches(buf.data(), kMiB + 600, 400));
}

TEST_F(BlockCacheTest, FailedLoadLeavesNoBlockBehind) {
#ifdef _WIN32
    GTEST_SKIP() << "a folder does not open as a file here, so no name opens and fails to read";
#endif
    // The name opens (a directory) but cannot be read.
    TestReader reader(*path_, dir_->string());
    std::vector<unsigned char> buf(100);
    for (int i = 0; i < 2 * cache::kBlockCount; ++i) {
        EXPECT_EQ(cache::read_into(reader.get(), buf.data(), 100, 0), 1);
    }
    int rc = 0;
    EXPECT_TRUE(read_pointer(reader.get(), 100, 0, true, &rc) == nullptr);

    TestReader good(*path_);
    std::vector<Pointer> pins = pin_all_blocks(good.get());
}

TEST_F(BlockCacheTest, ReadersOutsideTheCacheReadThroughTheHost) {
    std::vector<std::unique_ptr<TestReader>> readers;
    readers.push_back(std::make_unique<TestReader>(*path_, *path_, false));
    readers.push_back(std::make_unique<TestReader>(*path_, (*dir_ / "missing.bin").string()));
    readers.push_back(std::make_unique<TestReader>(*path_, ""));
    auto unterminated = std::make_unique<TestReader>(*path_);
    std::memset((*unterminated)->fileName, 'a', sizeof((*unterminated)->fileName));
    readers.push_back(std::move(unterminated));

    const uint64_t loads = cache::block_loads();
    for (auto& reader : readers) {
        std::vector<unsigned char> buf(300);
        ASSERT_EQ(cache::read_into(reader->get(), buf.data(), 300, kMiB - 100), 0);
        EXPECT_TRUE(matches(buf.data(), kMiB - 100, 300));
        int rc = 0;
        EXPECT_TRUE(read_pointer(reader->get(), 10, 20, true, &rc) == nullptr);
        Pointer copy = read_pointer(reader->get(), 10, 20, false, &rc);
        ASSERT_EQ(rc, 0);
        EXPECT_TRUE(matches(copy.get(), 20, 10));
        EXPECT_EQ(cache::read_into(reader->get(), buf.data(), 1, kFileSize), 1);
    }
    EXPECT_EQ(cache::block_loads(), loads);

    // Handle values equal to the free and loading markers never reach a block.
    for (intptr_t marker : {intptr_t{-1}, intptr_t{-2}}) {
        TestReader reader(*path_);
        reader->fileRef = reinterpret_cast<HANDLE>(marker);
        unsigned char byte = 0;
        EXPECT_EQ(cache::read_into(reader.get(), &byte, 1, 0), 1);
        int rc = 0;
        EXPECT_TRUE(read_pointer(reader.get(), 1, 0, true, &rc) == nullptr);
        EXPECT_EQ(reader->cacheLockReady, 0);
    }
    EXPECT_EQ(cache::block_loads(), loads);
}

TEST_F(BlockCacheTest, FileThatCannotBeOpenedForWritingIsCachedReadOnly) {
    // A running program cannot be opened for writing, even by root.
#ifdef _WIN32
    char self[MAX_PATH + 1] = {};
    ASSERT_GT(GetModuleFileNameA(nullptr, self, MAX_PATH), 0u);
#else
    const char* self = "/proc/self/exe";
#endif
    const HANDLE rw = vxtest::open_file(self, vxtest::Access::kReadWrite);
    if (rw != INVALID_HANDLE_VALUE) {
        vxtest::close_file(rw);
        GTEST_SKIP() << "the running program opens for writing here";
    }
    const HANDLE file = vxtest::open_file(self, vxtest::Access::kRead);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    AviReader reader{};
    reader.fileRef = file;
    std::snprintf(reader.fileName, sizeof(reader.fileName), "%s", self);
    reader.useCache = 1;

    std::vector<unsigned char> cached(256), direct(256);
    const uint64_t loads = cache::block_loads();
    ASSERT_EQ(cache::read_into(&reader, cached.data(), 256, 64), 0);
    EXPECT_EQ(cache::block_loads(), loads + 1);
    ASSERT_EQ(vxtest::read_at(file, direct.data(), 256, 64), 256);
    EXPECT_EQ(cached, direct);
    cache::release_reader(&reader);
    vxtest::close_file(file);
}

TEST_F(BlockCacheTest, WithoutBlocksReadsGoThroughTheHost) {
    cache::fail_block_creation_for_testing(true);
    TestReader reader(*path_);
    std::vector<unsigned char> buf(300);
    const uint64_t loads = cache::block_loads();
    ASSERT_EQ(cache::read_into(reader.get(), buf.data(), 300, kMiB - 100), 0);
    EXPECT_TRUE(matches(buf.data(), kMiB - 100, 300));
    int rc = 0;
    EXPECT_TRUE(read_pointer(reader.get(), 10, 20, true, &rc) == nullptr);
    Pointer copy = read_pointer(reader.get(), 10, 20, false, &rc);
    ASSERT_EQ(rc, 0);
    EXPECT_TRUE(matches(copy.get(), 20, 10));
    EXPECT_EQ(cache::block_loads(), loads);

    // Memory is back: the next read creates the blocks.
    cache::fail_block_creation_for_testing(false);
    ASSERT_EQ(cache::read_into(reader.get(), buf.data(), 300, kMiB - 100), 0);
    EXPECT_EQ(cache::block_loads(), loads + 2);
}

TEST_F(BlockCacheTest, BadArgumentsFailAndEmptyReadsSucceed) {
    TestReader reader(*path_);
    unsigned char byte = 0;
    unsigned char* out = nullptr;
    EXPECT_EQ(cache::read_into(nullptr, &byte, 1, 0), 1);
    EXPECT_EQ(cache::read_into(reader.get(), nullptr, 1, 0), 1);
    EXPECT_EQ(cache::read_into(reader.get(), &byte, 0, 0), 0);
    EXPECT_EQ(cache::read_into(reader.get(), &byte, 1, UINT64_MAX - 1), 1);
    EXPECT_EQ(cache::read_into(reader.get(), &byte, 100, uint64_t{INT64_MAX} - 50), 1);
    EXPECT_EQ(cache::read_pointer(nullptr, &out, 1, 0, false), 1);
    EXPECT_EQ(cache::read_pointer(reader.get(), nullptr, 1, 0, false), 1);
    EXPECT_EQ(cache::read_pointer(reader.get(), &out, 0, 0, true), 0);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(cache::read_pointer(reader.get(), &out, 1, UINT64_MAX - 1, false), 1);
    cache::release_pointer(nullptr);
    cache::release_reader(nullptr);
}

// Random frames from several threads, on one reader and on two readers of
// the same file, with eviction (the file is larger than the cache).
void hammer(std::vector<AviReader*> readers, int threads, int reads) {
    std::atomic<int> failures{0};
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t) {
        pool.emplace_back([&, t] {
            std::mt19937_64 rng(1234 + t);
            AviReader* reader = readers[t % readers.size()];
            std::vector<unsigned char> buf(300 * 1024);
            for (int i = 0; i < reads; ++i) {
                const uint32_t size = 1 + rng() % buf.size();
                const uint64_t position = rng() % (kFileSize - size);
                bool ok;
                if (i % 2 == 0) {
                    ok = cache::read_into(reader, buf.data(), size, position) == 0 &&
                         matches(buf.data(), position, size);
                } else {
                    unsigned char* p = nullptr;
                    ok = cache::read_pointer(reader, &p, size, position, false) == 0 &&
                         matches(p, position, size);
                    cache::release_pointer(p);
                }
                if (!ok) failures.fetch_add(1);
            }
        });
    }
    for (auto& thread : pool) thread.join();
    EXPECT_EQ(failures.load(), 0);
}

TEST_F(BlockCacheTest, ConcurrentReadsOnOneReader) {
    TestReader reader(*path_);
    hammer({reader.get()}, 4, 400);
}

TEST_F(BlockCacheTest, ConcurrentReadsOnTwoReaders) {
    TestReader first(*path_);
    TestReader second(*path_);
    hammer({first.get(), second.get()}, 4, 400);
}

}  // namespace
