// Named looks: whole settings a user can start from. The command-line host
// applies them to the saved settings; the frei0r filter starts from one.
// The plug-in's own reset values are not among them: they barely change a
// picture, since three half turns about black nearly cancel out.
#pragma once
#include <cstdint>
#include <cstring>

#include "pipeline/relRects.h"

struct Preset {
    const char* name;
    const char* summary;
    int16_t sliders[3];   // 100 = half turn
    uint8_t offset[3];    // red, green, blue bytes
    int16_t method;       // 1 clamp, 2 wrap, 3 reflect
    RelRect rect;
};

inline constexpr Preset kPresets[] = {
    {"tint", "a gentle turn about mid grey: hues move, the picture stays itself", {12, -10, 8}, {128, 128, 128}, 1,
     {0.0, 1.0, 0.0, 1.0}},
    {"swap", "red becomes green, green blue, blue red (a third of a turn about grey)", {50, 0, 50}, {128, 128, 128}, 1,
     {0.0, 1.0, 0.0, 1.0}},
    {"half-negative", "green and blue inverted about mid grey, red kept", {100, 0, 0}, {128, 128, 128}, 1,
     {0.0, 1.0, 0.0, 1.0}},
    {"neon", "a large turn about dark grey, wrapped around", {30, -20, 40}, {64, 64, 64}, 2, {0.0, 1.0, 0.0, 1.0}},
    {"pastel", "a large turn about mid grey, folded back by reflection", {35, 25, -30}, {128, 128, 128}, 3,
     {0.0, 1.0, 0.0, 1.0}},
    {"spotlight", "a strong turn about brown in the middle quarter of the frame", {60, -40, 20}, {128, 64, 32}, 1,
     {0.25, 0.75, 0.25, 0.75}},
};

// What the frei0r filter does when a host adds it with no parameters.
inline constexpr const char* kFrei0rPreset = "tint";

inline const Preset* FindPreset(const char* name) {
    for (const Preset& p : kPresets)
        if (std::strcmp(p.name, name) == 0) return &p;
    return nullptr;
}
