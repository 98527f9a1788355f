// A host's C++ source includes the platform's headers first; the published
// records must then be the platform's own, not copies.
#ifdef _WIN32
#include <windows.h>
#include <vfw.h>
#endif
#include <VexaInfo.h>
#include <vxmedia/vxmedia.h>

#include <type_traits>

#ifdef _WIN32
static_assert(std::is_same_v<decltype(AviStreamRecord::header), ::AVIStreamHeader>);
static_assert(std::is_same_v<decltype(AviReader::mainHeader), ::MainAVIHeader>);
static_assert(std::is_same_v<HANDLE, ::HANDLE>);
#endif
static_assert(sizeof(AviStreamRecord::header) == 64);

int vx_cpp_header_check() { return static_cast<int>(sizeof(AviReader) != 0); }
