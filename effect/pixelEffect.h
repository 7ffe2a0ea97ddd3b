// The colour rotation: result = O - (O - p) * (Rx * Ry * Rz) per pixel, each
// channel brought into 0..255 by clamp, wrap or reflect and truncated toward
// zero. Every path (scalar, SIMD, threaded) gives the same bytes as
// RotatePixelsReference, the plain transcription kept as the yardstick.
//
// Threading: a call may split its rows over a small pool of worker threads
// (VEXOLUMEN_THREADS, default the number of cores) and returns when the whole
// frame is written. Calls from different threads are safe; each call reads
// its setup and record only.
#pragma once
#include <cstdint>

#include "effect/Matrix.h"
#include "pipeline/pluginData.h"
#include "platform/qd/QuickDraw.h"

// Kernels that RotatePixels can run. cRotateAuto picks the fastest the
// processor supports; the others are for tests and the benchmark.
enum : int16_t {
    cRotateAuto = 0,
    cRotateReference = 1,  // the plain transcription
    cRotateTable = 2,      // portable: per-call product tables
    cRotateAVX2 = 3,
    cRotateAVX512 = 4,
    cRotateAVX2Lanes = 5,  // AVX2, one pixel a vector, products from tables
};

// A row kernel: rows [rowBegin, rowEnd), columns [left, right) rotated, the
// rest of each row copied when copyRest. Both buffers have width pixels.
struct RotationSetup;
typedef void (*RotateRowsProc)(const RotationSetup& setup, const uint8_t* src, int32_t srcRowBytes,
                               uint8_t* dst, int32_t dstRowBytes, int32_t width, int32_t rowBegin,
                               int32_t rowEnd, int32_t left, int32_t right, bool copyRest);

// Everything derived once per call. Plain value; no heap storage, so it may
// live on the stack and be copied (about 19 KB).
struct RotationSetup {
    Matrix4 rotMatrix;     // Rx * Ry * Rz
    uint8_t offset[3];     // offset colour bytes red, green, blue
    int16_t wrapMode;      // 1 clamp, 2 wrap, other reflect
    int16_t kernel;        // the kernel rowProc runs (never cRotateAuto)
    RotateRowsProc rowProc;
    int32_t threads;       // rows are split over this many threads (>= 1)
    // prod[k][c][v] = double(offset[c] - v) * rotMatrix[c][k]: the exact
    // product of input channel c (value v) into output channel k.
    double prod[3][3][256];
};

// Builds the setup for slider values s1..s3 (100 = half turn), the offset
// colour (high byte of each channel used) and the method. Chooses the fastest
// kernel and takes the thread count from VEXOLUMEN_THREADS.
void MakeRotationSetup(int16_t s1, int16_t s2, int16_t s3, const RGBColor& offsetColor, int16_t method,
                       RotationSetup& setup);
// Rederives the tables and the kernel after rotMatrix, offset or wrapMode
// were changed by hand (tests try matrices no slider setting gives).
void RefreshRotationSetup(RotationSetup& setup);
// Forces a kernel (cRotateAuto: the fastest available). Returns false, leaving
// the setup unchanged, when the processor cannot run it.
bool SetRotationKernel(RotationSetup& setup, int16_t kernel);
bool RotationKernelAvailable(int16_t kernel);
const char* RotationKernelName(int16_t kernel);
// Thread count from VEXOLUMEN_THREADS (1..64), else the number of cores.
int32_t DefaultRotationThreads();

// Buffer-level entry, no platform objects. Pixels are bytes alpha, red, green,
// blue; rows 0..height-1, columns 0..width-1, each buffer with its own row
// bytes (the bytes past 4 x width are never touched). activeRect (right and
// bottom exclusive) is clipped to the buffer; outside it pixels are copied
// when copyRest, left alone otherwise. src and dst may be the same memory, but
// must not otherwise overlap.
void RotatePixels(const RotationSetup& setup, const uint8_t* src, int32_t srcRowBytes, uint8_t* dst,
                  int32_t dstRowBytes, int32_t width, int32_t height, Rect activeRect, bool copyRest);
// The same, one pixel at a time through VMult, on the calling thread.
void RotatePixelsReference(const RotationSetup& setup, const uint8_t* src, int32_t srcRowBytes, uint8_t* dst,
                           int32_t dstRowBytes, int32_t width, int32_t height, Rect activeRect,
                           bool copyRest);

// --- Deep frames -------------------------------------------------------------
// 64-bit pixels: 16-bit channels alpha, red, green, blue, native byte order.
// The same rotation at 16 bits: the offset colour's full 16-bit channels,
// raw values brought into 0..65535 (wrap shifts by 65535 once, reflect turns
// at 65535, 131070 - raw, then clamps), truncated toward zero, the low 16
// bits stored. Every kernel gives the bytes of RotatePixelsReference64.
struct RotationSetup64;
typedef void (*RotateRowsProc64)(const RotationSetup64& setup, const uint8_t* src, int32_t srcRowBytes,
                                 uint8_t* dst, int32_t dstRowBytes, int32_t width, int32_t rowBegin,
                                 int32_t rowEnd, int32_t left, int32_t right, bool copyRest);

// Deep kernels: cRotateReference, cRotateTable (here the portable scalar
// loop; 16-bit inputs leave no room for product tables), cRotateAVX2 and
// cRotateAVX512. Plain value, small.
struct RotationSetup64 {
    Matrix4 rotMatrix;   // Rx * Ry * Rz, as for 32-bit pixels
    uint16_t offset[3];  // offset colour red, green, blue, all 16 bits
    int16_t wrapMode;    // 1 clamp, 2 wrap, other reflect
    int16_t kernel;      // never cRotateAuto
    RotateRowsProc64 rowProc;
    int32_t threads;
};

void MakeRotationSetup64(int16_t s1, int16_t s2, int16_t s3, const RGBColor& offsetColor, int16_t method,
                         RotationSetup64& setup);
// As SetRotationKernel; call it again after changing wrapMode by hand.
bool SetRotationKernel64(RotationSetup64& setup, int16_t kernel);
bool RotationKernel64Available(int16_t kernel);
const char* RotationKernel64Name(int16_t kernel);

// As RotatePixels and RotatePixelsReference, 8 bytes a pixel.
void RotatePixels64(const RotationSetup64& setup, const uint8_t* src, int32_t srcRowBytes, uint8_t* dst,
                    int32_t dstRowBytes, int32_t width, int32_t height, Rect activeRect, bool copyRest);
void RotatePixelsReference64(const RotationSetup64& setup, const uint8_t* src, int32_t srcRowBytes, uint8_t* dst,
                             int32_t dstRowBytes, int32_t width, int32_t height, Rect activeRect,
                             bool copyRest);

// Rotates activeRect of source into dest (dest nil: in place), copying the
// rest when copyRest. Both 32-bit or both 64-bit; does nothing without a
// record or source, or when the two buffers differ in size or depth.
void RotateColor(GWorldPtr source, GWorldPtr dest, Rect activeRect, Boolean copyRest,
                 const PluginDataRec* theConfig);

// The render driver's entry: RotateColor with the rest always copied, the
// current port and device saved and restored. currentFrame, maxFrame and
// s1..s3 take no part (the angles come from the record).
void ThePixelEffect(GWorldPtr source, GWorldPtr dest, Rect activeRect, Boolean copyRest,
                    const PluginDataRec& theConfig, int32_t currentFrame, int32_t maxFrame, double s1,
                    double s2, double s3);
