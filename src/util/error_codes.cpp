// Translation between the compiler plug-in interface's small error codes and
// the suite interface's 32-bit result codes.
#include <vxmedia/vxutil.h>

#include <cstdint>

namespace {

// Indexed by the compiler code.
constexpr uint32_t kSuiteCodes[25] = {
    0x00000000, 0x80030000, 0x00030001, 0x00030002, 0x80030001, 0x00030004, 0x00030005,
    0x80030002, 0x80030003, 0x80030004, 0x80030005, 0x80030006, 0x80030007, 0x80030008,
    0x80030009, 0x8003000A, 0x8003000B, 0x8003000C, 0x8003000D, 0x00030006, 0x00030007,
    0x00030008, 0x00030009, 0x0003000A, 0x8003000E,
};

}  // namespace

VXAPI int32_t VXCALL CompilerErrorToSuiteError(int32_t code) {
    const auto index = static_cast<uint32_t>(code);
    return index < 25 ? static_cast<int32_t>(kSuiteCodes[index]) : 0;
}

VXAPI int32_t VXCALL SuiteErrorToCompilerError(int32_t code) {
    if (code == 0) return 0;
    for (int32_t i = 1; i < 25; ++i) {
        if (kSuiteCodes[i] == static_cast<uint32_t>(code)) return i;
    }
    return 0;
}
