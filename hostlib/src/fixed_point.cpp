// Signed 16.16 fixed-point arithmetic, exact in 64 bits, then rounded and
// saturated to 32.
#include "host_internal.h"

namespace {

int32_t Saturate(int64_t value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

// Rounds numerator / denominator to the nearest integer, halves away from
// zero. |numerator| < 2^62 and denominator > 0 keep everything in range.
int64_t DivideRounded(int64_t numerator, int64_t denominator) {
    const int64_t magnitude = numerator < 0 ? -numerator : numerator;
    const int64_t quotient = (magnitude + denominator / 2) / denominator;
    return numerator < 0 ? -quotient : quotient;
}

}  // namespace

VXHOSTAPI int32_t VXCALL FixedMul(int32_t a, int32_t b) {
    return Saturate(DivideRounded(static_cast<int64_t>(a) * b, 65536));
}

VXHOSTAPI int32_t VXCALL FixedDiv(int32_t a, int32_t b) {
    if (b == 0) return a < 0 ? INT32_MIN : INT32_MAX;
    int64_t numerator = static_cast<int64_t>(a) * 65536;
    int64_t denominator = b;
    if (denominator < 0) {
        numerator = -numerator;
        denominator = -denominator;
    }
    return Saturate(DivideRounded(numerator, denominator));
}
