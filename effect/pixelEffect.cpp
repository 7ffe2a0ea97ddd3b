#include "effect/pixelEffect.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "effect/pixelAccess.h"
#include "effect/rotateKernels.h"
#include "effect/rotatePool.h"
#include "effect/transformations.h"

namespace {

// One unit in the last place below the double nearest to pi; the turns at
// 100 depend on it.
const double cStoredPi = 3.1415926535897927;

// Below this many rotated pixels the threads cost more than they save.
const int64_t cMinPixelsForThreads = 32768;

template <int Mode>
void RotateRowsTable(const RotationSetup& setup, const uint8_t* src, int32_t srcRowBytes, uint8_t* dst,
                     int32_t dstRowBytes, int32_t width, int32_t rowBegin, int32_t rowEnd, int32_t left,
                     int32_t right, bool copyRest) {
    for (int32_t r = rowBegin; r < rowEnd; ++r) {
        auto [sp, dp] = RowSpan<4>(src, srcRowBytes, dst, dstRowBytes, width, r, left, right, copyRest);
        for (int32_t c = left; c < right; ++c, sp += 4, dp += 4) RotateOnePixel<Mode>(setup, sp, dp);
    }
}

// The plain transcription: one VMult per pixel and the compare chains as
// written, the method tested per channel.
PixRec ReferencePixel(const RotationSetup& setup, PixRec p) {
    const int32_t o[3] = {setup.offset[0], setup.offset[1], setup.offset[2]};
    Vector4 cv = {{double(o[0] - p.red), double(o[1] - p.green), double(o[2] - p.blue), 0.0}};
    cv = VMult(cv, setup.rotMatrix);
    uint8_t out[3];
    for (int k = 0; k < 3; ++k) {
        double rawVal = double(o[k]) - cv.v[k];
        if (setup.wrapMode == 1) {
            if (rawVal < 0) rawVal = 0.0;
            if (rawVal > 255) rawVal = 255.0;
        } else if (setup.wrapMode == 2) {
            if (rawVal < 0)
                rawVal += 255.0;
            else if (rawVal > 255)
                rawVal -= 255.0;
        } else {
            if (rawVal < 0)
                rawVal = -rawVal;
            else if (rawVal > 255)
                rawVal = 255.0 - (rawVal - 255.0);
            if (rawVal < 0) rawVal = 0.0;
            if (rawVal > 255) rawVal = 255.0;
        }
        out[k] = uint8_t(int16_t(rawVal));
    }
    return PixRec{p.alpha, out[0], out[1], out[2]};
}

void RotateRowsReference(const RotationSetup& setup, const uint8_t* src, int32_t srcRowBytes, uint8_t* dst,
                         int32_t dstRowBytes, int32_t width, int32_t rowBegin, int32_t rowEnd, int32_t left,
                         int32_t right, bool copyRest) {
    for (int32_t r = rowBegin; r < rowEnd; ++r) {
        const uint8_t* s = src + ptrdiff_t(r) * srcRowBytes;
        uint8_t* d = dst + ptrdiff_t(r) * dstRowBytes;
        for (int32_t c = 0; c < width; ++c, s += 4, d += 4) {
            PixRec p;
            std::memcpy(&p, s, 4);
            if (c >= left && c < right) {
                p = ReferencePixel(setup, p);
                std::memcpy(d, &p, 4);
            } else if (copyRest) {
                std::memcpy(d, &p, 4);
            }
        }
    }
}

// The deep transcription: the same steps at 16 bits. Wrapped values may lie
// outside 16 bits, hence the 32-bit truncation before the low 16 are kept.
PixRec64 ReferencePixel64(const RotationSetup64& setup, PixRec64 p) {
    const int32_t o[3] = {setup.offset[0], setup.offset[1], setup.offset[2]};
    Vector4 cv = {{double(o[0] - p.red), double(o[1] - p.green), double(o[2] - p.blue), 0.0}};
    cv = VMult(cv, setup.rotMatrix);
    uint16_t out[3];
    for (int k = 0; k < 3; ++k) {
        double rawVal = double(o[k]) - cv.v[k];
        if (setup.wrapMode == 1) {
            if (rawVal < 0) rawVal = 0.0;
            if (rawVal > 65535) rawVal = 65535.0;
        } else if (setup.wrapMode == 2) {
            if (rawVal < 0)
                rawVal += 65535.0;
            else if (rawVal > 65535)
                rawVal -= 65535.0;
        } else {
            if (rawVal < 0)
                rawVal = -rawVal;
            else if (rawVal > 65535)
                rawVal = 131070.0 - rawVal;
            if (rawVal < 0) rawVal = 0.0;
            if (rawVal > 65535) rawVal = 65535.0;
        }
        out[k] = uint16_t(int32_t(rawVal));
    }
    return PixRec64{p.alpha, out[0], out[1], out[2]};
}

void RotateRowsReference64(const RotationSetup64& setup, const uint8_t* src, int32_t srcRowBytes, uint8_t* dst,
                           int32_t dstRowBytes, int32_t width, int32_t rowBegin, int32_t rowEnd, int32_t left,
                           int32_t right, bool copyRest) {
    for (int32_t r = rowBegin; r < rowEnd; ++r) {
        const uint8_t* s = src + ptrdiff_t(r) * srcRowBytes;
        uint8_t* d = dst + ptrdiff_t(r) * dstRowBytes;
        for (int32_t c = 0; c < width; ++c, s += 8, d += 8) {
            PixRec64 p;
            std::memcpy(&p, s, 8);
            if (c >= left && c < right) {
                p = ReferencePixel64(setup, p);
                std::memcpy(d, &p, 8);
            } else if (copyRest) {
                std::memcpy(d, &p, 8);
            }
        }
    }
}

template <int Mode>
void RotateRowsScalar64(const RotationSetup64& setup, const uint8_t* src, int32_t srcRowBytes, uint8_t* dst,
                        int32_t dstRowBytes, int32_t width, int32_t rowBegin, int32_t rowEnd, int32_t left,
                        int32_t right, bool copyRest) {
    for (int32_t r = rowBegin; r < rowEnd; ++r) {
        auto [sp, dp] = RowSpan<8>(src, srcRowBytes, dst, dstRowBytes, width, r, left, right, copyRest);
        for (int32_t c = left; c < right; ++c, sp += 8, dp += 8) RotateOnePixel64<Mode>(setup, sp, dp);
    }
}

RotateRowsProc64 KernelProc64(int16_t kernel, int mode) {
    switch (kernel) {
        case cRotateReference: return RotateRowsReference64;
        case cRotateTable:
            return mode == cModeClamp ? RotateRowsScalar64<cModeClamp>
                   : mode == cModeWrap ? RotateRowsScalar64<cModeWrap>
                                       : RotateRowsScalar64<cModeReflect>;
        case cRotateAVX2: return GetRotateRowsDeepAVX2(mode);
        case cRotateAVX512: return GetRotateRowsDeepAVX512(mode);
        default: return nullptr;
    }
}

RotateRowsProc KernelProc(int16_t kernel, int mode) {
    switch (kernel) {
        case cRotateReference: return RotateRowsReference;
        case cRotateTable: return GetRotateRowsTable(mode);
        case cRotateAVX2: return GetRotateRowsAVX2(mode);
        case cRotateAVX512: return GetRotateRowsAVX512(mode);
        case cRotateAVX2Lanes: return GetRotateRowsAVX2Lanes(mode);
        default: return nullptr;
    }
}

bool CpuRuns(int16_t kernel) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_cpu_init();
    if (kernel == cRotateAVX2 || kernel == cRotateAVX2Lanes) return __builtin_cpu_supports("avx2");
    if (kernel == cRotateAVX512)
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
               __builtin_cpu_supports("avx512vl") && __builtin_cpu_supports("avx512dq") &&
               __builtin_cpu_supports("avx512vbmi");
#endif
    return kernel == cRotateReference || kernel == cRotateTable;
}

// One frame's rows for the pool: exactly one of setup and setup64 is set.
struct RowJob {
    const RotationSetup* setup;
    const RotationSetup64* setup64;
    int32_t pixelBytes;  // 4 or 8
    const uint8_t* src;
    int32_t srcRowBytes;
    uint8_t* dst;
    int32_t dstRowBytes;
    int32_t width;
    int32_t firstRow, lastRow;  // rows handed out: [firstRow, lastRow)
    int32_t rowsPerChunk;
    int32_t top, left, bottom, right;  // the clipped rectangle
    bool copyRest;
};

void CopyRows(const RowJob& j, int32_t r0, int32_t r1) {
    if (!j.copyRest || j.src == j.dst) return;
    for (int32_t r = r0; r < r1; ++r)
        std::memcpy(j.dst + ptrdiff_t(r) * j.dstRowBytes, j.src + ptrdiff_t(r) * j.srcRowBytes,
                    size_t(j.width) * size_t(j.pixelBytes));
}

void DoRowChunk(void* context, int32_t chunk) {
    const RowJob& j = *static_cast<const RowJob*>(context);
    const int32_t r0 = j.firstRow + chunk * j.rowsPerChunk;
    const int32_t r1 = std::min(j.lastRow, r0 + j.rowsPerChunk);
    const int32_t in0 = std::clamp(j.top, r0, r1);
    const int32_t in1 = std::clamp(j.bottom, in0, r1);
    CopyRows(j, r0, in0);
    const bool copyRest = j.copyRest && j.src != j.dst;
    if (in0 < in1 && j.setup64)
        j.setup64->rowProc(*j.setup64, j.src, j.srcRowBytes, j.dst, j.dstRowBytes, j.width, in0, in1, j.left,
                           j.right, copyRest);
    else if (in0 < in1)
        j.setup->rowProc(*j.setup, j.src, j.srcRowBytes, j.dst, j.dstRowBytes, j.width, in0, in1, j.left,
                         j.right, copyRest);
    CopyRows(j, in1, r1);
}

// Clips the rectangle, splits the rows into chunks and runs them; j holds
// the setup, buffers and width already.
void RunRowJob(RowJob& j, int32_t height, Rect activeRect, bool copyRest, int32_t setupThreads) {
    j.top = std::max<int32_t>(activeRect.top, 0);
    j.left = std::max<int32_t>(activeRect.left, 0);
    j.bottom = std::min<int32_t>(activeRect.bottom, height);
    j.right = std::min<int32_t>(activeRect.right, j.width);
    j.copyRest = copyRest;
    if (j.top >= j.bottom || j.left >= j.right) {
        if (!copyRest) return;
        j.top = j.bottom = j.left = j.right = 0;  // nothing inside: a plain copy
    }
    j.firstRow = copyRest ? 0 : j.top;
    j.lastRow = copyRest ? height : j.bottom;
    const int32_t rows = j.lastRow - j.firstRow;
    int32_t threads = std::max(1, setupThreads);
    if (int64_t(j.width) * rows < cMinPixelsForThreads) threads = 1;
    // A few chunks per thread so that a thread slowed by other work is
    // helped out by the rest.
    const int32_t chunks = threads == 1 ? 1 : std::min(rows, threads * 4);
    j.rowsPerChunk = (rows + chunks - 1) / chunks;
    RunRotateChunks(threads, (rows + j.rowsPerChunk - 1) / j.rowsPerChunk, DoRowChunk, &j);
}

// The 100 = half turn angles into Rx * Ry * Rz.
Matrix4 RotationMatrix(int16_t s1, int16_t s2, int16_t s3) {
    const double xPhi = (double(s1) / 100.0) * cStoredPi;
    const double yPhi = (double(s2) / 100.0) * cStoredPi;
    const double zPhi = (double(s3) / 100.0) * cStoredPi;
    Matrix4 m = IdentityMatrix();
    RotX(m, xPhi);
    RotY(m, yPhi);
    RotZ(m, zPhi);
    return m;
}

}  // namespace

RotateRowsProc GetRotateRowsTable(int mode) {
    switch (mode) {
        case cModeClamp: return RotateRowsTable<cModeClamp>;
        case cModeWrap: return RotateRowsTable<cModeWrap>;
        default: return RotateRowsTable<cModeReflect>;
    }
}

bool RotationKernelAvailable(int16_t kernel) {
    return kernel >= cRotateReference && kernel <= cRotateAVX2Lanes && CpuRuns(kernel) &&
           KernelProc(kernel, cModeClamp) != nullptr;
}

const char* RotationKernelName(int16_t kernel) {
    switch (kernel) {
        case cRotateAuto: return "auto";
        case cRotateReference: return "reference";
        case cRotateTable: return "table";
        case cRotateAVX2: return "avx2";
        case cRotateAVX512: return "avx512";
        case cRotateAVX2Lanes: return "avx2lanes";
        default: return "unknown";
    }
}

bool SetRotationKernel(RotationSetup& setup, int16_t kernel) {
    if (kernel == cRotateAuto) {
        // Wrap and reflect are faster one pixel a vector, or as fast, on both
        // AMD machines measured (Zen 3 and a later one); clamp only on the
        // later one, and by less than it loses on Zen 3.
        const int16_t avx2 = RotationModeOf(setup.wrapMode) == cModeClamp ? cRotateAVX2 : cRotateAVX2Lanes;
        for (int16_t k : {int16_t(cRotateAVX512), avx2, int16_t(cRotateTable)})
            if (RotationKernelAvailable(k)) return SetRotationKernel(setup, k);
        return false;
    }
    if (!RotationKernelAvailable(kernel)) return false;
    setup.kernel = kernel;
    setup.rowProc = KernelProc(kernel, RotationModeOf(setup.wrapMode));
    return true;
}

int32_t DefaultRotationThreads() {
    if (const char* env = std::getenv("VEXOLUMEN_THREADS")) {
        char* end = nullptr;
        const long n = std::strtol(env, &end, 10);
        if (end != env && *end == '\0' && n >= 1 && n <= 64) return int32_t(n);
    }
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : int32_t(std::min(cores, 64u));
}

void MakeRotationSetup(int16_t s1, int16_t s2, int16_t s3, const RGBColor& offsetColor, int16_t method,
                       RotationSetup& setup) {
    setup.rotMatrix = RotationMatrix(s1, s2, s3);
    setup.offset[0] = uint8_t(offsetColor.red >> 8);
    setup.offset[1] = uint8_t(offsetColor.green >> 8);
    setup.offset[2] = uint8_t(offsetColor.blue >> 8);
    setup.wrapMode = method;
    setup.threads = DefaultRotationThreads();
    setup.kernel = cRotateAuto;
    RefreshRotationSetup(setup);
}

void RefreshRotationSetup(RotationSetup& setup) {
    for (int k = 0; k < 3; ++k)
        for (int c = 0; c < 3; ++c)
            for (int v = 0; v < 256; ++v)
                setup.prod[k][c][v] = double(int32_t(setup.offset[c]) - v) * setup.rotMatrix.m[c][k];
    if (!SetRotationKernel(setup, setup.kernel)) SetRotationKernel(setup, cRotateAuto);
}

void RotatePixels(const RotationSetup& setup, const uint8_t* src, int32_t srcRowBytes, uint8_t* dst,
                  int32_t dstRowBytes, int32_t width, int32_t height, Rect activeRect, bool copyRest) {
    if (width <= 0 || height <= 0 || src == nullptr || dst == nullptr) return;
    RowJob j{&setup, nullptr, 4, src, srcRowBytes, dst, dstRowBytes, width, 0, 0, 0, 0, 0, 0, 0, false};
    RunRowJob(j, height, activeRect, copyRest, setup.threads);
}

void RotatePixelsReference(const RotationSetup& setup, const uint8_t* src, int32_t srcRowBytes, uint8_t* dst,
                           int32_t dstRowBytes, int32_t width, int32_t height, Rect activeRect,
                           bool copyRest) {
    if (width <= 0 || height <= 0 || src == nullptr || dst == nullptr) return;
    for (int32_t r = 0; r < height; ++r) {
        const bool rowInside = r >= activeRect.top && r < activeRect.bottom;
        // An empty column range makes every pixel of the row "outside".
        RotateRowsReference(setup, src, srcRowBytes, dst, dstRowBytes, width, r, r + 1,
                            rowInside ? activeRect.left : 0, rowInside ? activeRect.right : 0, copyRest);
    }
}

bool RotationKernel64Available(int16_t kernel) {
    return (kernel == cRotateReference || kernel == cRotateTable || kernel == cRotateAVX2 ||
            kernel == cRotateAVX512) &&
           CpuRuns(kernel) && KernelProc64(kernel, cModeClamp) != nullptr;
}

const char* RotationKernel64Name(int16_t kernel) {
    switch (kernel) {
        case cRotateAuto: return "deep-auto";
        case cRotateReference: return "deep-reference";
        case cRotateTable: return "deep-scalar";
        case cRotateAVX2: return "deep-avx2";
        case cRotateAVX512: return "deep-avx512";
        default: return "unknown";
    }
}

bool SetRotationKernel64(RotationSetup64& setup, int16_t kernel) {
    if (kernel == cRotateAuto) {
        for (int16_t k : {int16_t(cRotateAVX512), int16_t(cRotateAVX2), int16_t(cRotateTable)})
            if (RotationKernel64Available(k)) return SetRotationKernel64(setup, k);
        return false;
    }
    if (!RotationKernel64Available(kernel)) return false;
    setup.kernel = kernel;
    setup.rowProc = KernelProc64(kernel, RotationModeOf(setup.wrapMode));
    return true;
}

void MakeRotationSetup64(int16_t s1, int16_t s2, int16_t s3, const RGBColor& offsetColor, int16_t method,
                         RotationSetup64& setup) {
    setup.rotMatrix = RotationMatrix(s1, s2, s3);
    setup.offset[0] = offsetColor.red;
    setup.offset[1] = offsetColor.green;
    setup.offset[2] = offsetColor.blue;
    setup.wrapMode = method;
    setup.threads = DefaultRotationThreads();
    setup.kernel = cRotateAuto;
    SetRotationKernel64(setup, cRotateAuto);
}

void RotatePixels64(const RotationSetup64& setup, const uint8_t* src, int32_t srcRowBytes, uint8_t* dst,
                    int32_t dstRowBytes, int32_t width, int32_t height, Rect activeRect, bool copyRest) {
    if (width <= 0 || height <= 0 || src == nullptr || dst == nullptr) return;
    RowJob j{nullptr, &setup, 8, src, srcRowBytes, dst, dstRowBytes, width, 0, 0, 0, 0, 0, 0, 0, false};
    RunRowJob(j, height, activeRect, copyRest, setup.threads);
}

void RotatePixelsReference64(const RotationSetup64& setup, const uint8_t* src, int32_t srcRowBytes, uint8_t* dst,
                             int32_t dstRowBytes, int32_t width, int32_t height, Rect activeRect,
                             bool copyRest) {
    if (width <= 0 || height <= 0 || src == nullptr || dst == nullptr) return;
    for (int32_t r = 0; r < height; ++r) {
        const bool rowInside = r >= activeRect.top && r < activeRect.bottom;
        RotateRowsReference64(setup, src, srcRowBytes, dst, dstRowBytes, width, r, r + 1,
                              rowInside ? activeRect.left : 0, rowInside ? activeRect.right : 0, copyRest);
    }
}

void RotateColor(GWorldPtr source, GWorldPtr dest, Rect activeRect, Boolean copyRest,
                 const PluginDataRec* theConfig) {
    if (theConfig == nullptr) return;
    const int16_t s1 = theConfig->sliders[0], s2 = theConfig->sliders[1], s3 = theConfig->sliders[2];
    const RGBColor offsetColor = theConfig->colors[0];
    const int16_t method = theConfig->method;
    if (dest == nullptr) dest = source;
    if (source == nullptr || dest == nullptr) return;

    Ptr srcBase, dstBase;
    int32_t srcRowBytes, dstRowBytes;
    Rect srcFrame, dstFrame;
    GWorldFlags srcFlags, dstFlags;
    GetPixInfoFromGWorld(source, &srcBase, &srcRowBytes, &srcFrame, &srcFlags);
    GetPixInfoFromGWorld(dest, &dstBase, &dstRowBytes, &dstFrame, &dstFlags);
    const int16_t depth = GetPixDepth(GetGWorldPixMap(source));
    const bool alike = srcFrame.right == dstFrame.right && srcFrame.bottom == dstFrame.bottom &&
                       depth == GetPixDepth(GetGWorldPixMap(dest));
    if (alike && depth == 64) {
        RotationSetup64 setup;
        MakeRotationSetup64(s1, s2, s3, offsetColor, method, setup);
        RotatePixels64(setup, reinterpret_cast<const uint8_t*>(srcBase), srcRowBytes,
                       reinterpret_cast<uint8_t*>(dstBase), dstRowBytes, srcFrame.right, srcFrame.bottom,
                       activeRect, copyRest != 0);
    } else if (alike) {
        RotationSetup setup;
        MakeRotationSetup(s1, s2, s3, offsetColor, method, setup);
        RotatePixels(setup, reinterpret_cast<const uint8_t*>(srcBase), srcRowBytes,
                     reinterpret_cast<uint8_t*>(dstBase), dstRowBytes, srcFrame.right, srcFrame.bottom,
                     activeRect, copyRest != 0);
    }
    SetPixelsState(GetGWorldPixMap(source), srcFlags);
    SetPixelsState(GetGWorldPixMap(dest), dstFlags);
}

void ThePixelEffect(GWorldPtr source, GWorldPtr dest, Rect activeRect, Boolean copyRest,
                    const PluginDataRec& theConfig, int32_t currentFrame, int32_t maxFrame, double s1,
                    double s2, double s3) {
    (void)copyRest, (void)currentFrame, (void)maxFrame, (void)s1, (void)s2, (void)s3;
    CGrafPtr savedPort;
    GDHandle savedDevice;
    GetGWorld(&savedPort, &savedDevice);
    RotateColor(source, dest, activeRect, true, &theConfig);
    SetGWorld(savedPort, savedDevice);
}
