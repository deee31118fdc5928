// The --fps figure: counts presented frames over the last second and draws "NN.N FPS" in small
// block letters into the top-left corner of an XRGB picture before it is shown.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

class TFpsCounter {
 public:
  using Clock = std::chrono::steady_clock;

  // Counts one presented frame at `now`; the figure is renewed once a second.
  void Frame(Clock::time_point now);
  // Frames per second over the last whole second counted (0 before the first one ends).
  double FramesPerSecond() const { return framesPerSecond_; }

 private:
  Clock::time_point since_{};
  bool started_ = false;
  int frames_ = 0;
  double framesPerSecond_ = 0;
};

// The text the overlay shows for `framesPerSecond`: one decimal, then " FPS".
std::string FpsText(double framesPerSecond);

// Draws `text` (digits, '.', ' ', 'F', 'P', 'S') in white on a black box at the top-left corner of
// a `width` x `height` picture of 0x00RRGGBB words, `pitch` words per row; letters grow with the
// picture's height. Whatever does not fit is left out.
void DrawOverlayText(uint32_t* pixels, int width, int height, int pitch, const std::string& text);
