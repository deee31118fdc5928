// PNG output of 32-bit pictures: rows of little-endian 0x00RRGGBB words (the Xrgb32 layout of
// surfaces and contexts) written as an 8-bit RGB PNG. Used by the headless driver, the model viewer
// and the data set's contact sheet.
#pragma once

#include <cstdint>
#include <string>

// Writes width x height pixels whose row y starts at `pixels` + y * pitch bytes. Throws
// KlvError(FileOpen) naming the file when it cannot be created or written, and
// KlvError(OutOfRange) for a size below 1 or a pitch shorter than a row.
void WritePngXrgb32(const std::string& fileName, const uint8_t* pixels, int width, int height, intptr_t pitch);
