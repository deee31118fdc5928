// The rasteriser on the saver's own frames, replayed from the stored capture: regression hashes at
// 640 x 480 and 1920 x 1080, the same pixels at every thread count, nothing written outside
// buffers of odd sizes (the sanitizer build checks), and captures that record, save and load the
// calls they saw.
#include "platform/dx5/raster_capture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/error.h"
#include "support/failed_frame.h"

namespace {

const std::string kCaptureFile = std::string(KLV_TEST_FIXTURE_DIR) + "/saver_frames.rcap.gz";

uint64_t Fnv1a(const std::vector<uint8_t>& bytes, uint64_t hash = 0xCBF29CE484222325ull) {
  for (uint8_t b : bytes) hash = (hash ^ b) * 0x100000001B3ull;
  return hash;
}

// Colour and depth buffers of exactly the target's size, so the sanitizer build catches any write
// past them.
struct Frame {
  std::vector<uint8_t> color, depth;
  RasterTarget target;
  RasterDepth depthBuffer;
  RasterStats stats;

  Frame(const RasterCapture& capture, int width, int height) {
    const int colorBytes = capture.format == RasterPixelFormat::Xrgb32 ? 4 : 2;
    color.resize(size_t(width) * height * colorBytes);
    depth.resize(size_t(width) * height * capture.depthBytes);
    target = {color.data(), intptr_t{width} * colorBytes, width, height, capture.format};
    depthBuffer = {depth.data(),    intptr_t{width} * capture.depthBytes, width, height, capture.depthBytes,
                   capture.depthMax};
  }
  void Draw(const RasterCapture& capture, const RasterCaptureFrame& frame, RasterQueue* queue = nullptr) {
    ReplayRasterFrame(capture, frame, target, &depthBuffer, &stats, queue);
  }
  uint64_t Hash() const { return Fnv1a(depth, Fnv1a(color)); }
};

RasterCapture Scaled(int width, int height) {
  RasterCapture capture = LoadRasterCapture(kCaptureFile);
  ScaleRasterCapture(capture, width, height);
  return capture;
}

// Restores the thread limit the other tests expect.
struct ThreadLimit {
  explicit ThreadLimit(int limit) { RasterSetThreadLimit(limit); }
  ~ThreadLimit() { RasterSetThreadLimit(0); }
};

TEST(RasterCapture, SaverFramesKeepTheirPixels) {
  const ThreadLimit one(1);
  struct Case {
    int width, height;
    std::vector<uint64_t> expected;  // per frame, colour then depth hashed
  };
  // Recorded from the rasteriser as it was before the capture existed; every later change drew the
  // same pixels.
  const Case cases[] = {
      {640,
       480,
       {0x14125F5D91CCB66Bull, 0x2C068C2E8AD21614ull, 0x09507691B8A40955ull, 0x44487DE894EC11CBull,
        0x70BEE66E2E04542Eull, 0xD9667C78ED1F3521ull, 0x163FF6DF50DEF669ull, 0xEADDCDCDE8AE8113ull,
        0x7ED8D09D40C450FFull, 0x59C1C634955AB1CEull, 0x78C9934EDF11AAD2ull, 0x2680AA53B9E559E7ull}},
      {1920,
       1080,
       {0x437CDCCFC5171E25ull, 0x46E0FB2E8053A38Full, 0x9842F3D89EB6211Bull, 0x1780ADC2FDC7FF71ull,
        0xD3CF2D8972917264ull, 0x6E0EE016888EC8DCull, 0x4DBDBBB1CF75FB58ull, 0x5E84078D48772A0Aull,
        0xDC5E4630AD520DEAull, 0x629FD3F06B415D92ull, 0x68307B468E58052Aull, 0x2FD5D0B0F1F211B0ull}},
  };
  for (const Case& c : cases) {
    const RasterCapture capture = Scaled(c.width, c.height);
    ASSERT_EQ(capture.frames.size(), 12u);
    std::string got;
    for (size_t f = 0; f < capture.frames.size(); ++f) {
      Frame frame(capture, c.width, c.height);
      frame.Draw(capture, capture.frames[f]);
      char text[40];
      std::snprintf(text, sizeof text, "0x%016llXull, ", static_cast<unsigned long long>(frame.Hash()));
      got += text;
      if (f < c.expected.size() && frame.Hash() != c.expected[f]) {
        const std::string name =
            capture.frames[f].name + " " + std::to_string(c.width) + "x" + std::to_string(c.height);
        ADD_FAILURE() << name << ": hash " << text << "the frame drawn is " << WriteFailedFrame(frame.target, name);
      }
    }
    EXPECT_EQ(c.expected.size(), capture.frames.size()) << c.width << "x" << c.height << ": " << got;
  }
}

TEST(RasterCapture, EveryThreadCountDrawsTheSamePixels) {
  for (const auto& [width, height] : {std::pair{640, 480}, std::pair{1920, 1080}}) {
    const RasterCapture capture = Scaled(width, height);
    // Every frame at 640 x 480; at 1920 x 1080 the frame with the most calls.
    std::vector<size_t> frames;
    for (size_t f = 0; f < capture.frames.size(); ++f)
      if (width == 640 || capture.frames[f].calls.size() == 14) frames.push_back(f);
    for (size_t f : frames) {
      Frame single(capture, width, height);
      {
        const ThreadLimit limit(1);
        single.Draw(capture, capture.frames[f]);
      }
      // Each call shared out by itself, and the whole frame queued and drawn band by band.
      for (const bool queued : {false, true})
        for (int threads : {2, 3, 4, 8}) {
          const ThreadLimit limit(threads);
          RasterQueue queue;
          Frame shared(capture, width, height);
          shared.Draw(capture, capture.frames[f], queued ? &queue : nullptr);
          EXPECT_TRUE(shared.color == single.color && shared.depth == single.depth)
              << capture.frames[f].name << " at " << width << "x" << height << " on " << threads << " threads"
              << (queued ? ", queued" : "");
          EXPECT_EQ(shared.stats.triangles, single.stats.triangles);
          EXPECT_EQ(shared.stats.depthPassed, single.stats.depthPassed);
        }
    }
  }
}

// The saver draws on a 16-bit depth buffer, where the span routines of every width have paths of
// their own (the eight-pixel one goes sixteen pixels at a time): each must draw the saved frames
// as the others do.
TEST(RasterCapture, EverySpanWidthDrawsTheSameFramesOnSixteenBitDepth) {
  const ThreadLimit one(1);
  RasterCapture capture = Scaled(640, 480);
  capture.depthBytes = 2;
  capture.depthMax = 0xFFFFu;
  struct Path {
    bool allowAvx2, allowAvx512;
    const char* name;
  };
  for (size_t f = 0; f < capture.frames.size(); ++f) {
    std::vector<uint64_t> hashes;
    for (const Path& path : {Path{true, true, "widest"}, Path{true, false, "AVX2"}, Path{false, false, "SSE2"}}) {
      RasterCaptureFrame frame = capture.frames[f];
      for (RasterCaptureCall& call : frame.calls) {
        call.state.allowAvx2 = path.allowAvx2;
        call.state.allowAvx512 = path.allowAvx512;
      }
      Frame drawn(capture, 640, 480);
      drawn.Draw(capture, frame);
      hashes.push_back(drawn.Hash());
      EXPECT_EQ(drawn.Hash(), hashes[0]) << frame.name << " drawn on the " << path.name << " path";
    }
  }
}

// With no limit set, a picture gets one thread per 1024 x 768 pixels, at least one and at most one
// per core; a limit set is the count, whatever the size.
TEST(RasterCapture, ThreadsFollowThePictureSizeUnlessALimitIsSet) {
  const ThreadLimit none(0);
  const int cores = RasterThreadCount();
  EXPECT_EQ(RasterThreadsFor(1), 1);
  EXPECT_EQ(RasterThreadsFor(1024 * 768), 1);
  EXPECT_EQ(RasterThreadsFor(1920 * 1080), std::min(2, cores));
  EXPECT_EQ(RasterThreadsFor(int64_t{16384} * 16384), cores);
  const ThreadLimit three(3);
  EXPECT_EQ(RasterThreadsFor(1), 3);
  EXPECT_EQ(RasterThreadsFor(int64_t{16384} * 16384), 3);
}

TEST(RasterCapture, OddSizesDrawOnlyInsideTheirBuffers) {
  const ThreadLimit limit(4);
  for (const auto& [width, height] : {std::pair{1, 1}, std::pair{641, 479}, std::pair{3841, 2161}}) {
    RasterCapture capture = Scaled(width, height);
    // As captured (32-bit depth), then on the saver's 16-bit depth with the widest span routines
    // (queued, as the device draws) and with the AVX2 ones, which go sixteen pixels at a time there.
    for (int pass = 0; pass < 3; ++pass) {
      if (pass == 1) {
        capture.depthBytes = 2;
        capture.depthMax = 0xFFFFu;
      }
      RasterCaptureFrame drawn = capture.frames[2];  // a frame with few calls keeps the sanitizer run short
      for (RasterCaptureCall& call : drawn.calls) call.state.allowAvx512 = pass != 2;
      Frame frame(capture, width, height);
      RasterQueue queue;
      frame.Draw(capture, drawn, pass == 1 ? &queue : nullptr);
      // Something was drawn beyond the clear: the frame is not one colour.
      const bool varied = std::any_of(frame.color.begin(), frame.color.end(),
                                      [&](uint8_t b) { return b != frame.color[0] && b != frame.color[1]; });
      EXPECT_TRUE(varied || width == 1) << width << "x" << height << ", pass " << pass;
    }
  }
}

TEST(RasterCapture, RecordsSavesAndLoadsTheCallsItSaw) {
  RasterCapture original = LoadRasterCapture(kCaptureFile);
  const RasterCaptureFrame& source = original.frames[0];
  Frame direct(original, original.width, original.height);
  RasterCapture recorded;
  RasterRecordInto(&recorded);
  direct.Draw(original, source);
  RasterRecordInto(nullptr);
  ASSERT_EQ(recorded.frames.size(), 1u);
  EXPECT_EQ(recorded.frames[0].calls.size(), source.calls.size());

  const std::filesystem::path file = std::filesystem::temp_directory_path() / "klv_raster_capture_test.rcap.gz";
  SaveRasterCapture(recorded, file.string());
  const RasterCapture loaded = LoadRasterCapture(file.string());
  Frame replayed(loaded, loaded.width, loaded.height);
  replayed.Draw(loaded, loaded.frames[0]);
  EXPECT_EQ(replayed.Hash(), direct.Hash());

  // A capture cut short is refused with the file's name, not read past its end.
  std::ifstream in(file, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  in.close();
  std::ofstream(file, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size() / 2));
  try {
    LoadRasterCapture(file.string());
    ADD_FAILURE() << "a truncated capture loaded";
  } catch (const KlvError& e) {
    EXPECT_EQ(e.file(), file.string());
  }
  std::filesystem::remove(file);
}

}  // namespace
