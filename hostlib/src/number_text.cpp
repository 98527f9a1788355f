// Numbers and byte counts as short human-readable text.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "host_internal.h"

namespace {

// Callers provide at least this much room.
constexpr size_t kTextSize = 64;

int ClampDecimals(int32_t decimals) {
    return decimals < 0 ? 0 : (decimals > 10 ? 10 : static_cast<int>(decimals));
}

// Writes sign, value with `decimals` places and suffix; when that would not
// fit, exponent form keeps the value readable instead of cutting digits off.
void FormatFitting(char* text, const char* sign, double value, int decimals, const char* suffix) {
    char out[512];  // %f of the largest double is about 320 chars
    int length = std::snprintf(out, sizeof(out), "%s%.*f%s", sign, decimals, value, suffix);
    if (length < 0 || static_cast<size_t>(length) >= kTextSize) {
        length = std::snprintf(out, sizeof(out), "%s%.*e%s", sign, decimals, value, suffix);
    }
    const size_t copy = length < 0 ? 0 : std::min(static_cast<size_t>(length), kTextSize - 1);
    std::memcpy(text, out, copy);
    text[copy] = '\0';
}

void NonFinite(double value, char* text, const char* suffix) {
    const char* word = std::isnan(value) ? "NaN" : (value < 0 ? "-inf" : "inf");
    std::snprintf(text, kTextSize, "%s%s", word, suffix);
}

// `magnitude` is a non-negative byte count.
void FormatBytes(double magnitude, bool negative, char* text, int decimals) {
    static constexpr const char* kUnits[] = {"KB", "MB", "GB", "TB", "PB", "EB", "ZB", "YB"};
    if (const double whole = std::round(magnitude); whole < 1024.0) {
        std::snprintf(text, kTextSize, "%s%.0f %s", (negative && whole != 0.0) ? "-" : "", whole,
                      whole == 1.0 ? "byte" : "bytes");
        return;
    }
    const char* sign = negative ? "-" : "";
    const double scale = std::pow(10.0, decimals);
    size_t unit = 0;
    double value = magnitude / 1024.0;
    // Step up while the value would round to 1024 or more in this unit, so
    // 1048575 bytes reads "1.00 MB" rather than "1024.00 KB".
    while (unit + 1 < std::size(kUnits) && std::round(value * scale) / scale >= 1024.0) {
        value /= 1024.0;
        ++unit;
    }
    char suffix[8];
    std::snprintf(suffix, sizeof(suffix), " %s", kUnits[unit]);
    FormatFitting(text, sign, value, decimals, suffix);
}

}  // namespace

VXHOSTAPI void VXCALL VxBytes64ToStr(uint32_t low, uint32_t high, char* text, int32_t decimals) {
    if (!text) return;
    const uint64_t bytes = (static_cast<uint64_t>(high) << 32) | low;
    if (bytes < 1024) {
        std::snprintf(text, kTextSize, "%u %s", static_cast<unsigned>(bytes),
                      bytes == 1 ? "byte" : "bytes");
        return;
    }
    FormatBytes(static_cast<double>(bytes), false, text, ClampDecimals(decimals));
}

VXHOSTAPI void VXCALL VxBytesFToStr(double value, char* text, int32_t decimals) {
    if (!text) return;
    if (!std::isfinite(value)) {
        NonFinite(value, text, " bytes");
        return;
    }
    FormatBytes(std::fabs(value), value < 0, text, ClampDecimals(decimals));
}

VXHOSTAPI void VXCALL VxFloatToStr(double value, char* text, int32_t decimals) {
    if (!text) return;
    if (!std::isfinite(value)) {
        NonFinite(value, text, "");
        return;
    }
    FormatFitting(text, "", value, ClampDecimals(decimals), "");
}
