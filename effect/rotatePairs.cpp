#include "effect/rotatePairs.h"

#include <cstring>
#include <mutex>
#include <new>

namespace {

// Each table is 2 MB; a render uses one, the dialog's preview another, and a
// host may run a few differently set filters side by side.
const int cKeptTables = 4;

struct Key {
    double m[3][3];
    uint8_t offset[3];
};

Key KeyOf(const RotationSetup& s) {
    Key k;
    std::memset(&k, 0, sizeof k);
    for (int c = 0; c < 3; ++c)
        for (int j = 0; j < 3; ++j) k.m[c][j] = s.rotMatrix.m[c][j];
    std::memcpy(k.offset, s.offset, 3);
    return k;
}

// Bitwise: -0.0 and 0.0 give products of different signs.
bool SameKey(const Key& a, const Key& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

struct Slot {
    Key key;
    std::shared_ptr<const PairTable> table;
    uint64_t used = 0;
};

std::mutex gMutex;
Slot gSlots[cKeptTables];
uint64_t gClock = 0;

std::shared_ptr<const PairTable> Build(const RotationSetup& s) {
    std::shared_ptr<PairTable> t(new (std::nothrow) PairTable);
    if (!t) return nullptr;
    for (int g = 0; g < 256; ++g)
        for (int r = 0; r < 256; ++r) {
            double* e = t->rg[r | g << 8];
            e[0] = 0.0;
            for (int k = 0; k < 3; ++k) e[1 + k] = s.prod[k][0][r] + s.prod[k][1][g];
        }
    for (int v = 0; v < 256; ++v) {
        t->b[v][0] = 0.0;
        for (int k = 0; k < 3; ++k) t->b[v][1 + k] = s.prod[k][2][v];
    }
    return t;
}

}  // namespace

std::shared_ptr<const PairTable> PairTableFor(const RotationSetup& setup) {
    const Key key = KeyOf(setup);
    // Built under the lock: the other threads of the same frame want the same
    // table and would only build it again.
    std::lock_guard<std::mutex> lk(gMutex);
    Slot* oldest = &gSlots[0];
    for (Slot& s : gSlots) {
        if (s.table && SameKey(s.key, key)) {
            s.used = ++gClock;
            return s.table;
        }
        if (s.used < oldest->used) oldest = &s;
    }
    std::shared_ptr<const PairTable> t = Build(setup);
    if (!t) return nullptr;
    oldest->key = key;
    oldest->table = t;  // an evicted table lives on while a call still holds it
    oldest->used = ++gClock;
    return t;
}
