/* Hosts and plug-ins include the public headers from C, after the platform's
 * own headers on Windows. This file only has to compile. */
#ifdef _WIN32
#include <windows.h>
#include <vfw.h>
#endif
#include <VexaInfo.h>
#include <vxmedia/vxmedia.h>
/* What driver modules build against. */
#include <vxmedia/acm_driver.h>
#include <vxmedia/driver.h>

int vx_c_header_check(void);
int vx_c_header_check(void) {
    AviReader* reader = 0;
    MainAVIHeader* header = aviGetAVIHeader(reader);
    AviStreamSummary summary;
    const HostMemFuncs* mem = VxHostMemFuncs();
    (void)summary;
    return header == 0 && mem != 0 && sizeof(AviFrameInfo) == 8;
}
