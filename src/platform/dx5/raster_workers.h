// The rasteriser's drawing threads: a process-wide pool, made when a draw first needs more threads
// and parked between draws, that runs one job on several threads at once. Nothing is allocated
// per draw. The thread limit is set through RasterSetThreadLimit (raster.h).
#pragma once

// Runs job(context, index) for every index in 0..count-1 at the same time, index 0 on the calling
// thread, and returns when all have finished. count is at most RasterThreadCount().
void RunOnRasterWorkers(int count, void (*job)(void* context, int index), void* context);
