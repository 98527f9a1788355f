// The installation's profile on Linux: the user's INI file, then the one
// installed with the library, whose keys count only where the user's file
// lacks them. Read on every query so that a changed file is seen, as the
// platform's profile calls see theirs.
#include <strings.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/posix/install_paths.h"
#include "platform/profile.h"

namespace vx::platform {

namespace {

std::string user_profile_path() {
    if (const char* p = std::getenv("VXMEDIA_PROFILE"); p != nullptr && p[0] != '\0') return p;
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0')
        return std::string(home) + "/.config/vxmedia/profile.ini";
    return {};
}

// The files in the order their keys win.
std::vector<std::string> profile_paths() {
    std::vector<std::string> paths;
    for (std::string p : {user_profile_path(), installed_profile_path()})
        if (!p.empty()) paths.push_back(std::move(p));
    return paths;
}

std::string trim(const std::string& s) {
    const char* ws = " \t\r\n";
    const auto b = s.find_first_not_of(ws);
    if (b == std::string::npos) return {};
    const auto e = s.find_last_not_of(ws);
    return s.substr(b, e - b + 1);
}

// Calls `visit(key, value)` for each key of `section` in one file, in file
// order, until it returns false. False when the file cannot be read.
template <class Visit>
bool for_each_key_in(const std::string& path, const char* section, Visit visit) {
    if (section == nullptr) return false;
    std::ifstream in(path);
    if (!in) return false;
    std::string line;
    bool in_section = false;
    while (std::getline(in, line)) {
        const std::string t = trim(line);
        if (t.empty() || t[0] == ';' || t[0] == '#') continue;
        if (t.front() == '[') {
            const auto close = t.find(']');
            const std::string name =
                trim(t.substr(1, close == std::string::npos ? t.size() - 1 : close - 1));
            in_section = strcasecmp(name.c_str(), section) == 0;
            continue;
        }
        if (!in_section) continue;
        const auto eq = t.find('=');
        if (eq == std::string::npos) continue;
        if (!visit(trim(t.substr(0, eq)), t.substr(eq + 1))) return true;
    }
    return true;
}

// The same over every file, the user's first, until `visit` returns false.
template <class Visit>
void for_each_key(const char* section, Visit visit) {
    for (const std::string& path : profile_paths()) {
        bool go_on = true;
        for_each_key_in(path, section, [&](const std::string& key, const std::string& value) {
            go_on = visit(key, value);
            return go_on;
        });
        if (!go_on) return;
    }
}

std::optional<std::string> lookup(const char* section, const char* key) {
    if (key == nullptr) return std::nullopt;
    std::optional<std::string> found;
    for_each_key(section, [&](const std::string& name, const std::string& raw) {
        if (strcasecmp(name.c_str(), key) != 0) return true;
        std::string value = trim(raw);
        // Quotes around a whole value are dropped, as the platform does.
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        found = std::move(value);
        return false;
    });
    return found;
}

}  // namespace

uint32_t profile_int(const char* section, const char* key, int32_t fallback) {
    const auto v = lookup(section, key);
    if (!v) return static_cast<uint32_t>(fallback);
    const char* s = v->c_str();
    bool negative = false;
    if (*s == '-') {
        negative = true;
        ++s;
    }
    uint32_t n = 0;
    while (*s >= '0' && *s <= '9') {
        n = n * 10u + static_cast<uint32_t>(*s - '0');
        ++s;
    }
    return negative ? 0u - n : n;
}

std::size_t profile_string(const char* section, const char* key, const char* fallback, char* out,
                           std::size_t size) {
    if (out == nullptr || size == 0) return 0;
    const auto v = lookup(section, key);
    const char* src = v ? v->c_str() : (fallback != nullptr ? fallback : "");
    std::size_t n = std::strlen(src);
    if (n > size - 1) n = size - 1;
    std::memcpy(out, src, n);
    out[n] = '\0';
    return n;
}

std::vector<std::string> profile_keys(const char* section) {
    std::vector<std::string> keys;
    for_each_key(section, [&](const std::string& key, const std::string&) {
        // A repeated name is one key, also across the files: lookups find
        // its first value, the user's where the user's file has it.
        bool seen = false;
        for (const auto& k : keys) seen = seen || strcasecmp(k.c_str(), key.c_str()) == 0;
        if (!seen) keys.push_back(key);
        return true;
    });
    return keys;
}

}  // namespace vx::platform
