// `vexolumen lut`: the look's colour transform as a lookup table that other
// programs apply, computed by the effect's own render driver.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct LutOptions {
    std::string out;     // .png: Hald CLUT (or OBS's layout); .cube: 3-D cube
    std::string preset;  // empty: the saved settings
    int level = 0;       // Hald level 2..16; 0: the default (16)
    int size = 0;        // cube points 2..256; 0: the default (65)
    bool obsLayout = false;
    bool overwrite = false;
    bool progress = false;  // report progress and the result on stderr
};

void RunLut(const LutOptions& options);

// The byte of entry i of n along one axis: the identity table's own value,
// round(i * 255 / (n - 1)), halves up.
uint8_t LutEntryByte(int i, int n);

// A cube entry for an output byte: a value that readers which truncate and
// readers which round both turn back into that byte.
double CubeValue(uint8_t byte);
