// The rasteriser's drawing threads: a process-wide pool, made when a draw first needs more threads
// and parked between draws, that runs one job on several threads at once. Nothing is allocated
// per draw. The thread limit is set through RasterSetThreadLimit (raster.h).
#pragma once

// The most parts one job may have.
constexpr int kMaxRasterParts = 64;

// Runs job(context, part) for every part in 0..parts-1 on up to `threads` threads at once, the
// calling thread among them, and returns when all have finished. Each thread runs its own share of
// the parts first (thread k of n: the parts p with p * n / parts == k, the same every call), then
// parts no thread has begun, so a thread that starts late or runs slowly takes fewer parts. threads
// is at most RasterThreadCount(); parts at most kMaxRasterParts.
void RunOnRasterWorkers(int threads, int parts, void (*job)(void* context, int part), void* context);
