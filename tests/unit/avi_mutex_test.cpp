#include <VexaInfo.h>
#include <gtest/gtest.h>
#include <vxmedia/aviframes.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>

#include "platform/named_mutex.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#endif

namespace {

using vx::platform::MutexWait;
using vx::platform::named_mutex_open;
using vx::platform::named_mutex_release;
using vx::platform::named_mutex_wait;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr uint32_t kAviMutexClass = 0x61766D78u;  // 'avmx'

template <class F>
auto on_other_thread(F f) {
    decltype(f()) result{};
    std::thread([&] { result = f(); }).join();
    return result;
}

// Owns the mutex on a thread of its own until release().
struct Holder {
    explicit Holder(HANDLE m)
        : thread([this, m] {
              took.set_value(named_mutex_wait(m, 0) == MutexWait::acquired);
              go.get_future().wait();
              gave.set_value(named_mutex_release(m));
          }) {}
    ~Holder() {
        if (thread.joinable()) release();
    }
    bool release() {
        go.set_value();
        thread.join();
        return gave.get_future().get();
    }
    std::promise<bool> took, gave;
    std::promise<void> go;
    std::thread thread;
};

// On Linux each test has a runtime folder of its own: no other run shares its
// names and no lock file stays behind.
class NamedMutexTest : public ::testing::Test {
protected:
    void SetUp() override {
        name_ = std::string("VxTest-") +
                ::testing::UnitTest::GetInstance()->current_test_info()->name();
#ifdef _WIN32
        name_ += "-" + std::to_string(GetCurrentProcessId());
#else
        char folder[] = "/tmp/vxmutexXXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
        if (const char* old = std::getenv("XDG_RUNTIME_DIR")) saved_ = old;
        setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
#endif
        SetClassData(kAviMutexClass, nullptr);  // leaks a Windows handle; fine in a test
    }
    void TearDown() override {
        SetClassData(kAviMutexClass, nullptr);
#ifndef _WIN32
        if (saved_.empty())
            unsetenv("XDG_RUNTIME_DIR");
        else
            setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
        std::filesystem::remove_all(folder_);
#endif
    }
    HANDLE open() { return named_mutex_open(name_.c_str()); }

    std::string name_, folder_, saved_;
};

TEST_F(NamedMutexTest, ReleaseBeforeAnyGetFails) {
    EXPECT_EQ(ReleaseAVIMutex(), 0);
    EXPECT_EQ(GetClassData(kAviMutexClass), nullptr);
}

TEST_F(NamedMutexTest, GetIsRecursiveAndKeepsTheNamedMutexInClassData) {
    ASSERT_EQ(GetAVIMutex(), 1);
    HANDLE h = GetClassData(kAviMutexClass);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(GetAVIMutex(), 1);
    EXPECT_EQ(GetClassData(kAviMutexClass), h);

    EXPECT_EQ(on_other_thread([] { return ReleaseAVIMutex(); }), 0);
    EXPECT_NE(ReleaseAVIMutex(), 0);
    EXPECT_EQ(on_other_thread([] { return named_mutex_wait(named_mutex_open("VXAVI_MUTEX"), 0); }),
              MutexWait::timed_out);  // one level still held
    EXPECT_NE(ReleaseAVIMutex(), 0);
    EXPECT_EQ(ReleaseAVIMutex(), 0);
    Holder other(h);
    EXPECT_TRUE(other.took.get_future().get());
}

TEST_F(NamedMutexTest, ThreadsExcludeEachOtherAcrossHandles) {
    HANDLE h = open(), again = open();
    ASSERT_NE(again, nullptr);
    Holder holder(h);
    ASSERT_TRUE(holder.took.get_future().get());
    const auto start = Clock::now();
    EXPECT_EQ(named_mutex_wait(again, 300), MutexWait::timed_out);
    EXPECT_GE(Clock::now() - start, 250ms);
    EXPECT_FALSE(named_mutex_release(h));  // not the owner

    auto waiter = std::async(std::launch::async, [&] {
        return named_mutex_wait(again, 5000) == MutexWait::acquired && named_mutex_release(h);
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(holder.release());
    EXPECT_TRUE(waiter.get());

    // Recursive through either handle; one release per wait.
    ASSERT_EQ(named_mutex_wait(h, 0), MutexWait::acquired);
    ASSERT_EQ(named_mutex_wait(again, 0), MutexWait::acquired);
    EXPECT_TRUE(named_mutex_release(h));
    EXPECT_EQ(on_other_thread([&] { return named_mutex_wait(h, 0); }), MutexWait::timed_out);
    EXPECT_TRUE(named_mutex_release(again));
    EXPECT_FALSE(named_mutex_release(h));
}

TEST_F(NamedMutexTest, ThreadThatEndsOwningItAbandonsIt) {
    HANDLE h = open();
    EXPECT_EQ(on_other_thread([h] { return named_mutex_wait(h, 0); }), MutexWait::acquired);
    EXPECT_EQ(named_mutex_wait(h, 1000), MutexWait::abandoned);
    EXPECT_TRUE(named_mutex_release(h));
    EXPECT_EQ(named_mutex_wait(h, 0), MutexWait::acquired);
    EXPECT_TRUE(named_mutex_release(h));
}

#ifndef _WIN32
bool child_succeeded(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_F(NamedMutexTest, OtherProcessHoldingItMakesTheWaitTimeOut) {
    HANDLE h = open();  // before the fork: the child inherits the descriptor
    int up[2], down[2];
    ASSERT_EQ(pipe(up), 0);
    ASSERT_EQ(pipe(down), 0);
    char c = 'n';
    const pid_t pid = fork();
    if (pid == 0) {
        const bool got = named_mutex_wait(h, 0) == MutexWait::acquired;
        c = got ? 'y' : 'n';
        const bool talked = write(up[1], &c, 1) == 1 && read(down[0], &c, 1) == 1;
        _exit(got && talked && named_mutex_release(h) ? 0 : 1);
    }
    ASSERT_EQ(read(up[0], &c, 1), 1);
    EXPECT_EQ(c, 'y');
    const auto start = Clock::now();
    EXPECT_EQ(named_mutex_wait(h, 300), MutexWait::timed_out);
    EXPECT_GE(Clock::now() - start, 250ms);
    EXPECT_EQ(write(down[1], &c, 1), 1);
    EXPECT_TRUE(child_succeeded(pid));
    EXPECT_EQ(named_mutex_wait(h, 2000), MutexWait::acquired);
    EXPECT_TRUE(named_mutex_release(h));
    for (int fd : {up[0], up[1], down[0], down[1]}) close(fd);
}

TEST_F(NamedMutexTest, ProcessThatDiesOwningItAbandonsIt) {
    const pid_t pid = fork();
    if (pid == 0) _exit(named_mutex_wait(open(), 0) == MutexWait::acquired ? 0 : 1);
    ASSERT_TRUE(child_succeeded(pid));
    HANDLE h = open();
    EXPECT_EQ(named_mutex_wait(h, 1000), MutexWait::abandoned);
    EXPECT_TRUE(named_mutex_release(h));
    EXPECT_EQ(named_mutex_wait(h, 0), MutexWait::acquired);
    EXPECT_TRUE(named_mutex_release(h));
}

TEST_F(NamedMutexTest, LockFilesStayInAPrivateFolder) {
    const auto entries = [&] {
        return std::distance(std::filesystem::directory_iterator(folder_),
                             std::filesystem::directory_iterator());
    };
    ASSERT_NE(named_mutex_open("Global\\../up/and/away"), nullptr);
    EXPECT_EQ(entries(), 1);
    ASSERT_EQ(chmod(folder_.c_str(), 0777), 0);  // others may enter: not used
    EXPECT_NE(named_mutex_open("VxTestFallback"), nullptr);
    EXPECT_EQ(entries(), 1);
}
#endif

}  // namespace
