// The table of error sites against the library's sources and against the
// values the host has always logged.
#include "util/error_sites.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct SourceFile {
    std::string path;  // relative to the source tree
    std::string text;
};

std::vector<SourceFile> library_sources() {
    std::vector<SourceFile> files;
    for (const auto& e : fs::recursive_directory_iterator(VX_SOURCE_DIR)) {
        const std::string ext = e.path().extension().string();
        if (!e.is_regular_file() || (ext != ".cpp" && ext != ".h")) continue;
        std::ifstream in(e.path(), std::ios::binary);
        std::ostringstream text;
        text << in.rdbuf();
        files.push_back({fs::relative(e.path(), VX_SOURCE_DIR).generic_string(), text.str()});
    }
    return files;
}

// Where `pattern` matches in the file, as "path:line: match".
std::vector<std::string> matches(const SourceFile& f, const std::regex& pattern) {
    std::vector<std::string> found;
    for (auto it = std::sregex_iterator(f.text.begin(), f.text.end(), pattern);
         it != std::sregex_iterator(); ++it) {
        const auto at = f.text.begin() + it->position();
        const auto line = std::count(f.text.begin(), at, '\n') + 1;
        found.push_back(f.path + ":" + std::to_string(line) + ": " + it->str());
    }
    return found;
}

// A report can only name a site from the table: nothing outside the table
// spells a source identifier or builds a site, and only the recorder reaches
// the host's log. Every entry is reported from somewhere, so the tool never
// describes a site that no code reports.
TEST(ErrorSites, EveryReportNamesAnEntryAndEveryEntryIsReported) {
    if (!fs::is_directory(VX_SOURCE_DIR)) {
#ifdef _WIN32
        GTEST_SKIP() << "the source tree is not reachable from here: " << VX_SOURCE_DIR;
#else
        FAIL() << "no source tree at " << VX_SOURCE_DIR;
#endif
    }
    const std::vector<SourceFile> files = library_sources();
    ASSERT_GT(files.size(), 20u);

    const std::regex madeSite(R"(\bkSrc\w+|"Src/|\bErrorSite\s*[{(])");
    const std::regex hostCall(R"(\bRecordAVIError\s*\()");
    const std::regex named(R"(\bsite::(\w+::k\w+))");
    std::vector<std::string> stray;
    std::set<std::string> used;
    for (const SourceFile& f : files) {
        if (f.path == "util/error_sites.h") continue;
        for (const std::string& m : matches(f, madeSite)) stray.push_back(m);
        if (f.path != "util/failure_detail.cpp")
            for (const std::string& m : matches(f, hostCall)) stray.push_back(m);
        for (auto it = std::sregex_iterator(f.text.begin(), f.text.end(), named);
             it != std::sregex_iterator(); ++it)
            used.insert((*it)[1].str());
    }
    EXPECT_EQ(stray, std::vector<std::string>{}) << "report through record() with a site::";

    std::set<std::string> names;
    for (const vx::ErrorSite& s : vx::kErrorSites) {
        names.insert(s.name);
        EXPECT_EQ(used.count(s.name), 1u)
            << s.name << " (" << s.source << ":" << s.line << ") is reported nowhere";
    }
    for (const std::string& u : used) EXPECT_EQ(names.count(u), 1u) << u << " has no entry";
}

// The host logs these values and its users look them up: they never change.
TEST(ErrorSites, LoggedValuesAreTheHostsOwn) {
    const std::map<std::string, std::vector<int>> logged = {
        {"Src/VFW/vfw",
         {76,   81,   97,   108,  117,  126,  136,  148,  155,  173,  200,  233,  238, 289, 302,
          352,  360,  363,  375,  378,  389,  409,  459,  477,  809,  858,  901,  906, 940, 1002,
          1005, 1008, 1050, 1053, 1119, 1172, 1182, 1222, 1240, 1250, 1260, 1359, 1420}},
        {"Src/VFW/odml", {205}},
        {"Src/VFW/VfwAviEasy", {287, 334, 479, 483, 529, 553, 572, 602, 614, 644, 831, 1250}},
        {"Src/VFW/vfwcodec", {81, 93, 111, 134, 144, 157, 266, 294, 310, 337}},
    };
    std::map<std::string, std::vector<int>> table;
    for (const vx::ErrorSite& s : vx::kErrorSites) table[s.source].push_back(s.line);
    for (auto& [source, lines] : table) std::sort(lines.begin(), lines.end());
    EXPECT_EQ(table, logged);
    EXPECT_EQ(vx::find_error_site("Src/VFW/vfw", 108), &vx::site::vfw::kNoRiffForm);
    EXPECT_EQ(vx::find_error_site("Src/VFW/odml", 108), nullptr);
}

}  // namespace
