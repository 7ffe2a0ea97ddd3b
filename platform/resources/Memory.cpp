// Handles: a master pointer inside a small block, so the handle stays valid
// while SetHandleSize moves the data.
#include <cstdlib>
#include <cstring>
#include <new>

#include "Resources.h"

namespace {

struct MasterBlock {
    Ptr data;  // first, so a Handle is a pointer to it
    int32_t size;
};

OSErr gMemErr = noErr;

MasterBlock* Block(Handle h) { return reinterpret_cast<MasterBlock*>(h); }

Handle Allocate(int32_t size, bool clear) {
    if (size < 0) {
        gMemErr = paramErr;
        return nullptr;
    }
    auto* block = new (std::nothrow) MasterBlock{nullptr, size};
    void* data = block ? (clear ? std::calloc(size_t(size) + 1, 1) : std::malloc(size_t(size) + 1)) : nullptr;
    if (!data) {
        delete block;
        gMemErr = memFullErr;
        return nullptr;
    }
    block->data = static_cast<Ptr>(data);
    gMemErr = noErr;
    return &block->data;
}

}  // namespace

Handle NewHandle(int32_t size) { return Allocate(size, false); }
Handle NewHandleClear(int32_t size) { return Allocate(size, true); }

void DisposeHandle(Handle h) {
    gMemErr = noErr;
    if (!h) return;
    std::free(*h);
    delete Block(h);
}

int32_t GetHandleSize(Handle h) {
    if (!h) {
        gMemErr = paramErr;
        return 0;
    }
    gMemErr = noErr;
    return Block(h)->size;
}

OSErr SetHandleSize(Handle h, int32_t newSize) {
    if (!h || newSize < 0) return gMemErr = paramErr;
    MasterBlock* block = Block(h);
    void* data = std::realloc(block->data, size_t(newSize) + 1);
    if (!data) return gMemErr = memFullErr;
    block->data = static_cast<Ptr>(data);
    block->size = newSize;
    return gMemErr = noErr;
}

// Blocks never move while anyone holds a pointer into them except through
// SetHandleSize, so locking has nothing to do.
void HLock(Handle) {}
void HUnlock(Handle) {}

OSErr MemError() { return gMemErr; }
