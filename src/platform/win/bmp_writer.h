// Writes uncompressed Windows bitmap files (".bmp"): 8-bit with a colour table and 24-bit, always
// stored bottom-up with the 14-byte file header and the 40-byte information header, rows padded
// to 4 bytes. Used by the data-set generator and by tests that need valid files to start from.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/win/wintypes.h"

// Pixels come top row first, rows packed without padding: `width` palette indices per row for
// 8-bit images, `width` blue, green, red triples per row for 24-bit images. Width and height must
// be 1..32768; the 8-bit palette holds 1..256 entries and is written with its exact count as the
// colours-used field. Bad arguments throw KlvError(OutOfRange).
std::vector<uint8_t> EncodeBmp8(int width, int height, std::span<const uint8_t> indices,
                                std::span<const PALETTEENTRY> palette);
std::vector<uint8_t> EncodeBmp24(int width, int height, std::span<const uint8_t> bgr);

// As above, into a file; throws KlvError(FileOpen) when the file cannot be written.
void WriteBmp8(const std::string& fileName, int width, int height, std::span<const uint8_t> indices,
               std::span<const PALETTEENTRY> palette);
void WriteBmp24(const std::string& fileName, int width, int height, std::span<const uint8_t> bgr);

// Writes bytes as a whole file; throws KlvError(FileOpen) when it cannot be written.
void WriteFileBytes(const std::string& fileName, std::span<const uint8_t> bytes);
