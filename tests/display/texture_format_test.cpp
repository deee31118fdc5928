// The z-buffer depth rule and the two texture-format pickers, on hand-made candidates.
#include <gtest/gtest.h>

#include "display/kalvorrm.h"

namespace {

DDSURFACEDESC Candidate(DWORD flags, DWORD bits) {
  DDSURFACEDESC d{};
  d.dwSize = kDDSurfaceDescSize;
  d.ddpfPixelFormat.dwSize = 32;
  d.ddpfPixelFormat.dwFlags = flags;
  d.ddpfPixelFormat.dwRGBBitCount = bits;
  d.ddpfPixelFormat.dwRBitMask = bits;  // tells candidates of one depth apart
  return d;
}

// Runs a picker over the candidates, as one enumeration does, and returns the template's choice.
DDPIXELFORMAT Pick(LPD3DENUMTEXTUREFORMATSCALLBACK picker, std::vector<DDSURFACEDESC> candidates, DWORD startBits = 0) {
  DDSURFACEDESC templ{};
  templ.ddpfPixelFormat.dwRGBBitCount = startBits;
  for (DDSURFACEDESC& c : candidates) EXPECT_EQ(picker(&c, &templ), D3DENUMRET_OK);
  return templ.ddpfPixelFormat;
}

TEST(DepthRule, FirstSetDepthOfThirtyTwoTwentyFourSixteenEightWins) {
  D3DDEVICEDESC d{};
  EXPECT_EQ(ZDepthOf(d), 0u);
  d.dwDeviceZBufferBitDepth = DDBD_24 | DDBD_16;
  EXPECT_EQ(ZDepthOf(d), 24u);
  d.dwDeviceZBufferBitDepth = DDBD_32 | DDBD_8;
  EXPECT_EQ(ZDepthOf(d), 32u);
  d.dwDeviceZBufferBitDepth = DDBD_8;
  EXPECT_EQ(ZDepthOf(d), 8u);
  d.dwDeviceZBufferBitDepth = DDBD_1 | DDBD_2 | DDBD_4;
  EXPECT_EQ(ZDepthOf(d), 0u);
}

TEST(PickPaletteFormat, FewestBitsOfAtLeastEightAndPaletteBeatsRGB) {
  const DDPIXELFORMAT f = Pick(PickPaletteFormat, {Candidate(DDPF_RGB, 16), Candidate(DDPF_PALETTEINDEXED4, 4),
                                                   Candidate(DDPF_PALETTEINDEXED8, 8), Candidate(DDPF_RGB, 8)});
  EXPECT_EQ(f.dwRGBBitCount, 8u);
  EXPECT_EQ(f.dwFlags, DDPF_PALETTEINDEXED8);

  DDSURFACEDESC first = Candidate(DDPF_RGB, 16), second = Candidate(DDPF_RGB, 16);
  second.ddpfPixelFormat.dwGBitMask = 1;
  const DDPIXELFORMAT tie = Pick(PickPaletteFormat, {Candidate(DDPF_RGB, 32), first, second});
  EXPECT_EQ(tie.dwRGBBitCount, 16u);
  EXPECT_EQ(tie.dwGBitMask, 0u) << "the first of a tie wins";

  const DDPIXELFORMAT skipped = Pick(PickPaletteFormat, {Candidate(DDPF_RGB | DDPF_ALPHAPIXELS, 16),
                                                         Candidate(DDPF_FOURCC, 16), Candidate(DDPF_RGB, 32)});
  EXPECT_EQ(skipped.dwRGBBitCount, 32u);
}

TEST(PickRGBFormat, LaterSixteenOrMoreReplacesAndFewerReplacesOnlySixteen) {
  EXPECT_EQ(Pick(PickRGBFormat, {Candidate(DDPF_RGB, 32), Candidate(DDPF_RGB, 16)}).dwRGBBitCount, 16u);
  EXPECT_EQ(Pick(PickRGBFormat, {Candidate(DDPF_RGB, 16), Candidate(DDPF_RGB, 12)}).dwRGBBitCount, 12u);
  EXPECT_EQ(Pick(PickRGBFormat, {Candidate(DDPF_RGB, 32), Candidate(DDPF_RGB, 12)}).dwRGBBitCount, 32u);
  EXPECT_EQ(Pick(PickRGBFormat,
                 {Candidate(DDPF_PALETTEINDEXED8, 8), Candidate(DDPF_RGB, 8), Candidate(DDPF_RGB | DDPF_ALPHA, 16)})
                .dwRGBBitCount,
            0u);
  // The template keeps the previous enumeration's choice.
  EXPECT_EQ(Pick(PickRGBFormat, {Candidate(DDPF_RGB, 12)}, 8).dwRGBBitCount, 8u);
  EXPECT_EQ(Pick(PickRGBFormat, {Candidate(DDPF_RGB, 12)}, 16).dwRGBBitCount, 12u);
}

}  // namespace
