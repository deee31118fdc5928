// frame_sheet: runs the saver without a display (a fixed seed, 16 ms per step, as klvsnap does) and
// writes four chosen frames as one 2 x 2 PNG sheet, each frame shrunk by a whole factor (the mean of
// each factor x factor block). The README's picture is made with it.
//
//   frame_sheet [--data DIR] [--seed S] [--frames A,B,C,D] [--shrink K] --out FILE.png
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "klvheadless.h"
#include "platform/error.h"
#include "platform/png_writer.h"
#include "tool_cli.h"

namespace {

constexpr int kColumns = 2, kRows = 2, kFrameCount = kColumns * kRows;

struct Options {
  std::string data = ".";
  uint64_t seed = 1;
  std::vector<long long> frames = {200, 600, 1000, 1400};
  int shrink = 2;
  std::string out;
};

constexpr char kUsage[] = "usage: frame_sheet [--data DIR] [--seed S] [--frames A,B,C,D] [--shrink K] --out FILE.png";

[[noreturn]] void Usage(const std::string& problem) { klvtools::UsageError(problem, kUsage); }

Options ParseOptions(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 >= argc) Usage(arg.rfind("--", 0) == 0 ? "missing value for " + arg : "unexpected " + arg);
    const std::string value = argv[++i];
    if (arg == "--data") {
      o.data = value;
    } else if (arg == "--seed") {
      o.seed = static_cast<uint64_t>(klvtools::WholeNumber(value, arg, 0, 1000000000, kUsage));
    } else if (arg == "--frames") {
      o.frames.clear();
      for (size_t start = 0; start <= value.size();) {
        size_t comma = value.find(',', start);
        if (comma == std::string::npos) comma = value.size();
        o.frames.push_back(klvtools::WholeNumber(value.substr(start, comma - start), arg, 1, 10000000, kUsage));
        start = comma + 1;
      }
      if (o.frames.size() != kFrameCount) Usage("--frames needs exactly four steps");
      if (!std::is_sorted(o.frames.begin(), o.frames.end()) ||
          std::adjacent_find(o.frames.begin(), o.frames.end()) != o.frames.end())
        Usage("--frames must rise");
    } else if (arg == "--shrink") {
      o.shrink = static_cast<int>(klvtools::WholeNumber(value, arg, 1, 8, kUsage));
    } else if (arg == "--out") {
      o.out = value;
    } else {
      Usage("unknown option " + arg);
    }
  }
  if (o.out.empty()) Usage("missing --out");
  return o;
}

// Rows of 0x00RRGGBB words.
struct Picture {
  int width = 0, height = 0;
  std::vector<uint32_t> pixels;
};

// Each factor x factor block of `frame` becomes one pixel, its channels' mean; a partial block at
// the right or bottom edge is dropped.
Picture Shrink(const std::vector<uint32_t>& frame, int width, int height, int factor) {
  Picture out{width / factor, height / factor, {}};
  out.pixels.resize(static_cast<size_t>(out.width) * out.height);
  const int area = factor * factor;
  for (int y = 0; y < out.height; ++y) {
    for (int x = 0; x < out.width; ++x) {
      int sum[3] = {0, 0, 0};
      for (int dy = 0; dy < factor; ++dy) {
        for (int dx = 0; dx < factor; ++dx) {
          const uint32_t p = frame[static_cast<size_t>(y * factor + dy) * width + x * factor + dx];
          for (int c = 0; c < 3; ++c) sum[c] += static_cast<int>(p >> (16 - 8 * c) & 0xFF);
        }
      }
      uint32_t mean = 0;
      for (int c = 0; c < 3; ++c) mean |= static_cast<uint32_t>((sum[c] + area / 2) / area) << (16 - 8 * c);
      out.pixels[static_cast<size_t>(y) * out.width + x] = mean;
    }
  }
  return out;
}

int Run(const Options& o) {
  std::vector<Picture> cells;
  {
    klvtools::HeadlessSaver run(o.data, o.seed);
    for (long long step = 1; step <= o.frames.back(); ++step) {
      run.Step();
      if (std::find(o.frames.begin(), o.frames.end(), step) == o.frames.end()) continue;
      const TKlvHeadlessWindow& window = run.Window();
      cells.push_back(Shrink(window.LastFrame(), window.FrameWidth(), window.FrameHeight(), o.shrink));
    }
  }
  const int cw = cells[0].width, ch = cells[0].height;
  std::vector<uint32_t> sheet(static_cast<size_t>(kColumns) * cw * kRows * ch);
  for (int k = 0; k < kFrameCount; ++k) {
    const int x0 = k % kColumns * cw, y0 = k / kColumns * ch;
    for (int y = 0; y < ch; ++y) {
      const uint32_t* src = &cells[k].pixels[static_cast<size_t>(y) * cw];
      std::copy(src, src + cw, &sheet[static_cast<size_t>(y0 + y) * kColumns * cw + x0]);
    }
  }
  const std::filesystem::path parent = std::filesystem::path(o.out).parent_path();
  if (!parent.empty()) std::filesystem::create_directories(parent);
  WritePngXrgb32(o.out, reinterpret_cast<const uint8_t*>(sheet.data()), kColumns * cw, kRows * ch,
                 intptr_t{kColumns} * cw * 4);
  std::printf("wrote %s: seed %llu, steps %lld, %lld, %lld, %lld\n", o.out.c_str(),
              static_cast<unsigned long long>(o.seed), o.frames[0], o.frames[1], o.frames[2], o.frames[3]);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return klvtools::RunTool("frame_sheet", kUsage, argc, argv, [&] { return Run(ParseOptions(argc, argv)); });
}
