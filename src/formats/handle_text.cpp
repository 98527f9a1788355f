// Text appended to a growing NUL-terminated text in a host handle.
#include <VexaInfo.h>
#include <vxmedia/vxformats.h>

#include <cstring>

VXAPI uint32_t VXCALL AddHandleText(VxHandle handle, uint32_t* length, const char* text,
                                    const HostMemFuncs* mem) {
    if (handle == nullptr || length == nullptr || text == nullptr || mem == nullptr ||
        mem->setHandleSize == nullptr || mem->getHandleSize == nullptr)
        return 0;
    const size_t n = std::strlen(text);
    if (n == 0) return 0;
    const uint64_t need = uint64_t{*length} + n + 1;
    if (need > UINT32_MAX) return 0;
    mem->setHandleSize(handle, static_cast<uint32_t>(need));
    // A resize that failed leaves the handle as it was: writing on would run
    // past its block.
    if (*handle == nullptr || mem->getHandleSize(handle) < need) return 0;
    std::memcpy(static_cast<char*>(*handle) + *length, text, n + 1);
    *length += static_cast<uint32_t>(n);
    return static_cast<uint32_t>(n);
}

VXAPI uint32_t VXCALL AddHandleStr(VxHandle handle, uint32_t* length, int32_t index,
                                   const HostMemFuncs* mem) {
    // The host's string lists are indexed by 16-bit numbers from 1.
    if (index < 1 || index > INT16_MAX) return 0;
    char text[256] = {};
    GetIndString(text, VXHOST_STRLIST_REPORT, static_cast<int16_t>(index));
    text[sizeof text - 1] = '\0';
    return AddHandleText(handle, length, text, mem);
}
