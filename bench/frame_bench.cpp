// The rasteriser on the saver's own frames: replays the captured frames (every clear and draw of
// chosen frames of the real saver, tests/data/saver_frames.rcap.gz) at several sizes and thread
// counts and prints, per frame and in total, the wall-clock milliseconds (minimum and median over
// the repetitions, after one untimed replay that fills the caches) and the median processor time of
// the whole process, every drawing thread's included (what several threads cost beyond their
// speed-up, such as a thread waiting for the next draw). Where valgrind is installed it
// then counts, for each size, the instructions of one such replay of each frame on one thread
// (callgrind, one run of itself per frame) and their average;
// valgrind's processor has no AVX-512, so those are the eight-pixel AVX2 path's counts.
// --step counts the same instructions on this processor instead, on the path it takes (the
// sixteen-pixel one where it has AVX-512), by stepping through one replay of each frame an
// instruction at a time. Every instruction then costs a trap and a signal (about 11 us on a
// virtual machine), so a 1920 x 1080 frame takes minutes. --lanes 8 keeps the rasteriser off the sixteen-pixel path, to
// compare the two counts on the same path.
//
//   frame_bench [--capture FILE] [--sizes 640x480,1920x1080,3840x2160] [--threads 1,2,0] [--reps N]
//               [--depth 16|32] [--frame INDEX] [--quiet] [--no-instructions] [--step] [--lanes 8|16]
//
// Thread count 0 means as many as the picture needs (one per 1024 x 768 pixels), up to one per core.
// --depth replays on a depth buffer of that many bits instead of the one the capture was made on
// (the saver's hardware device now draws on 16 bits; the stored capture was made on 32).
// --frame replays only that frame (0-based), once per repetition.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <optional>
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
  bool instructions = true;  // count them with callgrind where valgrind is installed
  int depthBits = 0;         // 0: the capture's own depth buffer
  bool step = false;         // count instructions by stepping on this processor (x86-64 Linux)
  bool sixteenLanes = true;  // let the rasteriser take the sixteen-pixel path where it can
};

[[noreturn]] void Usage(const std::string& problem) {
  std::fprintf(stderr,
               "frame_bench: %s\nusage: frame_bench [--capture FILE] [--sizes WxH,...] [--threads N,...] [--reps N]"
               " [--depth 16|32] [--frame INDEX] [--quiet] [--no-instructions] [--step] [--lanes 8|16]\n",
               problem.c_str());
  std::exit(2);
}

std::vector<std::string> Split(const std::string& text, char separator = ',') {
  std::vector<std::string> out;
  size_t start = 0;
  for (size_t at; (at = text.find(separator, start)) != std::string::npos; start = at + 1)
    out.push_back(text.substr(start, at - start));
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
    if (arg == "--no-instructions") {
      o.instructions = false;
      continue;
    }
    if (arg == "--step") {
      o.step = true;
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
    } else if (arg == "--depth") {
      o.depthBits = Number(value, 16, 32);
      if (o.depthBits != 16 && o.depthBits != 32) Usage("--depth takes 16 or 32");
    } else if (arg == "--lanes") {
      const int lanes = Number(value, 8, 16);
      if (lanes != 8 && lanes != 16) Usage("--lanes takes 8 or 16");
      o.sixteenLanes = lanes == 16;
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

// One timed replay of a frame, in a function of its own so that callgrind can count it alone,
// without the untimed first replay that fills the caches (widened palette textures and the like)
// as the saver's earlier frames would have. The calls go through a queue, as the saver's device
// makes them.
__attribute__((noinline)) void TimedReplay(const RasterCapture& capture, const RasterCaptureFrame& frame,
                                           const RasterTarget& target, const RasterDepth& depth, RasterQueue& queue) {
  ReplayRasterFrame(capture, frame, target, &depth, nullptr, &queue);
}

// Prints `count`'s instructions for each frame the options choose, and their average; a frame
// it counts as below 0 is printed as `failure` and left out of the average.
void PrintFrameCounts(const Options& o, const RasterCapture& capture, const char* failure,
                      const std::function<double(size_t)>& count) {
  double sum = 0;
  int counted = 0;
  for (size_t f = 0; f < capture.frames.size(); ++f) {
    if (o.frame >= 0 && static_cast<int>(f) != o.frame) continue;
    const double total = count(f);
    if (total < 0) {
      std::printf("  %-22s %s\n", capture.frames[f].name.c_str(), failure);
      continue;
    }
    sum += total;
    ++counted;
    if (!o.quiet) std::printf("  %-22s %8.2f M\n", capture.frames[f].name.c_str(), total / 1e6);
    std::fflush(stdout);
  }
  if (counted > 0) std::printf("  %-22s %8.2f M\n", "average", sum / counted / 1e6);
}

#if defined(__x86_64__) && defined(__linux__)
// Instruction counting by the trap flag: while it is set the processor traps after every
// instruction and the kernel sends SIGTRAP, whose handler counts it. The kernel clears the flag
// while the handler runs and sets it again on the handler's return, so only the replay's
// instructions (and the few that set and clear the flag, measured and taken off) are counted.
// The count is the handler's, a process-wide variable as a signal handler needs.
uint64_t steppedInstructions = 0;

void CountStep(int, siginfo_t*, void*) { ++steppedInstructions; }

// The flag is set and cleared below the red zone, which the compiler may be using.
inline __attribute__((always_inline)) void SetTrapFlag() {
  asm volatile("lea -128(%%rsp), %%rsp\n\tpushfq\n\torq $0x100, (%%rsp)\n\tpopfq\n\tlea 128(%%rsp), %%rsp" ::
                   : "memory", "cc");
}

inline __attribute__((always_inline)) void ClearTrapFlag() {
  asm volatile("lea -128(%%rsp), %%rsp\n\tpushfq\n\tandq $-0x101, (%%rsp)\n\tpopfq\n\tlea 128(%%rsp), %%rsp" ::
                   : "memory", "cc");
}

// The instructions of one replay of `frame`, or of nothing with a null frame.
__attribute__((noinline)) uint64_t SteppedReplay(const RasterCapture& capture, const RasterCaptureFrame* frame,
                                                 const RasterTarget& target, const RasterDepth& depth,
                                                 RasterQueue& queue) {
  struct sigaction action = {};
  struct sigaction previous = {};
  action.sa_sigaction = CountStep;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGTRAP, &action, &previous);
  steppedInstructions = 0;
  SetTrapFlag();
  if (frame != nullptr) TimedReplay(capture, *frame, target, depth, queue);
  ClearTrapFlag();
  const uint64_t steps = steppedInstructions;
  sigaction(SIGTRAP, &previous, nullptr);
  return steps;
}

// Counts the instructions of replaying each frame on one thread by stepping through them.
void PrintSteppedInstructions(const Options& o, const Size& size, const RasterCapture& capture,
                              const RasterTarget& target, const RasterDepth& depth, RasterQueue& queue) {
  RasterSetThreadLimit(1);
  const uint64_t overhead = SteppedReplay(capture, nullptr, target, depth, queue);
  std::printf("%dx%d, instructions per frame (stepped on this processor, 1 thread):\n", size.width, size.height);
  PrintFrameCounts(o, capture, "", [&](size_t f) {
    ReplayRasterFrame(capture, capture.frames[f], target, &depth, nullptr, &queue);  // as the timed replays start
    return static_cast<double>(SteppedReplay(capture, &capture.frames[f], target, depth, queue) - overhead);
  });
}
#else
void PrintSteppedInstructions(const Options&, const Size&, const RasterCapture&, const RasterTarget&,
                              const RasterDepth&, RasterQueue&) {
  std::printf("instruction stepping needs x86-64 Linux\n");
}
#endif

// The processor time this process has used so far, all its threads, in milliseconds.
double ProcessCpuMs() {
  timespec now{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

// The valgrind program on PATH, if any.
std::optional<std::string> FindValgrind() {
  const char* path = std::getenv("PATH");
  for (const std::string& dir : Split(path != nullptr ? path : "", ':')) {
    const std::string candidate = (dir.empty() ? "." : dir) + "/valgrind";
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return std::nullopt;
}

// Runs `argv` with its output thrown away; true when it exits with status 0.
bool RunQuietly(const std::vector<std::string>& argv) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  pid_t pid = 0;
  const int failed = posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  return failed == 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// The instruction total callgrind wrote to `file` (its "summary:" or "totals:" line), or -1.
double CallgrindTotal(const std::string& file) {
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) {
    for (const char* key : {"summary: ", "totals: "})
      if (line.rfind(key, 0) == 0) return std::strtod(line.c_str() + std::string(key).size(), nullptr);
  }
  return -1;
}

// Counts the instructions of replaying each frame at `size` on one thread: this program run again
// under callgrind, counting only inside one timed replay, once per frame.
void PrintInstructions(const Options& o, const std::string& valgrind, const Size& size, const RasterCapture& capture) {
  char self[4096];
  const ssize_t length = readlink("/proc/self/exe", self, sizeof(self) - 1);
  if (length <= 0) return;
  self[length] = 0;
  char outName[] = "/tmp/frame_bench.XXXXXX";
  const int fd = mkstemp(outName);
  if (fd < 0) return;
  close(fd);
  const std::string sizeText = std::to_string(size.width) + "x" + std::to_string(size.height);
  std::printf("%s, instructions per frame (callgrind, 1 thread):\n", sizeText.c_str());
  PrintFrameCounts(o, capture, "valgrind did not run", [&](size_t f) {
    std::vector<std::string> argv = {valgrind,
                                     "--tool=callgrind",
                                     std::string("--callgrind-out-file=") + outName,
                                     "--toggle-collect=*TimedReplay*",
                                     self,
                                     "--capture",
                                     o.capture,
                                     "--sizes",
                                     sizeText,
                                     "--threads",
                                     "1",
                                     "--reps",
                                     "1",
                                     "--frame",
                                     std::to_string(f),
                                     "--quiet",
                                     "--no-instructions"};
    if (o.depthBits != 0) argv.insert(argv.end(), {"--depth", std::to_string(o.depthBits)});
    return RunQuietly(argv) ? CallgrindTotal(outName) : -1.0;
  });
  std::remove(outName);
}

void Run(const Options& o) {
  const RasterCapture original = LoadRasterCapture(o.capture);
  if (o.frame >= static_cast<int>(original.frames.size())) Usage("no such frame");
  const std::optional<std::string> valgrind = o.instructions ? FindValgrind() : std::nullopt;
  for (const Size& size : o.sizes) {
    RasterCapture capture = LoadRasterCapture(o.capture);
    ScaleRasterCapture(capture, size.width, size.height);
    if (o.depthBits != 0) {
      capture.depthBytes = o.depthBits / 8;
      capture.depthMax = o.depthBits == 16 ? 0xFFFFu : 0xFFFFFF00u;  // depth 1.0 as the device stores it
    }
    for (RasterCaptureFrame& frame : capture.frames)
      for (RasterCaptureCall& call : frame.calls) call.state.allowAvx512 = call.state.allowAvx512 && o.sixteenLanes;
    const int colorBytes = capture.format == RasterPixelFormat::Xrgb32 ? 4 : 2;
    const int depthBytes = capture.depthBytes != 0 ? capture.depthBytes : 2;
    std::vector<uint8_t> color(size_t(size.width) * size.height * colorBytes);
    std::vector<uint8_t> depthBits(size_t(size.width) * size.height * depthBytes);
    const RasterTarget target{color.data(), intptr_t{size.width} * colorBytes, size.width, size.height, capture.format};
    const RasterDepth depth{depthBits.data(), intptr_t{size.width} * depthBytes,
                            size.width,       size.height,
                            depthBytes,       capture.depthMax != 0 ? capture.depthMax : 0xFFFFu};
    RasterQueue queue;
    for (int threads : o.threads) {
      RasterSetThreadLimit(threads);
      std::printf("%dx%d, %d thread%s (%d used):\n", size.width, size.height, threads, threads == 1 ? "" : "s",
                  RasterThreadsFor(int64_t{size.width} * size.height));
      double totalMin = 0, totalMedian = 0, totalCpu = 0;
      for (size_t f = 0; f < capture.frames.size(); ++f) {
        if (o.frame >= 0 && static_cast<int>(f) != o.frame) continue;
        const RasterCaptureFrame& frame = capture.frames[f];
        std::vector<double> ms, cpuMs;
        ReplayRasterFrame(capture, frame, target, &depth, nullptr, &queue);
        for (int r = 0; r < o.reps; ++r) {
          const double cpuStart = ProcessCpuMs();
          const auto start = std::chrono::steady_clock::now();
          TimedReplay(capture, frame, target, depth, queue);
          ms.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
          cpuMs.push_back(ProcessCpuMs() - cpuStart);
        }
        const double low = *std::min_element(ms.begin(), ms.end()), median = Median(ms), cpu = Median(cpuMs);
        totalMin += low;
        totalMedian += median;
        totalCpu += cpu;
        if (!o.quiet)
          std::printf("  %-22s min %8.3f ms  median %8.3f ms  cpu %8.3f ms\n", frame.name.c_str(), low, median, cpu);
      }
      std::printf("  %-22s min %8.3f ms  median %8.3f ms  cpu %8.3f ms\n", "total", totalMin, totalMedian, totalCpu);
    }
    if (valgrind) PrintInstructions(o, *valgrind, size, capture);
    if (o.step) PrintSteppedInstructions(o, size, capture, target, depth, queue);
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
