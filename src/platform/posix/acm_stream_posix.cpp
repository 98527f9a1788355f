// The audio compression manager on Linux, conversion streams: a stream is
// the manager's record (the driver, copies of both formats, the driver's
// stream instance) and the headers prepared on it. Callers' headers are
// checked against what was prepared before a driver sees them, and what a
// driver answers is checked against the lengths it was given.
#include <vxmedia/acm_driver.h>

#include <algorithm>
#include <memory>
#include <new>

#include "platform/audio_codec.h"
#include "platform/posix/acm_driver_calls.h"
#include "platform/posix/acm_handles.h"
#include "platform/posix/acm_records.h"

namespace vx::platform {

using acm::OpenDriver;
using acm::PreparedHeader;
using acm::Stream;

namespace {

constexpr uint32_t kConvertFlags =
    kAcmStreamConvertBlockAlign | kAcmStreamConvertStart | kAcmStreamConvertEnd;

// Asks `driver` to open the stream; on success the stream holds the
// driver's state in its instance.
uint32_t open_on(OpenDriver* driver, const WAVEFORMATEX* source, const WAVEFORMATEX* destination,
                 uint32_t flags, Stream* stream) {
    const uint32_t limit = acm::largest_format(driver);
    if (const uint32_t r = acm::copy_format(source, limit, &stream->source); r != kMmNoError)
        return r;
    if (const uint32_t r = acm::copy_format(destination, limit, &stream->destination);
        r != kMmNoError)
        return r;
    if ((flags & kAcmStreamOpenQuery) != 0)
        return acm::query_conversion(driver, stream->source, stream->destination);
    VxAcmDrvStreamInstance& instance = stream->instance;
    instance = {};
    instance.cbStruct = sizeof instance;
    instance.pwfxSrc = acm::as_format(stream->source);
    instance.pwfxDst = acm::as_format(stream->destination);
    instance.fdwOpen = flags;
    instance.has = stream;
    return driver->send(VX_ACMDM_STREAM_OPEN, reinterpret_cast<intptr_t>(&instance), 0);
}

PreparedHeader* prepared_of(Stream* stream, const AcmStreamHeader* header) {
    for (const auto& p : stream->prepared)
        if (p->caller == header) return p.get();
    return nullptr;
}

bool header_usable(const AcmStreamHeader* header) {
    return header != nullptr && header->cbStruct >= sizeof *header;
}

intptr_t arg(const void* p) { return reinterpret_cast<intptr_t>(p); }

}  // namespace

uint32_t acm_stream_open(AcmStream* stream, AcmDriver driver, const WAVEFORMATEX* source,
                         const WAVEFORMATEX* destination, uint32_t flags) {
    if ((flags & ~(kAcmStreamOpenQuery | kAcmStreamOpenNonRealtime | kAcmStreamOpenAsync)) != 0)
        return kMmErrorInvalidFlag;
    // Nothing here converts in the background, and there is no callback.
    if ((flags & kAcmStreamOpenAsync) != 0) return kMmErrorInvalidFlag;
    const bool query = (flags & kAcmStreamOpenQuery) != 0;
    if (stream != nullptr) *stream = nullptr;
    if ((stream == nullptr && !query) || source == nullptr || destination == nullptr)
        return kMmErrorInvalidParam;
    try {
        auto made = std::make_unique<Stream>();
        uint32_t result = kAcmErrorNotPossible;
        if (driver != nullptr) {
            OpenDriver* open = acm::find_driver(driver);
            if (open == nullptr) return kMmErrorInvalidHandle;
            result = open_on(open, source, destination, flags, made.get());
            if (result != kMmNoError || query) return result;
            made->driver = open;
        } else {
            // The first enabled driver that takes the conversion. A format
            // larger than every driver's largest is the caller's error; one
            // too large for some drivers only is theirs to refuse.
            bool asked = false, readable = false;
            uint32_t failure = kMmNoError;
            for (acm::DriverId* id : acm::enabled_drivers()) {
                uint32_t opened = kMmNoError;
                OpenDriver* open = acm::open_driver(id, &opened);
                if (open == nullptr) continue;
                asked = true;
                const uint32_t r = open_on(open, source, destination, flags, made.get());
                if (r == kMmNoError && !query) {
                    made->driver = open;
                    made->ownsDriver = true;
                    result = r;
                    break;
                }
                acm::close_driver(open);
                if (r == kMmNoError) return r;
                if (r == kAcmErrorNotPossible) readable = true;
                if (r != kAcmErrorNotPossible && r != kMmErrorInvalidParam) failure = r;
            }
            if (result != kMmNoError && failure != kMmNoError) return failure;
            if (result != kMmNoError)
                return readable || !asked ? kAcmErrorNotPossible : kMmErrorInvalidParam;
        }
        Stream* s = made.get();
        if (!acm::add_stream(s)) {
            s->driver->send(VX_ACMDM_STREAM_CLOSE, arg(&s->instance), 0);
            if (s->ownsDriver) acm::close_driver(s->driver);
            return kMmErrorNoMemory;
        }
        if (!s->ownsDriver) ++s->driver->streams;
        *stream = made.release();
        return kMmNoError;
    } catch (const std::bad_alloc&) {
        return kMmErrorNoMemory;
    }
}

uint32_t acm_stream_size(AcmStream stream, uint32_t bytes, uint32_t* outBytes, uint32_t flags) {
    if (flags != kAcmStreamSizeSource && flags != kAcmStreamSizeDestination)
        return kMmErrorInvalidFlag;
    if (outBytes == nullptr) return kMmErrorInvalidParam;
    Stream* s = acm::find_stream(stream);
    if (s == nullptr) return kMmErrorInvalidHandle;
    VxAcmDrvStreamSize size{};
    size.cbStruct = sizeof size;
    size.fdwSize = flags;
    (flags == kAcmStreamSizeSource ? size.cbSrcLength : size.cbDstLength) = bytes;
    const uint32_t r = s->driver->send(VX_ACMDM_STREAM_SIZE, arg(&s->instance), arg(&size));
    if (r != kMmNoError) return r;
    *outBytes = flags == kAcmStreamSizeSource ? size.cbDstLength : size.cbSrcLength;
    return kMmNoError;
}

uint32_t acm_stream_prepare_header(AcmStream stream, AcmStreamHeader* header, uint32_t flags) {
    if (flags != 0) return kMmErrorInvalidFlag;
    Stream* s = acm::find_stream(stream);
    if (s == nullptr) return kMmErrorInvalidHandle;
    if (!header_usable(header) || header->pbSrc == nullptr || header->pbDst == nullptr)
        return kMmErrorInvalidParam;
    if (prepared_of(s, header) != nullptr) return kMmNoError;
    try {
        auto p = std::make_unique<PreparedHeader>();
        p->caller = header;
        VxAcmDrvStreamHeader& d = p->driver;
        d.cbStruct = sizeof d;
        d.dwUser = header->dwUser;
        d.pbSrc = d.pbPreparedSrc = header->pbSrc;
        d.cbSrcLength = d.cbPreparedSrcLength = header->cbSrcLength;
        d.dwSrcUser = header->dwSrcUser;
        d.pbDst = d.pbPreparedDst = header->pbDst;
        d.cbDstLength = d.cbPreparedDstLength = header->cbDstLength;
        d.dwDstUser = header->dwDstUser;
        const uint32_t r = s->driver->send(VX_ACMDM_STREAM_PREPARE, arg(&s->instance), arg(&d));
        // A driver with nothing to prepare leaves it to the manager.
        if (r != kMmNoError && r != kMmErrorNotSupported) return r;
        d.fdwStatus = kAcmStreamHeaderPrepared;
        s->prepared.push_back(std::move(p));
    } catch (const std::bad_alloc&) {
        return kMmErrorNoMemory;
    }
    header->fdwStatus = (header->fdwStatus & ~kAcmStreamHeaderDone) | kAcmStreamHeaderPrepared;
    return kMmNoError;
}

uint32_t acm_stream_convert(AcmStream stream, AcmStreamHeader* header, uint32_t flags) {
    if ((flags & ~kConvertFlags) != 0) return kMmErrorInvalidFlag;
    Stream* s = acm::find_stream(stream);
    if (s == nullptr) return kMmErrorInvalidHandle;
    if (!header_usable(header)) return kMmErrorInvalidParam;
    PreparedHeader* p = prepared_of(s, header);
    if (p == nullptr || (header->fdwStatus & kAcmStreamHeaderPrepared) == 0)
        return kAcmErrorUnprepared;
    // The buffers are the prepared ones; their lengths may shrink, never grow.
    VxAcmDrvStreamHeader& d = p->driver;
    if (header->pbSrc != d.pbPreparedSrc || header->pbDst != d.pbPreparedDst ||
        header->cbSrcLength > d.cbPreparedSrcLength || header->cbDstLength > d.cbPreparedDstLength)
        return kMmErrorInvalidParam;
    d.cbSrcLength = header->cbSrcLength;
    d.cbDstLength = header->cbDstLength;
    d.cbSrcLengthUsed = d.cbDstLengthUsed = 0;
    d.fdwConvert = flags;
    d.fdwStatus = kAcmStreamHeaderPrepared;
    header->fdwStatus &= ~kAcmStreamHeaderDone;
    const uint32_t r = s->driver->send(VX_ACMDM_STREAM_CONVERT, arg(&s->instance), arg(&d));
    if (r == kMmNoError && (d.cbSrcLengthUsed > d.cbSrcLength || d.cbDstLengthUsed > d.cbDstLength))
        return kMmErrorError;  // a driver that claims more than it was given
    header->cbSrcLengthUsed = r == kMmNoError ? d.cbSrcLengthUsed : 0;
    header->cbDstLengthUsed = r == kMmNoError ? d.cbDstLengthUsed : 0;
    header->fdwStatus |= kAcmStreamHeaderDone;
    return r;
}

uint32_t acm_stream_unprepare_header(AcmStream stream, AcmStreamHeader* header, uint32_t flags) {
    if (flags != 0) return kMmErrorInvalidFlag;
    Stream* s = acm::find_stream(stream);
    if (s == nullptr) return kMmErrorInvalidHandle;
    if (!header_usable(header)) return kMmErrorInvalidParam;
    auto at = std::find_if(s->prepared.begin(), s->prepared.end(),
                           [&](const auto& p) { return p->caller == header; });
    if (at == s->prepared.end()) return kAcmErrorUnprepared;
    const uint32_t r =
        s->driver->send(VX_ACMDM_STREAM_UNPREPARE, arg(&s->instance), arg(&(*at)->driver));
    if (r != kMmNoError && r != kMmErrorNotSupported) return r;
    s->prepared.erase(at);
    header->fdwStatus &= ~kAcmStreamHeaderPrepared;
    return kMmNoError;
}

uint32_t acm_stream_close(AcmStream stream, uint32_t flags) {
    if (flags != 0) return kMmErrorInvalidFlag;
    Stream* s = acm::find_stream(stream);
    if (s == nullptr) return kMmErrorInvalidHandle;
    acm::remove_stream(s);
    // Headers still prepared are forgotten without being written to: their
    // memory may be gone by now.
    for (const auto& p : s->prepared)
        s->driver->send(VX_ACMDM_STREAM_UNPREPARE, arg(&s->instance), arg(&p->driver));
    s->driver->send(VX_ACMDM_STREAM_CLOSE, arg(&s->instance), 0);
    if (s->ownsDriver)
        acm::close_driver(s->driver);
    else
        --s->driver->streams;
    delete s;
    return kMmNoError;
}

}  // namespace vx::platform
