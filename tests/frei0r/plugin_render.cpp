// Renders raw RGBA frames through the plug-in's render driver with settings
// in the plug-in's own units; the yardstick for the frei0r filter's output.
//
//   plugin_render WxH R,G,B RRGGBB METHOD L,R,T,B IN.rgba OUT.rgba
//
// R,G,B are slider values (-100..100), METHOD 1 clamp, 2 wrap, 3 reflect,
// L,R,T,B fractions of the frame.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "pipeline/callPixelFX.h"
#include "pipeline/pluginData.h"

namespace {

[[noreturn]] void Fail(const char* what, const char* arg) {
    std::fprintf(stderr, "plugin_render: %s: %s\n", what, arg);
    std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 8) {
        std::fprintf(stderr, "usage: plugin_render WxH R,G,B RRGGBB METHOD L,R,T,B IN.rgba OUT.rgba\n");
        return 2;
    }
    int w = 0, h = 0, s[3], method = 0;
    unsigned rgb = 0;
    RelRect rel{};
    if (std::sscanf(argv[1], "%dx%d", &w, &h) != 2 || w <= 0 || h <= 0 || w > 32767 || h > 32767)
        Fail("bad size", argv[1]);
    if (std::sscanf(argv[2], "%d,%d,%d", &s[0], &s[1], &s[2]) != 3) Fail("bad angles", argv[2]);
    if (std::sscanf(argv[3], "%6x", &rgb) != 1) Fail("bad offset colour", argv[3]);
    method = std::atoi(argv[4]);
    if (std::sscanf(argv[5], "%lf,%lf,%lf,%lf", &rel.left, &rel.right, &rel.top, &rel.bottom) != 4)
        Fail("bad rectangle", argv[5]);

    PluginDataRec config{};
    ResetConfig(&config, true);
    for (int i = 0; i < 3; ++i) config.sliders[i] = int16_t(s[i]);
    config.colors[0] = RGBColor{uint16_t(((rgb >> 16) & 0xFF) << 8), uint16_t(((rgb >> 8) & 0xFF) << 8),
                                uint16_t((rgb & 0xFF) << 8)};
    config.method = int16_t(method);
    config.startRel = rel;

    FILE* in = std::fopen(argv[6], "rb");
    if (!in) Fail("cannot open", argv[6]);
    FILE* out = std::fopen(argv[7], "wb");
    if (!out) Fail("cannot create", argv[7]);
    const Rect bounds{0, 0, int16_t(h), int16_t(w)};
    GWorldPtr src = nullptr, dst = nullptr;
    if (NewGWorld(&src, 32, &bounds, nullptr, nullptr, 0) || NewGWorld(&dst, 32, &bounds, nullptr, nullptr, 0))
        Fail("out of memory", argv[1]);
    std::vector<uint8_t> frame(size_t(w) * h * 4);
    int frames = 0;
    while (std::fread(frame.data(), 1, frame.size(), in) == frame.size()) {
        for (int y = 0; y < h; ++y) {
            auto* row = reinterpret_cast<uint8_t*>(GetPixBaseAddr(GetGWorldPixMap(src)) +
                                                   y * GetPixRowBytes(GetGWorldPixMap(src)));
            const uint8_t* p = &frame[size_t(y) * w * 4];
            for (int x = 0; x < w; ++x, p += 4, row += 4) row[0] = p[3], row[1] = p[0], row[2] = p[1], row[3] = p[2];
        }
        DoPixelEffect(src, dst, &config, frames, 1, 0.0, 0.0, 0.0);
        for (int y = 0; y < h; ++y) {
            const auto* row = reinterpret_cast<const uint8_t*>(GetPixBaseAddr(GetGWorldPixMap(dst)) +
                                                               y * GetPixRowBytes(GetGWorldPixMap(dst)));
            uint8_t* p = &frame[size_t(y) * w * 4];
            for (int x = 0; x < w; ++x, p += 4, row += 4) p[0] = row[1], p[1] = row[2], p[2] = row[3], p[3] = row[0];
        }
        if (std::fwrite(frame.data(), 1, frame.size(), out) != frame.size()) Fail("cannot write", argv[7]);
        ++frames;
    }
    DisposeGWorld(src);
    DisposeGWorld(dst);
    std::fclose(in);
    if (std::fclose(out) != 0) Fail("cannot write", argv[7]);
    if (frames == 0) Fail("no whole frame in", argv[6]);
    return 0;
}
