// A small persistent pool of worker threads for splitting one frame's rows.
#pragma once
#include <cstdint>

typedef void (*RotateChunkProc)(void* context, int32_t chunk);

// Runs proc(context, c) once for every c in 0..chunks-1 on up to `threads`
// threads, the caller being one of them, and returns when all are done.
// Workers are started on first use and kept until the program ends. When the
// pool is busy with another caller, the chunks run on the calling thread.
void RunRotateChunks(int32_t threads, int32_t chunks, RotateChunkProc proc, void* context);
