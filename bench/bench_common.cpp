#include "bench_common.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <stdexcept>
#include <vector>

namespace vxbench {

double scale() {
    static const double s = [] {
        const char* v = std::getenv("VX_BENCH_SCALE");
        if (v == nullptr || *v == '\0') return 1.0;
        char* end = nullptr;
        const double d = std::strtod(v, &end);
        if (end == v || !(d > 0)) {
            std::fprintf(stderr, "VX_BENCH_SCALE=%s is not a positive number; using 1\n", v);
            return 1.0;
        }
        return std::min(d, 4.0);
    }();
    return s;
}

uint64_t scaled(uint64_t full) {
    return std::max<uint64_t>(1, static_cast<uint64_t>(std::llround(full * scale())));
}

namespace {
std::string g_dir;
}

const std::string& temp_dir() {
    if (g_dir.empty()) {
        const char* t = std::getenv("TMPDIR");
        std::string pattern = std::string(t && *t ? t : "/tmp") + "/vxbench.XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (::mkdtemp(buf.data()) == nullptr)
            throw std::runtime_error("cannot create a folder in " + pattern);
        g_dir = buf.data();
        std::atexit(remove_temp_dir);
    }
    return g_dir;
}

void remove_temp_dir() {
    if (g_dir.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(g_dir, ec);
    g_dir.clear();
}

namespace {

TestFile make(const std::string& name, const AviPlan& plan) {
    TestFile f;
    f.path = temp_dir() + "/" + name;
    const double t0 = seconds();
    if (!write_avi(f.path, plan, &f.layout)) throw std::runtime_error("cannot write " + f.path);
    std::printf("# generated %s: %zu frames, %.1f MiB in %.1f s\n", name.c_str(),
                f.layout.frames.size(), f.layout.fileSize / 1048576.0, seconds() - t0);
    std::fflush(stdout);
    return f;
}

AviPlan tiny_plan(IndexKind kind) {
    AviPlan plan;
    plan.index = kind;
    plan.frameSizes.assign(scaled(1000000), 16);
    plan.standardIndexChunks = 64;
    return plan;
}

}  // namespace

const TestFile& tiny_classic() {
    static const TestFile f = make("tiny_idx1.avi", tiny_plan(IndexKind::kClassic));
    return f;
}

const TestFile& tiny_odml() {
    static const TestFile f = make("tiny_odml.avi", tiny_plan(IndexKind::kOpenDml));
    return f;
}

const TestFile& big_classic() {
    static const TestFile f = [] {
        AviPlan plan;
        plan.index = IndexKind::kClassic;
        // Sizes spread evenly around 1 GiB / 10,000 so that frames start at
        // every position within the cache's blocks.
        constexpr uint32_t kMean = (1u << 30) / 10000;
        std::mt19937 rng(12345);
        std::uniform_int_distribution<uint32_t> size(kMean - 10000, kMean + 10000);
        const uint64_t n = scaled(10000);
        plan.frameSizes.reserve(n);
        for (uint64_t i = 0; i < n; ++i) plan.frameSizes.push_back(size(rng));
        return make("big_idx1.avi", plan);
    }();
    return f;
}

double Rounds::median() const {
    if (times_.empty()) return 0;
    std::vector<double> t = times_;
    std::sort(t.begin(), t.end());
    const std::size_t m = t.size() / 2;
    return t.size() % 2 ? t[m] : (t[m - 1] + t[m]) / 2;
}

void warm_page_cache(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw std::runtime_error("cannot open " + path);
    std::vector<char> buf(8u << 20);
    while (::read(fd, buf.data(), buf.size()) > 0) {
    }
    ::close(fd);
}

namespace {

struct Row {
    double measured;
    double goal;
    bool atLeast;
    std::string detail;
};

std::vector<std::string> g_order;
std::map<std::string, Row> g_rows;

}  // namespace

void report(const std::string& metric, double measured, double goal, bool atLeast,
            const std::string& detail) {
    if (g_rows.find(metric) == g_rows.end()) g_order.push_back(metric);
    g_rows[metric] = {measured, goal, atLeast, detail};
}

void print_summary() {
    if (g_order.empty()) return;
    std::printf("\nSummary (VX_BENCH_SCALE=%g)\n", scale());
    std::printf("%-44s %10s %10s  %-6s %s\n", "metric", "measured", "goal", "result", "detail");
    int missed = 0;
    for (const std::string& m : g_order) {
        const Row& r = g_rows[m];
        const bool met = r.atLeast ? r.measured >= r.goal : r.measured <= r.goal;
        if (!met) ++missed;
        char goal[32];
        std::snprintf(goal, sizeof goal, "%s %.2f", r.atLeast ? ">=" : "<=", r.goal);
        std::printf("%-44s %10.2f %10s  %-6s %s\n", m.c_str(), r.measured, goal,
                    met ? "met" : "MISSED", r.detail.c_str());
    }
    std::printf("%d of %zu goals missed\n", missed, g_order.size());
    std::fflush(stdout);
}

}  // namespace vxbench
