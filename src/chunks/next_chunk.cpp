// Iteration over the chunks of a file, one map per iteration.
#include <vxmedia/avichunks.h>
#include <vxmedia/vxutil.h>

#include <memory>
#include <new>

#include "chunks/chunk_io.h"
#include "chunks/chunk_tree.h"

using vx::chunks::ChunkTree;

VXAPI int32_t VXCALL vfwGetNextChunk(HANDLE file, void** iteration, void** data, uint32_t* size,
                                     FOURCC ckid, FOURCC listType) {
    if (iteration == nullptr || size == nullptr) return 0;
    auto* tree = static_cast<ChunkTree*>(*iteration);
    if (tree == nullptr) {
        auto fresh = std::unique_ptr<ChunkTree>(new (std::nothrow) ChunkTree);
        if (fresh == nullptr || fresh->build(file) != vx::chunks::BuildResult::kOk ||
            fresh->empty()) {
            return 0;  // nothing to iterate: no map stays behind
        }
        tree = fresh.release();
        *iteration = tree;
    }
    const std::size_t i = tree->find(ckid, listType, tree->cursor);
    if (i >= tree->count()) {
        delete tree;
        *iteration = nullptr;
        return 0;
    }
    tree->cursor = i + 1;
    const vx::chunks::ChunkRecord& r = (*tree)[i];
    *size = r.size;
    if (r.size == 0 || data == nullptr) return 1;
    void* copy = nullptr;
    // Data that runs past the end of the file cannot be read: no allocation.
    if (!vx::chunks::no_file(file) && r.position <= tree->fileEnd &&
        r.size <= tree->fileEnd - r.position) {
        copy = VxAllocData(r.size);
        if (copy != nullptr && vx::chunks::read_at(file, copy, r.size, r.position) != 0) {
            VxDisposeData(copy);
            copy = nullptr;
        }
    }
    *data = copy;
    return 1;
}
