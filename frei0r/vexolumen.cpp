// The colour rotation as a frei0r filter, for FFmpeg, MLT and GStreamer.
//
// Parameters follow frei0r's conventions (doubles 0..1, colours as three
// fractions) and map onto the plug-in's own units, so the same settings give
// the same bytes as the plug-in. Frames are RGBA8888 (bytes R, G, B, A); the
// effect works on A, R, G, B, so each frame is converted where they meet.
//
// Threading: f0r_update may be called on several threads at once on one
// instance (MLT's slice threading); such calls take turns. Parameters are set
// between updates, as frei0r requires.
// frei0r.h declares C functions without saying so.
extern "C" {
#include <frei0r.h>
}

#include <algorithm>
#include <atomic>
#include <bitset>
#include <cmath>
#include <cstring>
#include <mutex>
#include <new>
#include <strings.h>
#include <vector>

#include "effect/pixelEffect.h"
#include "pipeline/presets.h"
#include "pipeline/relRects.h"

namespace {

enum : int {
    kRedAngle,
    kGreenAngle,
    kBlueAngle,
    kOffset,
    kMethod,
    kLeft,
    kRight,
    kTop,
    kBottom,
    kParamCount
};

const f0r_param_info_t kParams[kParamCount] = {
    {"red_angle", F0R_PARAM_DOUBLE,
     "Turn about the red axis: 0..1 is the slider -100..100 (-pi..pi) in whole steps, "
     "slider = round(200 x value - 100); 0.5 does not turn, 1 is a half turn"},
    {"green_angle", F0R_PARAM_DOUBLE,
     "Turn about the green axis: 0..1 is the slider -100..100 (-pi..pi) in whole steps, "
     "slider = round(200 x value - 100)"},
    {"blue_angle", F0R_PARAM_DOUBLE,
     "Turn about the blue axis: 0..1 is the slider -100..100 (-pi..pi) in whole steps, "
     "slider = round(200 x value - 100)"},
    {"offset", F0R_PARAM_COLOR,
     "Offset colour, the centre of the rotation: each fraction x 255, rounded, is the channel byte"},
    {"method", F0R_PARAM_STRING,
     "Out-of-range method: clamp, wrap or reflect; other text is ignored"},
    {"left", F0R_PARAM_DOUBLE, "Left edge of the effect rectangle, as a fraction of the frame width"},
    {"right", F0R_PARAM_DOUBLE, "Right edge of the effect rectangle, as a fraction of the frame width"},
    {"top", F0R_PARAM_DOUBLE, "Top edge of the effect rectangle, as a fraction of the frame height"},
    {"bottom", F0R_PARAM_DOUBLE, "Bottom edge of the effect rectangle, as a fraction of the frame height"},
};

const char* const kMethodNames[3] = {"clamp", "wrap", "reflect"};

// MLT's slice threading constructs the instance with the height of one band
// (the frame's height over the number of bands) and calls it once per band,
// from several threads, without saying where the band lies. Bands of one
// frame share the time and the distance between input and output, and lie
// whole bands apart in one buffer. Calls are taken one at a time; a call that
// joins bands seen so far into a run renders the run as one frame, so the
// frame is whole once its last band is in. Separate buffers are never exactly
// a band apart (allocators put headers between them), so a run only ever
// covers memory the host handed over in that frame.
constexpr int kMaxBands = 64;

// A host that adds the filter without parameters should see it work, so the
// defaults are a preset rather than the plug-in's reset, which nearly cancels.
const Preset& kDefaults = *FindPreset(kFrei0rPreset);

struct Instance {
    int32_t width = 0, height = 0;
    // Parameter values as the host sees them.
    double angle[3] = {(kDefaults.sliders[0] + 100) / 200.0, (kDefaults.sliders[1] + 100) / 200.0,
                       (kDefaults.sliders[2] + 100) / 200.0};
    f0r_param_color_t offset = {kDefaults.offset[0] / 255.0f, kDefaults.offset[1] / 255.0f,
                                kDefaults.offset[2] / 255.0f};
    int16_t method = kDefaults.method;  // 1 clamp, 2 wrap, 3 reflect
    RelRect rel = kDefaults.rect;

    // Derived on the first update after a change.
    std::mutex setupLock;
    std::atomic<bool> dirty{true};
    RotationSetup setup;

    // The bands of the frame being rendered, as offsets from the first one.
    std::mutex bandLock;
    double groupTime = 0.0;
    intptr_t groupFirst = 0;   // address of the first band's input
    intptr_t groupDelta = 0;   // output address minus input address
    std::bitset<2 * kMaxBands + 1> groupBands;
    int groupCount = 0;
    int learnedBands = 0;  // bands per frame last time; 0: unknown or whole frames
};

// NaN leaves the value alone; anything else is brought into 0..1.
void SetFraction(double& field, double value) {
    if (std::isnan(value)) return;
    field = std::clamp(value, 0.0, 1.0);
}
void SetFraction(float& field, float value) {
    if (std::isnan(value)) return;
    field = std::clamp(value, 0.0f, 1.0f);
}

int16_t SliderOf(double fraction) { return int16_t(std::lround(fraction * 200.0 - 100.0)); }
uint16_t ChannelOf(float fraction) { return uint16_t(std::lround(double(fraction) * 255.0) * 257); }

void EnsureSetup(Instance& in) {
    if (!in.dirty.load(std::memory_order_acquire)) return;
    std::lock_guard<std::mutex> lk(in.setupLock);
    if (!in.dirty.load(std::memory_order_relaxed)) return;
    const RGBColor offset{ChannelOf(in.offset.r), ChannelOf(in.offset.g), ChannelOf(in.offset.b)};
    MakeRotationSetup(SliderOf(in.angle[0]), SliderOf(in.angle[1]), SliderOf(in.angle[2]), offset, in.method,
                      in.setup);
    in.dirty.store(false, std::memory_order_release);
}

// RGBA bytes to A, R, G, B bytes, and back; the alpha byte travels unchanged.
void ToARGB(const uint8_t* src, uint8_t* dst, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i, src += 4, dst += 4) {
        const uint8_t r = src[0], g = src[1], b = src[2], a = src[3];
        dst[0] = a, dst[1] = r, dst[2] = g, dst[3] = b;
    }
}
void ToRGBA(const uint8_t* src, uint8_t* dst, size_t pixels) {
    for (size_t i = 0; i < pixels; ++i, src += 4, dst += 4) {
        const uint8_t a = src[0], r = src[1], g = src[2], b = src[3];
        dst[0] = r, dst[1] = g, dst[2] = b, dst[3] = a;
    }
}

// Renders rows x width pixels as one frame.
void Render(const Instance& in, const uint8_t* src, uint8_t* dst, int32_t rows) {
    const size_t pixels = size_t(in.width) * size_t(rows);
    thread_local std::vector<uint8_t> scratch;
    scratch.resize(pixels * 4);
    ToARGB(src, scratch.data(), pixels);
    const int32_t rowBytes = in.width * 4;
    const Rect activeRect = Rel2Rect(in.rel, Rect{0, 0, int16_t(rows), int16_t(in.width)});
    RotatePixels(in.setup, scratch.data(), rowBytes, scratch.data(), rowBytes, in.width, rows, activeRect, true);
    ToRGBA(scratch.data(), dst, pixels);
}

}  // namespace

extern "C" {

int f0r_init() { return 1; }
void f0r_deinit() {}

void f0r_get_plugin_info(f0r_plugin_info_t* info) {
    if (!info) return;
    info->name = "vexolumen";
    info->author = "Tralvex";
    info->plugin_type = F0R_PLUGIN_TYPE_FILTER;
    info->color_model = F0R_COLOR_MODEL_RGBA8888;
    info->frei0r_version = FREI0R_MAJOR_VERSION;
    info->major_version = 1;
    info->minor_version = 0;
    info->num_params = kParamCount;
    info->explanation =
        "Turns each pixel's colour about an offset colour by three angles inside a rectangle "
        "of the frame; alpha is kept";
}

void f0r_get_param_info(f0r_param_info_t* info, int param_index) {
    if (!info || param_index < 0 || param_index >= kParamCount) return;
    *info = kParams[param_index];
}

f0r_instance_t f0r_construct(unsigned int width, unsigned int height) {
    // Pixel rectangles are 16-bit.
    if (width == 0 || height == 0 || width > 32767 || height > 32767) return nullptr;
    auto* in = new (std::nothrow) Instance;
    if (!in) return nullptr;
    in->width = int32_t(width);
    in->height = int32_t(height);
    return in;
}

void f0r_destruct(f0r_instance_t instance) { delete static_cast<Instance*>(instance); }

void f0r_set_param_value(f0r_instance_t instance, f0r_param_t param, int param_index) {
    auto* in = static_cast<Instance*>(instance);
    if (!in || !param) return;
    switch (param_index) {
    case kRedAngle:
    case kGreenAngle:
    case kBlueAngle:
        SetFraction(in->angle[param_index - kRedAngle], *static_cast<const double*>(param));
        break;
    case kOffset: {
        const auto* c = static_cast<const f0r_param_color_t*>(param);
        SetFraction(in->offset.r, c->r);
        SetFraction(in->offset.g, c->g);
        SetFraction(in->offset.b, c->b);
        break;
    }
    case kMethod: {
        const char* text = *static_cast<const char* const*>(param);
        for (int16_t m = 0; text && m < 3; ++m)
            if (strcasecmp(text, kMethodNames[m]) == 0) in->method = int16_t(m + 1);
        break;
    }
    case kLeft: SetFraction(in->rel.left, *static_cast<const double*>(param)); break;
    case kRight: SetFraction(in->rel.right, *static_cast<const double*>(param)); break;
    case kTop: SetFraction(in->rel.top, *static_cast<const double*>(param)); break;
    case kBottom: SetFraction(in->rel.bottom, *static_cast<const double*>(param)); break;
    default: return;
    }
    in->dirty.store(true, std::memory_order_release);
}

void f0r_get_param_value(f0r_instance_t instance, f0r_param_t param, int param_index) {
    const auto* in = static_cast<const Instance*>(instance);
    if (!in || !param) return;
    switch (param_index) {
    case kRedAngle:
    case kGreenAngle:
    case kBlueAngle: *static_cast<double*>(param) = in->angle[param_index - kRedAngle]; break;
    case kOffset: *static_cast<f0r_param_color_t*>(param) = in->offset; break;
    case kMethod: *static_cast<const char**>(param) = kMethodNames[in->method - 1]; break;
    case kLeft: *static_cast<double*>(param) = in->rel.left; break;
    case kRight: *static_cast<double*>(param) = in->rel.right; break;
    case kTop: *static_cast<double*>(param) = in->rel.top; break;
    case kBottom: *static_cast<double*>(param) = in->rel.bottom; break;
    default: break;
    }
}

void f0r_update(f0r_instance_t instance, double time, const uint32_t* inframe, uint32_t* outframe) {
    auto* in = static_cast<Instance*>(instance);
    if (!in || !inframe || !outframe) return;
    EnsureSetup(*in);
    const auto* src = reinterpret_cast<const uint8_t*>(inframe);
    auto* dst = reinterpret_cast<uint8_t*>(outframe);
    const ptrdiff_t band = ptrdiff_t(in->width) * in->height * 4;

    std::lock_guard<std::mutex> lk(in->bandLock);
    // Addresses as integers: buffers of different frames are unrelated.
    const intptr_t delta = intptr_t(dst) - intptr_t(src);
    const intptr_t step = intptr_t(src) - in->groupFirst;
    const bool joins = in->groupCount > 0 && time == in->groupTime && delta != 0 && delta == in->groupDelta &&
                       step % band == 0 && step / band >= -kMaxBands && step / band <= kMaxBands;
    int index = 0;
    if (joins) {
        index = int(step / band);
        if (!in->groupBands.test(size_t(index + kMaxBands))) {
            in->groupBands.set(size_t(index + kMaxBands));
            ++in->groupCount;
        }
    } else {
        in->learnedBands = in->groupCount > 1 ? in->groupCount : 0;
        in->groupTime = time;
        in->groupFirst = intptr_t(src);
        in->groupDelta = delta;
        in->groupBands.reset();
        in->groupBands.set(kMaxBands);
        in->groupCount = 1;
    }
    int lo = index, hi = index;
    while (lo > -kMaxBands && in->groupBands.test(size_t(lo - 1 + kMaxBands))) --lo;
    while (hi < kMaxBands && in->groupBands.test(size_t(hi + 1 + kMaxBands))) ++hi;
    int runBands = hi - lo + 1;
    // Once the number of bands is known, only the call that completes the
    // frame renders it whole; the others render their band on its own.
    if (runBands < in->learnedBands || int64_t(runBands) * in->height > 32767) lo = hi = index, runBands = 1;
    // The run starts index - lo bands before this one, in the same buffers.
    const ptrdiff_t back = ptrdiff_t(index - lo) * band;
    Render(*in, src - back, dst - back, runBands * in->height);
}

}  // extern "C"
