// The rasteriser on the saver's own frames: replays the captured frames (every clear and draw of
// chosen frames of the real saver, tests/data/saver_frames.rcap.gz) at several sizes and thread
// counts and prints, per frame and in total, the wall-clock milliseconds (minimum and median over
// the repetitions). bench/frame_callgrind.sh runs it under valgrind for instruction counts.
//
//   frame_bench [--capture FILE] [--sizes 640x480,1920x1080,3840x2160] [--threads 1,2,0] [--reps N]
//               [--frame INDEX] [--quiet]
//
// Thread count 0 means as many as the picture needs (one per 1024 x 768 pixels), up to one per core. --frame replays
// only that frame (0-based), once per repetition.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/dx5/raster.h"
#include "platform/dx5/raster_capture.h"
#include "platform/error.h"

namespace {

struct Size {
  int width, height;
};

struct Options {
  std::string capture = KLV_CAPTURE_FILE;
  std::vector<Size> sizes = {{640, 480}, {1920, 1080}, {3840, 2160}};
  std::vector<int> threads = {1, 2, 0};
  int reps = 15;
  int frame = -1;
  bool quiet = false;
};

[[noreturn]] void Usage(const std::string& problem) {
  std::fprintf(stderr,
               "frame_bench: %s\nusage: frame_bench [--capture FILE] [--sizes WxH,...] [--threads N,...] [--reps N]"
               " [--frame INDEX] [--quiet]\n",
               problem.c_str());
  std::exit(2);
}

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
    out.push_back(text.substr(start, comma - start));
  out.push_back(text.substr(start));
  return out;
}

int Number(const std::string& text, int low, int high) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != 0 || value < low || value > high) Usage("bad number '" + text + "'");
  return static_cast<int>(value);
}

Options Parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quiet") {
      o.quiet = true;
      continue;
    }
    if (arg == "--help") Usage("replays captured frames");
    if (i + 1 >= argc) Usage("missing value for " + arg);
    const std::string value = argv[++i];
    if (arg == "--capture") {
      o.capture = value;
    } else if (arg == "--sizes") {
      o.sizes.clear();
      for (const std::string& s : Split(value)) {
        const size_t x = s.find('x');
        if (x == std::string::npos) Usage("bad size '" + s + "'");
        o.sizes.push_back({Number(s.substr(0, x), 1, 16384), Number(s.substr(x + 1), 1, 16384)});
      }
    } else if (arg == "--threads") {
      o.threads.clear();
      for (const std::string& t : Split(value)) o.threads.push_back(Number(t, 0, 256));
    } else if (arg == "--reps") {
      o.reps = Number(value, 1, 100000);
    } else if (arg == "--frame") {
      o.frame = Number(value, 0, 1000);
    } else {
      Usage("unknown option " + arg);
    }
  }
  return o;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

void Run(const Options& o) {
  const RasterCapture original = LoadRasterCapture(o.capture);
  if (o.frame >= static_cast<int>(original.frames.size())) Usage("no such frame");
  for (const Size& size : o.sizes) {
    RasterCapture capture = LoadRasterCapture(o.capture);
    ScaleRasterCapture(capture, size.width, size.height);
    const int colorBytes = capture.format == RasterPixelFormat::Xrgb32 ? 4 : 2;
    const int depthBytes = capture.depthBytes != 0 ? capture.depthBytes : 2;
    std::vector<uint8_t> color(size_t(size.width) * size.height * colorBytes);
    std::vector<uint8_t> depthBits(size_t(size.width) * size.height * depthBytes);
    const RasterTarget target{color.data(), intptr_t{size.width} * colorBytes, size.width, size.height, capture.format};
    const RasterDepth depth{depthBits.data(), intptr_t{size.width} * depthBytes,
                            size.width,       size.height,
                            depthBytes,       capture.depthMax != 0 ? capture.depthMax : 0xFFFFu};
    for (int threads : o.threads) {
      RasterSetThreadLimit(threads);
      std::printf("%dx%d, %d thread%s (%d used):\n", size.width, size.height, threads, threads == 1 ? "" : "s",
                  RasterThreadsFor(int64_t{size.width} * size.height));
      double totalMin = 0, totalMedian = 0;
      for (size_t f = 0; f < capture.frames.size(); ++f) {
        if (o.frame >= 0 && static_cast<int>(f) != o.frame) continue;
        const RasterCaptureFrame& frame = capture.frames[f];
        std::vector<double> ms;
        for (int r = 0; r < o.reps; ++r) {
          const auto start = std::chrono::steady_clock::now();
          ReplayRasterFrame(capture, frame, target, &depth);
          ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        }
        const double low = *std::min_element(ms.begin(), ms.end()), median = Median(ms);
        totalMin += low;
        totalMedian += median;
        if (!o.quiet) std::printf("  %-22s min %8.3f ms  median %8.3f ms\n", frame.name.c_str(), low, median);
      }
      std::printf("  %-22s min %8.3f ms  median %8.3f ms\n", "total", totalMin, totalMedian);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  try {
    Run(Parse(argc, argv));
  } catch (const KlvError& e) {
    std::fprintf(stderr, "frame_bench: %s\n", e.what());
    return 1;
  }
  return 0;
}
