// kalvor-settings: the saver's settings window. With --device-dialog it shows only the device
// selection dialog, stores the choice on "Start" and prints how the dialog closed (the saver
// starts it so when it asks for the devices).
#include <gtk/gtk.h>

#include <cstdio>
#include <cstring>

#include "settings_window.h"

namespace {

constexpr char kDialogOption[] = "--device-dialog";
constexpr int kUsageStatus = 2;
// No window could be opened; the saver then asks on the terminal instead.
constexpr int kNoWindowStatus = 3;

void PrintUsage(FILE* out) {
  std::fputs(
      "Usage: kalvor-settings [--device-dialog]\n"
      "Edits the saver's settings (data folder, device, picture size, renderer, threads) with a live\n"
      "preview. --device-dialog shows only the device selection dialog and prints how it closed.\n",
      out);
}

}  // namespace

int main(int argc, char** argv) {
  const bool dialogOnly = argc == 2 && std::strcmp(argv[1], kDialogOption) == 0;
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    PrintUsage(stdout);
    return 0;
  }
  if (argc > 2 || (argc == 2 && !dialogOnly)) {
    std::fprintf(stderr, "kalvor-settings: unknown argument \"%s\"\n", argv[argc - 1]);
    PrintUsage(stderr);
    return kUsageStatus;
  }
  // The preview draws into an X window, so GTK runs on X (XWayland on a Wayland desktop).
  gdk_set_allowed_backends("x11");
  if (!gtk_init_check(&argc, &argv)) {
    std::fputs("kalvor-settings: cannot open a window: no X display\n", stderr);
    return kNoWindowStatus;
  }
  if (dialogOnly) return RunDeviceDialogAlone();
  return RunSettingsWindow();
}
