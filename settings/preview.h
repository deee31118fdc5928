// The live preview: the saver, started in its embedded mode, drawing into an X window of the
// settings window with the settings not yet written. The settings go to a private copy of the
// key in a scratch folder that only the preview process reads, so the user's file is untouched
// until "OK". At most one preview process runs; it is stopped before another starts and when the
// preview is destroyed, and it is told to end if the settings program dies.
#pragma once

#include <glib.h>
#include <sys/types.h>

#include <functional>
#include <string>

#include "saver_settings.h"

class TPreview {
 public:
  // Called on the main loop when the preview process ends by itself, with the last line it wrote
  // on standard error.
  using EndHandler = std::function<void(const std::string& lastError)>;

  explicit TPreview(EndHandler onEnd);
  ~TPreview();
  TPreview(const TPreview&) = delete;
  TPreview& operator=(const TPreview&) = delete;

  // Stops any running preview and starts the saver into `windowId`; returns "" or the reason it
  // could not start.
  std::string Start(unsigned long windowId, const TSaverSettings& settings);
  // Ends the preview process (SIGTERM, then SIGKILL after a grace period) and waits for it.
  void Stop();
  pid_t Pid() const { return pid_; }

 private:
  static void OnChildExit(GPid pid, gint status, gpointer self);

  EndHandler onEnd_;
  std::string scratch_;  // private configuration folder of the preview process
  pid_t pid_ = 0;
  guint watch_ = 0;
};

// The saver program: $KLV_SAVER_PROGRAM, else "kalvor_saver" (the build's) or "kalvor-saver" (the
// installed command) beside this program, else "kalvor-saver" found along PATH.
std::string SaverProgram();
