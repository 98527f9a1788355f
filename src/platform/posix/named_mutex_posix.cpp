// Named mutexes on Linux: a lock file per name against other processes, an
// owning thread and a count against the other threads of this one (see
// named_mutex.h for the whole design).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/named_mutex.h"

namespace vx::platform {

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::size_t kMaxFileName = 240;
constexpr auto kLongestPoll = 10ms;

// ---- where the lock files live ----

bool private_folder(const struct stat& st) {
    return S_ISDIR(st.st_mode) && st.st_uid == geteuid() && (st.st_mode & 077) == 0;
}

std::string lock_folder() {
    if (const char* xdg = std::getenv("XDG_RUNTIME_DIR"); xdg != nullptr && xdg[0] == '/') {
        struct stat st {};
        if (stat(xdg, &st) == 0 && private_folder(st)) return xdg;
    }
    // Anyone can create names in /tmp: a folder that is not ours (or a link)
    // is refused rather than used.
    std::string folder = "/tmp/vxmedia-" + std::to_string(geteuid());
    if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return {};
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0 || !private_folder(st)) return {};
    return folder;
}

// Empty when the name cannot be a file name.
std::string file_name(const char* name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out = "vxmedia-mutex-";
    for (const char* p = name; *p != '\0'; ++p) {
        const auto c = static_cast<unsigned char>(*p);
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                           (c >= '0' && c <= '9') || c == '_' || c == '.' || c == '-';
        if (plain) {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
        if (out.size() > kMaxFileName) return {};
    }
    return out;
}

int open_lock_file(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != geteuid()) {
        close(fd);
        return -1;
    }
    return fd;
}

// ---- the lock between processes ----

// Byte 0 of the file: 1 while some process owns the mutex.
void write_mark(int fd, unsigned char value) {
    // A mark that cannot be written only hides an abandonment from the next owner.
    if (pwrite(fd, &value, 1, 0) != 1) return;
}

bool set_file_lock(int fd, short type) {
    struct flock fl {};
    fl.l_type = type;
    fl.l_whence = SEEK_SET;
    fl.l_start = 0;
    fl.l_len = 1;
    return fcntl(fd, F_OFD_SETLK, &fl) == 0;
}

MutexWait lock_file(int fd, Clock::time_point deadline) {
    auto pause = Clock::duration(1ms);
    while (!set_file_lock(fd, F_WRLCK)) {
        if (errno != EAGAIN && errno != EACCES && errno != EINTR) return MutexWait::failed;
        const auto now = Clock::now();
        if (now >= deadline) return MutexWait::timed_out;
        std::this_thread::sleep_for(std::min(pause, deadline - now));
        pause = std::min<Clock::duration>(pause * 2, kLongestPoll);
    }
    unsigned char mark = 0;
    const bool abandoned = pread(fd, &mark, 1, 0) == 1 && mark != 0;
    write_mark(fd, 1);
    return abandoned ? MutexWait::abandoned : MutexWait::acquired;
}

// ---- the object every handle of one name points to ----

class NamedMutex {
public:
    NamedMutex(std::string path, int fd) : path_(std::move(path)), fd_(fd), pid_(getpid()) {}

    MutexWait wait(uint32_t timeoutMs);
    bool release();
    // The owning thread ends: the mutex is free, and abandoned for its next owner.
    void give_up(std::thread::id thread);

private:
    bool adopt_after_fork();

    const std::string path_;
    std::mutex m_;
    std::condition_variable cv_;
    int fd_;
    pid_t pid_;
    std::thread::id owner_;  // no thread: nobody in this process owns or is taking it
    uint32_t count_ = 0;     // 0 while the owner still waits for the file lock
};

// Mutexes the current thread owns, given up when the thread ends.
class ThreadOwnership {
public:
    ~ThreadOwnership() {
        const auto owned = std::move(owned_);
        owned_.clear();
        for (NamedMutex* m : owned) m->give_up(std::this_thread::get_id());
    }
    void add(NamedMutex* m) { owned_.push_back(m); }
    void remove(NamedMutex* m) { std::erase(owned_, m); }

private:
    std::vector<NamedMutex*> owned_;
};

thread_local ThreadOwnership t_ownership;

// Called with m_ held. After fork the descriptor is the parent's open file
// description, whose lock is the parent's: open the file again and own nothing.
bool NamedMutex::adopt_after_fork() {
    const pid_t pid = getpid();
    if (pid == pid_) return true;
    if (fd_ >= 0) close(fd_);
    fd_ = open_lock_file(path_);
    owner_ = {};
    count_ = 0;
    if (fd_ < 0) return false;
    pid_ = pid;
    return true;
}

MutexWait NamedMutex::wait(uint32_t timeoutMs) {
    const bool forever = timeoutMs == kWaitForever;
    const auto deadline =
        forever ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(timeoutMs);
    const auto me = std::this_thread::get_id();

    std::unique_lock lock(m_);
    if (!adopt_after_fork()) return MutexWait::failed;
    if (owner_ == me) {
        if (count_ == UINT32_MAX) return MutexWait::failed;
        ++count_;
        return MutexWait::acquired;
    }
    // First the other threads of this process...
    const auto unowned = [this] { return owner_ == std::thread::id(); };
    if (forever) {
        cv_.wait(lock, unowned);
    } else if (!cv_.wait_until(lock, deadline, unowned)) {
        return MutexWait::timed_out;
    }
    owner_ = me;
    const int fd = fd_;
    lock.unlock();

    // ...then other processes, without blocking this process's releases.
    const MutexWait result = lock_file(fd, deadline);

    lock.lock();
    if (result == MutexWait::timed_out || result == MutexWait::failed) {
        owner_ = {};
        cv_.notify_all();
        return result;
    }
    count_ = 1;
    t_ownership.add(this);
    return result;
}

bool NamedMutex::release() {
    std::lock_guard lock(m_);
    if (!adopt_after_fork()) return false;
    if (owner_ != std::this_thread::get_id() || count_ == 0) return false;
    if (--count_ > 0) return true;
    write_mark(fd_, 0);
    const bool unlocked = set_file_lock(fd_, F_UNLCK);
    owner_ = {};
    t_ownership.remove(this);
    cv_.notify_all();
    return unlocked;
}

void NamedMutex::give_up(std::thread::id thread) {
    std::lock_guard lock(m_);
    if (!adopt_after_fork() || owner_ != thread || count_ == 0) return;
    count_ = 0;
    set_file_lock(fd_, F_UNLCK);  // the mark stays 1
    owner_ = {};
    cv_.notify_all();
}

// ---- one object per lock file, for the life of the process ----

struct Registry {
    std::mutex lock;
    std::map<std::string, std::unique_ptr<NamedMutex>> byPath;
};

Registry& registry() {
    // Never destroyed: handles stay valid during static destruction too.
    static auto* r = new Registry;
    return *r;
}

}  // namespace

HANDLE named_mutex_open(const char* name) {
    if (name == nullptr || name[0] == '\0') return nullptr;
    try {
        const std::string file = file_name(name);
        if (file.empty()) return nullptr;
        const std::string folder = lock_folder();
        if (folder.empty()) return nullptr;
        const std::string path = folder + "/" + file;

        Registry& r = registry();
        std::lock_guard lock(r.lock);
        auto found = r.byPath.find(path);
        if (found == r.byPath.end()) {
            const int fd = open_lock_file(path);
            if (fd < 0) return nullptr;
            found = r.byPath.emplace(path, std::make_unique<NamedMutex>(path, fd)).first;
        }
        return found->second.get();
    } catch (...) {  // out of memory
        return nullptr;
    }
}

MutexWait named_mutex_wait(HANDLE mutex, uint32_t timeoutMs) {
    if (mutex == nullptr) return MutexWait::failed;
    return static_cast<NamedMutex*>(mutex)->wait(timeoutMs);
}

bool named_mutex_release(HANDLE mutex) {
    if (mutex == nullptr) return false;
    return static_cast<NamedMutex*>(mutex)->release();
}

}  // namespace vx::platform
