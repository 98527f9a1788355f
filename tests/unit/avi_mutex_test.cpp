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

// Owns a mutex on a thread of its own until release() is called.
class Holder {
public:
    explicit Holder(HANDLE mutex)
        : thread_([this, mutex] {
              acquired_.set_value(named_mutex_wait(mutex, 0));
              go_.get_future().wait();
              released_.set_value(named_mutex_release(mutex));
          }) {}
    ~Holder() {
        if (thread_.joinable()) release();
    }
    MutexWait acquired() { return acquiredResult_.get(); }
    bool release() {
        go_.set_value();
        thread_.join();
        return released_.get_future().get();
    }

private:
    std::promise<MutexWait> acquired_;
    std::future<MutexWait> acquiredResult_ = acquired_.get_future();
    std::promise<void> go_;
    std::promise<bool> released_;
    std::thread thread_;
};

// On Linux each test gets its own runtime folder, so that no other run shares
// the names and no lock file is left behind.
class NamedMutexTest : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
#ifdef _WIN32
        name_ = "VxTest-" + std::to_string(GetCurrentProcessId()) + "-" + info->name();
#else
        name_ = std::string("VxTest-") + info->name();
        char folder[] = "/tmp/vxmutexXXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        folder_ = folder;
        const char* old = std::getenv("XDG_RUNTIME_DIR");
        hadSaved_ = old != nullptr;
        if (hadSaved_) saved_ = old;
        setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
#endif
        SetClassData(kAviMutexClass, nullptr);  // leaks a handle on Windows; fine in a test
    }
    void TearDown() override {
        SetClassData(kAviMutexClass, nullptr);
#ifndef _WIN32
        if (hadSaved_)
            setenv("XDG_RUNTIME_DIR", saved_.c_str(), 1);
        else
            unsetenv("XDG_RUNTIME_DIR");
        std::filesystem::remove_all(folder_);
#endif
    }

    HANDLE open() {
        HANDLE h = named_mutex_open(name_.c_str());
        EXPECT_NE(h, nullptr);
        return h;
    }

    std::string name_;
#ifndef _WIN32
    std::string folder_;
    std::string saved_;
    bool hadSaved_ = false;
#endif
};

// ---- the exports ----

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
    const auto tryByName = [] { return named_mutex_wait(named_mutex_open("VXAVI_MUTEX"), 0); };
    EXPECT_NE(ReleaseAVIMutex(), 0);
    EXPECT_EQ(on_other_thread(tryByName), MutexWait::timed_out);  // one level still held
    EXPECT_NE(ReleaseAVIMutex(), 0);
    EXPECT_EQ(ReleaseAVIMutex(), 0);

    Holder other(h);
    EXPECT_EQ(other.acquired(), MutexWait::acquired);
    EXPECT_TRUE(other.release());
}

// ---- the platform mutex between threads ----

TEST_F(NamedMutexTest, ThreadsExcludeEachOtherAcrossHandles) {
    HANDLE h = open();
    HANDLE again = open();
    {
        Holder holder(h);
        ASSERT_EQ(holder.acquired(), MutexWait::acquired);
        const auto start = Clock::now();
        EXPECT_EQ(named_mutex_wait(again, 300), MutexWait::timed_out);
        EXPECT_GE(Clock::now() - start, 250ms);
        EXPECT_FALSE(named_mutex_release(h));  // not the owner
        EXPECT_TRUE(holder.release());
    }
    // Recursive through either handle; one release per wait.
    ASSERT_EQ(named_mutex_wait(h, 0), MutexWait::acquired);
    ASSERT_EQ(named_mutex_wait(again, 0), MutexWait::acquired);
    EXPECT_TRUE(named_mutex_release(h));
    EXPECT_EQ(on_other_thread([&] { return named_mutex_wait(h, 0); }), MutexWait::timed_out);
    EXPECT_TRUE(named_mutex_release(again));
    EXPECT_FALSE(named_mutex_release(h));
}

TEST_F(NamedMutexTest, WaiterGetsItWhenTheOwnerReleases) {
    HANDLE h = open();
    Holder holder(h);
    ASSERT_EQ(holder.acquired(), MutexWait::acquired);
    auto waiter = std::async(std::launch::async, [h] {
        const MutexWait got = named_mutex_wait(h, 5000);
        return got == MutexWait::acquired && named_mutex_release(h);
    });
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(holder.release());
    EXPECT_TRUE(waiter.get());
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
// ---- the platform mutex between processes ----

// Runs `child` in a forked process; its result is the exit status.
template <class F>
pid_t fork_child(F child) {
    const pid_t pid = fork();
    if (pid == 0) _exit(child() ? 0 : 1);
    return pid;
}

bool child_succeeded(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class Pipe {
public:
    Pipe() { EXPECT_EQ(pipe(fds_), 0); }
    ~Pipe() {
        close(fds_[0]);
        close(fds_[1]);
    }
    bool send(char c) { return write(fds_[1], &c, 1) == 1; }
    char receive() {
        char c = 0;
        return read(fds_[0], &c, 1) == 1 ? c : 0;
    }

private:
    int fds_[2] = {-1, -1};
};

TEST_F(NamedMutexTest, ChildDoesNotShareTheParentsOwnership) {
    HANDLE h = open();
    ASSERT_EQ(named_mutex_wait(h, 0), MutexWait::acquired);
    const pid_t pid = fork_child([h] {
        return named_mutex_wait(h, 100) == MutexWait::timed_out && !named_mutex_release(h);
    });
    EXPECT_TRUE(child_succeeded(pid));
    EXPECT_TRUE(named_mutex_release(h));
}

TEST_F(NamedMutexTest, OtherProcessHoldingItMakesTheWaitTimeOut) {
    HANDLE h = open();  // before the fork: the child inherits the descriptor
    Pipe toParent, toChild;
    const pid_t pid = fork_child([&] {
        const bool got = named_mutex_wait(h, 0) == MutexWait::acquired;
        toParent.send(got ? 'y' : 'n');
        toChild.receive();
        return got && named_mutex_release(h);
    });
    ASSERT_EQ(toParent.receive(), 'y');
    const auto start = Clock::now();
    EXPECT_EQ(named_mutex_wait(h, 300), MutexWait::timed_out);
    EXPECT_GE(Clock::now() - start, 250ms);
    toChild.send('g');
    EXPECT_TRUE(child_succeeded(pid));
    EXPECT_EQ(named_mutex_wait(h, 2000), MutexWait::acquired);
    EXPECT_TRUE(named_mutex_release(h));
}

TEST_F(NamedMutexTest, ProcessThatDiesOwningItAbandonsIt) {
    const std::string name = name_;
    const pid_t pid = fork_child(
        [&] { return named_mutex_wait(named_mutex_open(name.c_str()), 0) == MutexWait::acquired; });
    ASSERT_TRUE(child_succeeded(pid));
    HANDLE h = open();
    EXPECT_EQ(named_mutex_wait(h, 1000), MutexWait::abandoned);
    EXPECT_TRUE(named_mutex_release(h));
    EXPECT_EQ(named_mutex_wait(h, 0), MutexWait::acquired);
    EXPECT_TRUE(named_mutex_release(h));
}

TEST_F(NamedMutexTest, LockFilesStayInAPrivateFolder) {
    ASSERT_NE(named_mutex_open("Global\\../up/and/away"), nullptr);
    const auto entries = [&] {
        auto it = std::filesystem::directory_iterator(folder_);
        return std::distance(it, std::filesystem::directory_iterator());
    };
    EXPECT_EQ(entries(), 1);

    // A runtime folder others may enter is not used.
    ASSERT_EQ(chmod(folder_.c_str(), 0777), 0);
    EXPECT_NE(named_mutex_open("VxTestFallback"), nullptr);
    EXPECT_EQ(entries(), 1);
}
#endif

}  // namespace
