// Tables of the exact red-green partial sums of the colour rotation, built
// once per matrix and offset and shared by every call that uses them.
// Internal to effect/.
#pragma once
#include <cstdint>
#include <memory>

#include "effect/pixelEffect.h"

// Lane 0 of every entry is 0 and lanes 1..3 belong to output channels red,
// green and blue, so that a pixel's four lanes line up with its bytes.
struct PairTable {
    // rg[r | g << 8][1 + k] = prod[k][0][r] + prod[k][1][g], the first
    // addition of the plain path, so the rest of the sum is unchanged.
    alignas(64) double rg[65536][4];
    // b[v][1 + k] = prod[k][2][v].
    alignas(64) double b[256][4];
};

// The table for setup's matrix and offset; nullptr only when there is no
// memory for one. Thread-safe; a few recent tables are kept.
std::shared_ptr<const PairTable> PairTableFor(const RotationSetup& setup);
