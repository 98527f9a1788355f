// The classic "idx1" index, or an index rebuilt by walking the movie list
// when the file has none (or was cut short), split into the video and audio
// stream indexes.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "reader/entry_array.h"
#include "reader/reader_internal.h"
#include "util/host.h"

namespace vx::reader {

namespace {

constexpr uint32_t kEntrySize = 16;
// idx1 is read in windows of this many entries, so that loading never holds
// the whole raw index and the final arrays at once.
constexpr uint32_t kWindowEntries = 65536;

struct RawEntry {
    uint32_t ckid;
    uint32_t flags;
    uint32_t offset;
    uint32_t length;
};

RawEntry raw_at(const unsigned char* p) { return {le32(p), le32(p + 4), le32(p + 8), le32(p + 12)}; }

// The raw entries, either in the file ("idx1") or rebuilt in memory.
class RawIndex {
public:
    explicit RawIndex(const HostFile& file) : file_(file) {}

    void use_file(uint64_t position, uint64_t count) {
        filePos_ = position;
        count_ = count;
    }
    // `rebuilt`: the entries come from a walk of the movie list (offsets
    // from the start of the file), not from the file's index.
    void use_memory(std::vector<RawEntry>&& entries, bool rebuilt = true) {
        memory_ = std::move(entries);
        count_ = memory_.size();
        inMemory_ = true;
        rebuilt_ = rebuilt;
    }
    uint64_t count() const { return count_; }
    bool rebuilt() const { return inMemory_ && rebuilt_; }

    // Calls f(entry) for every entry in order; false when a read fails.
    template <class F>
    bool for_each(F&& f) const {
        if (inMemory_) {
            for (const RawEntry& e : memory_) f(e);
            return true;
        }
        std::vector<unsigned char> window;
        for (uint64_t done = 0; done < count_;) {
            const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kWindowEntries, count_ - done));
            window.resize(static_cast<std::size_t>(n) * kEntrySize);
            if (!file_.read(filePos_ + done * kEntrySize, window.data(), n * kEntrySize)) return false;
            for (uint32_t i = 0; i < n; ++i) f(raw_at(window.data() + i * kEntrySize));
            done += n;
        }
        return true;
    }

    bool first(RawEntry* out) const {
        if (count_ == 0) return false;
        if (inMemory_) {
            *out = memory_[0];
            return true;
        }
        unsigned char b[kEntrySize];
        if (!file_.read(filePos_, b, kEntrySize)) return false;
        *out = raw_at(b);
        return true;
    }

private:
    const HostFile& file_;
    uint64_t filePos_ = 0;
    uint64_t count_ = 0;
    std::vector<RawEntry> memory_;
    bool inMemory_ = false;
    bool rebuilt_ = false;
};

// The two-character stream prefix of chunk ids ("01" for stream 1, "0A" for
// stream 10); -1 gets a prefix no id has.
uint16_t prefix_of_stream(int32_t stream) {
    if (stream < 0 || stream > 255) return 0;
    return stream_prefix(static_cast<uint32_t>(stream));
}

// Does the chunk header at `position` carry the id of `e`?
bool chunk_matches(const HostFile& file, int64_t position, const RawEntry& e) {
    RiffChunk c;
    if (position < 0 || !RiffWalker(file).at(static_cast<uint64_t>(position), file.size(), &c))
        return false;
    // An interleave record is indexed by its list type.
    return c.id == e.ckid || (c.typed && c.listType == e.ckid);
}

// Where the index's offsets count from. The header flag says relative to the
// "movi" word; otherwise the first entry is taken to sit right behind it.
// Writers disagree, so the choice is checked against the chunk it names.
int64_t choose_base(const AviReader* reader, const HostFile& file, const RawIndex& raw,
                    uint64_t moviWord) {
    if (raw.rebuilt()) return 0;
    RawEntry first{};
    if (!raw.first(&first)) return static_cast<int64_t>(moviWord);
    const int64_t word = static_cast<int64_t>(moviWord);
    const int64_t computed = (reader->mainHeader.dwFlags & AVIF_MUSTUSEINDEX)
                                 ? word
                                 : word + 4 - static_cast<int64_t>(first.offset);
    for (const int64_t base : {computed, word, int64_t{0}}) {
        if (chunk_matches(file, base + first.offset, first)) return base;
    }
    return computed;
}

class Splitter {
public:
    Splitter(AviReader* reader, const HostFile& file, const RawIndex& raw, int64_t base)
        : reader_(reader), file_(file), raw_(raw), base_(base) {}

    bool run();

private:
    struct Stream {
        uint16_t prefix = 0;
        uint64_t counted = 0;
        EntryArray entries;
        uint32_t chunkId = 0;
        uint32_t wraps = 0;
        uint64_t last = 0;
    };
    void keep(Stream& s, const RawEntry& e);

    AviReader* reader_;
    const HostFile& file_;
    const RawIndex& raw_;
    int64_t base_;
    bool wrapping_ = false;
    Stream video_, audio_;
};

bool Splitter::run() {
    video_.prefix = prefix_of_stream(reader_->videoStream);
    audio_.prefix = prefix_of_stream(reader_->audioStream);
    auto prefix_of = [](const RawEntry& e) { return static_cast<uint16_t>(e.ckid & 0xFFFF); };
    const bool hasVideo = reader_->videoStream >= 0;
    const bool hasAudio = reader_->audioStream >= 0;

    if (!raw_.for_each([&](const RawEntry& e) {
            if (hasVideo && prefix_of(e) == video_.prefix)
                ++video_.counted;
            else if (hasAudio && prefix_of(e) == audio_.prefix)
                ++audio_.counted;
        }))
        return false;
    if (video_.counted > UINT32_MAX || audio_.counted > UINT32_MAX) return false;
    if (!video_.entries.reserve(video_.counted) || !audio_.entries.reserve(audio_.counted))
        return false;

    // Offsets of files of 4 GiB and more may have wrapped at 32 bits.
    wrapping_ = (file_.size() >> 32) != 0;
    bool notKey = false, empty = false;
    if (!raw_.for_each([&](const RawEntry& e) {
            if (hasVideo && prefix_of(e) == video_.prefix) {
                if (e.flags & AVIIF_NO_TIME) return;
                if (e.length == 0)
                    empty = true;
                else if (!(e.flags & AVIIF_KEYFRAME))
                    notKey = true;
                keep(video_, e);
            } else if (hasAudio && prefix_of(e) == audio_.prefix) {
                keep(audio_, e);
            }
        }))
        return false;

    if (wrapping_ && std::max(video_.wraps, audio_.wraps) > (file_.size() >> 32)) {
        // More wraps than the file has 4 GiB parts: the offsets never wrapped.
        for (Stream* s : {&video_, &audio_}) {
            AviIndexEntry* p = s->entries.tail() - s->entries.count();
            for (uint64_t i = 0; i < s->entries.count(); ++i) p[i].offset &= 0xFFFFFFFFu;
        }
    }
    reader_->indexFlags = (notKey ? AVI_INDEXFLAG_NOTKEY : 0u) | (empty ? AVI_INDEXFLAG_EMPTY : 0u);
    video_.entries.hand_to(&reader_->videoIndex, video_.chunkId);
    audio_.entries.hand_to(&reader_->audioIndex, audio_.chunkId);
    return true;
}

void Splitter::keep(Stream& s, const RawEntry& e) {
    if (s.entries.count() == 0) s.chunkId = e.ckid;
    uint64_t offset = static_cast<uint64_t>(base_ + static_cast<int64_t>(e.offset) + 8);
    if (wrapping_) {
        offset &= 0xFFFFFFFFu;
        if (s.entries.count() != 0 && offset < (s.last & 0xFFFFFFFFu)) ++s.wraps;
        s.last = offset;
        offset |= static_cast<uint64_t>(s.wraps) << 32;
    }
    s.entries.push({offset, e.length, e.flags & ~0x40000000u});
}

// Walks the movie list from `from`, one entry per chunk, with offsets from
// `base`; the chunks of a record list are walked as if they stood in the
// movie list itself.
void rebuild(RiffWalker& walker, const RiffChunk& movi, uint64_t from, int64_t base,
             std::vector<RawEntry>* out) {
    walker.seek(from);
    RiffChunk c;
    while (walker.enter(movi.end, &c)) {
        // A chunk cut off by the end of the file keeps the bytes it has.
        const uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(c.size, c.available()));
        const int64_t offset = static_cast<int64_t>(c.headerPos) - base;
        if (offset >= 0 && offset <= INT64_C(0xFFFFFFFF))
            out->push_back({c.id, 0, static_cast<uint32_t>(offset), c.isList() ? c.size : length});
        if (!c.isList()) walker.leave(c);
    }
}

// An idx1 that ends inside its entries lost the entries of the last chunks,
// which may still be whole in the movie list: they are added from a walk of
// the list after the last indexed chunk. An added chunk is a key frame when
// every indexed chunk of its stream is one (intra-only data); otherwise it
// carries no flags, as in a rebuilt index. Whatever the walk finds is bounded
// by the movie list and the file, as in a rebuild.
void complete_from_movie_list(RiffWalker& walker, const RiffChunk& movi, int64_t base,
                              std::vector<RawEntry>* entries) {
    uint64_t end = 0;
    for (const RawEntry& e : *entries) {
        const int64_t chunkEnd = base + static_cast<int64_t>(e.offset) + 8 + e.length + (e.length & 1);
        if (chunkEnd > 0) end = std::max(end, static_cast<uint64_t>(chunkEnd));
    }
    if (end < movi.dataPos() + 4 || end >= movi.end) return;
    // Per stream prefix: 0 no indexed frame, 1 all key frames, 2 not all.
    // Empty entries (dropped frames) carry no flags and are no frames.
    std::vector<uint8_t> keyed(0x10000, 0);
    for (const RawEntry& e : *entries) {
        if (e.length == 0) continue;
        uint8_t& k = keyed[e.ckid & 0xFFFF];
        if (k != 2) k = (e.flags & AVIIF_KEYFRAME) ? 1 : 2;
    }
    const std::size_t indexed = entries->size();
    rebuild(walker, movi, end, base, entries);
    for (std::size_t i = indexed; i < entries->size(); ++i) {
        RawEntry& added = (*entries)[i];
        if (keyed[added.ckid & 0xFFFF] == 1) added.flags = AVIIF_KEYFRAME;
    }
}

// Some writers store odd chunk sizes in idx1 rounded up to even, pad byte
// included. The chunk header before the data holds the true size: when the
// index size is that size plus its pad byte, the header wins. Checking every
// header costs a read per chunk, so the headers behind the first even-sized
// entries are asked first, and only a file whose writer is caught doing it
// has all of its even-sized entries checked.
constexpr uint32_t kPadProbes = 16;

bool padded_entry(const HostFile& file, const AviIndexEntry& e, uint32_t* trueSize) {
    RiffChunk c;
    if (e.size == 0 || (e.size & 1u) != 0 || e.offset < 8 ||
        !RiffWalker(file).at(e.offset - 8, file.size(), &c))
        return false;
    if ((c.size & 1u) == 0 || c.size + 1 != e.size) return false;
    *trueSize = c.size;
    return true;
}

void unpad_sizes(const HostFile& file, AviStreamIndex* video, AviStreamIndex* audio) {
    bool padding = false;
    uint32_t probes = 0, size = 0;
    for (const AviStreamIndex* index : {video, audio}) {
        for (uint32_t i = 0; i < index->count && probes < kPadProbes && !padding; ++i) {
            const AviIndexEntry& e = index->entries[i];
            if (e.size == 0 || (e.size & 1u) != 0) continue;
            ++probes;
            padding = padded_entry(file, e, &size);
        }
    }
    if (!padding) return;
    for (AviStreamIndex* index : {video, audio})
        for (uint32_t i = 0; i < index->count; ++i)
            if (padded_entry(file, index->entries[i], &size)) index->entries[i].size = size;
}

}  // namespace

void clear_index(AviStreamIndex* index) {
    std::free(index->entries);
    index->entries = nullptr;
    index->count = 0;
    index->chunkId = 0;
}

VXRESULT load_classic_index(AviReader* reader, RiffWalker& walker, const RiffChunk& movi,
                            const RiffChunk& form) {
    const HostFile& file = walker.file();
    RawIndex raw(file);

    // A movie list that runs past the end of the file was cut short: its idx1
    // is gone, so the index is rebuilt from what is there.
    bool found = false, cut = false;
    if (!movi.truncated()) {
        RiffChunk idx1;
        walker.seek(movi.declaredEnd() + (movi.size & 1u));
        // The form's own size is not trusted here: some writers store it too
        // short, so the "idx1" behind the movie list would fall outside it.
        (void)form;
        if (walker.find(file.size(), fourcc("idx1"), 0, &idx1) && idx1.size >= kEntrySize) {
            // A cut-off idx1 keeps its whole entries.
            const uint64_t count = std::min<uint64_t>(idx1.size, idx1.available()) / kEntrySize;
            raw.use_file(idx1.dataPos(), count);
            found = count != 0;
            cut = idx1.truncated() || idx1.size % kEntrySize != 0;
        }
    }
    if (!found) {
        std::vector<RawEntry> entries;
        try {
            entries.reserve(256);
            rebuild(walker, movi, movi.dataPos() + 4, 0, &entries);
        } catch (const std::bad_alloc&) {
            return record(AVIERR_MEMORY, site::vfw::kIdx1Memory);
        }
        raw.use_memory(std::move(entries));
    }

    clear_index(&reader->videoIndex);
    clear_index(&reader->audioIndex);
    const int64_t base = choose_base(reader, file, raw, movi.dataPos());
    if (cut) {
        // Held in memory: the count is of whole entries the file holds.
        std::vector<RawEntry> entries;
        try {
            entries.reserve(static_cast<std::size_t>(raw.count()) + 16);
            if (!raw.for_each([&](const RawEntry& e) { entries.push_back(e); }))
                return record(AVIERR_FILEREAD, site::vfw::kIdx1Read);
            complete_from_movie_list(walker, movi, base, &entries);
        } catch (const std::bad_alloc&) {
            return record(AVIERR_MEMORY, site::vfw::kIdx1Memory);
        }
        raw.use_memory(std::move(entries), false);
    }
    Splitter splitter(reader, file, raw, base);
    bool ok = false;
    try {
        ok = splitter.run();
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    if (!ok) {
        clear_index(&reader->videoIndex);
        clear_index(&reader->audioIndex);
        return found ? record(AVIERR_FILEREAD, site::vfw::kIdx1Read)
                     : record(AVIERR_MEMORY, site::vfw::kIdx1Memory);
    }
    // A walked movie list has the headers' sizes already.
    if (found) unpad_sizes(file, &reader->videoIndex, &reader->audioIndex);
    return 0;
}

}  // namespace vx::reader
