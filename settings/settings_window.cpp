// The settings window in GTK: a form of the pending settings, the preview pane, and OK/Cancel.
// Every change of a control updates the pending settings, re-checks the data folder and, after a
// short pause, restarts the preview with them.
#include "settings_window.h"

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <signal.h>

#include <cstdio>
#include <memory>
#include <string>

#include "device_dialog.h"
#include "device_list.h"
#include "platform/error.h"
#include "preview.h"
#include "saver_settings.h"
#include "x11_window.h"

namespace {

constexpr char kTitle[] = "Kalvor saver settings";
constexpr int kPreviewWidth = 320;
constexpr int kPreviewHeight = 240;
// Pause after the last change before the preview restarts, so typing restarts it once.
constexpr guint kPreviewDelayMs = 400;
const char* const kDrawSizes[] = {"640x480", "native"};
const char* const kRenderers[] = {"auto", "software", "gl"};
const char* const kTextureFilters[] = {"nearest", "bilinear"};

struct TSettingsView {
  TSaverSettings pending;
  TDeviceList devices;
  std::unique_ptr<TPreview> preview;
  TSaverSettings previewed;  // the settings the running preview was started with
  int result = 1;
  GMainLoop* loop = nullptr;
  GtkWidget* window = nullptr;
  GtkWidget* folder = nullptr;
  GtkWidget* folderStatus = nullptr;
  GtkWidget* deviceText = nullptr;
  GtkWidget* drawSize = nullptr;
  GtkWidget* renderer = nullptr;
  GtkWidget* threads = nullptr;
  GtkWidget* textureFilter = nullptr;
  GtkWidget* previewArea = nullptr;
  GtkWidget* previewStatus = nullptr;
  GtkWidget* message = nullptr;
  guint previewTimer = 0;
};

std::string ComboText(GtkWidget* combo) {
  gchar* text = gtk_combo_box_text_get_active_text(GTK_COMBO_BOX_TEXT(combo));
  std::string value = text ? text : "";
  g_free(text);
  return value;
}

// Shows `text` below the form, in red: it says what was not saved and why.
void SetMessage(TSettingsView& v, const std::string& text) {
  gchar* escaped = g_markup_escape_text(text.c_str(), -1);
  const std::string markup = "<span foreground=\"#b00000\">" + std::string(escaped) + "</span>";
  g_free(escaped);
  gtk_label_set_markup(GTK_LABEL(v.message), markup.c_str());
}

void StartPreview(TSettingsView& v) {
  const unsigned long target = X11WindowId(gtk_widget_get_window(v.previewArea));
  if (target == 0) {
    gtk_label_set_text(GTK_LABEL(v.previewStatus), "No preview: the window is not on an X display.");
    return;
  }
  if (!SettingsProblems(v.pending).empty()) {
    v.preview->Stop();
    gtk_label_set_text(GTK_LABEL(v.previewStatus), "No preview until the settings are valid.");
    return;
  }
  v.previewed = v.pending;
  const std::string problem = v.preview->Start(target, v.pending);
  gtk_label_set_text(GTK_LABEL(v.previewStatus), problem.empty() ? "" : ("No preview: " + problem).c_str());
}

gboolean OnPreviewTimer(gpointer data) {
  auto& v = *static_cast<TSettingsView*>(data);
  v.previewTimer = 0;
  StartPreview(v);
  return G_SOURCE_REMOVE;
}

// Restarts the preview, after a pause, unless it already runs with these settings.
void SchedulePreview(TSettingsView& v) {
  if (v.previewTimer != 0) g_source_remove(v.previewTimer);
  v.previewTimer = 0;
  if (v.preview->Pid() != 0 && v.pending == v.previewed) return;
  v.previewTimer = g_timeout_add(kPreviewDelayMs, OnPreviewTimer, &v);
}

// Reads the controls into the pending settings and shows what they lead to.
void OnChanged(GtkWidget*, gpointer data) {
  auto& v = *static_cast<TSettingsView*>(data);
  v.pending.DataPath = FolderPrefix(gtk_entry_get_text(GTK_ENTRY(v.folder)));
  v.pending.DrawSize = ComboText(v.drawSize);
  v.pending.Renderer = ComboText(v.renderer);
  v.pending.Threads = gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(v.threads));
  v.pending.TextureFilter = ComboText(v.textureFilter);
  gtk_label_set_text(GTK_LABEL(v.folderStatus), CheckDataFolder(v.pending.DataPath).Summary().c_str());
  gtk_label_set_text(GTK_LABEL(v.deviceText), DeviceChoiceText(v.pending.Devices).c_str());
  SetMessage(v, "");
  SchedulePreview(v);
}

void OnChooseFolder(GtkButton*, gpointer data) {
  auto& v = *static_cast<TSettingsView*>(data);
  GtkWidget* chooser =
      gtk_file_chooser_dialog_new("Data folder", GTK_WINDOW(v.window), GTK_FILE_CHOOSER_ACTION_SELECT_FOLDER, "_Cancel",
                                  GTK_RESPONSE_CANCEL, "_Select", GTK_RESPONSE_ACCEPT, nullptr);
  if (!v.pending.DataPath.empty())
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(chooser), v.pending.DataPath.c_str());
  if (gtk_dialog_run(GTK_DIALOG(chooser)) == GTK_RESPONSE_ACCEPT) {
    gchar* folder = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(chooser));
    if (folder != nullptr) gtk_entry_set_text(GTK_ENTRY(v.folder), FolderPrefix(folder).c_str());
    g_free(folder);
  }
  gtk_widget_destroy(chooser);
}

void OnDevices(GtkButton*, gpointer data) {
  auto& v = *static_cast<TSettingsView*>(data);
  TKlvEnumWindow dialog;
  TDeviceChoice& choice = v.pending.Devices;
  dialog.OpenStore = [&choice] { return PendingChoiceStore(choice); };
  v.devices.FillDrivers(dialog);
  RunDeviceDialog(dialog, GTK_WINDOW(v.window));
  OnChanged(nullptr, &v);
}

void Finish(TSettingsView& v, int result) {
  v.result = result;
  if (v.previewTimer != 0) g_source_remove(v.previewTimer);
  v.previewTimer = 0;
  v.preview->Stop();
  g_main_loop_quit(v.loop);
}

std::string Lines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : "\n") + line;
  return text;
}

void OnOk(GtkButton*, gpointer data) {
  auto& v = *static_cast<TSettingsView*>(data);
  // A number typed into the thread count counts even before Enter or a change of focus.
  gtk_spin_button_update(GTK_SPIN_BUTTON(v.threads));
  OnChanged(nullptr, &v);
  const std::vector<std::string> problems = SettingsProblems(v.pending);
  if (!problems.empty()) {
    SetMessage(v, "Nothing was saved.\n" + Lines(problems));
    return;
  }
  try {
    TRegIniFile key(kSaverKey);
    WriteSettings(key, v.pending);
  } catch (const KlvError& error) {
    SetMessage(v, "Nothing was saved: " + std::string(error.what()));
    return;
  }
  Finish(v, 0);
}

void OnCancel(GtkButton*, gpointer data) { Finish(*static_cast<TSettingsView*>(data), 1); }

gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
  Finish(*static_cast<TSettingsView*>(data), 1);
  return TRUE;
}

// SIGTERM, SIGINT or SIGHUP: leave as "Cancel" does, so the preview ends and its scratch folder goes.
gboolean OnSignal(gpointer data) {
  Finish(*static_cast<TSettingsView*>(data), 1);
  return G_SOURCE_CONTINUE;
}

void OnPreviewEnded(TSettingsView& v, const std::string& lastError) {
  const std::string text = "The preview stopped" + (lastError.empty() ? std::string(".") : ": " + lastError);
  gtk_label_set_text(GTK_LABEL(v.previewStatus), text.c_str());
}

GtkWidget* Combo(const char* const* items, size_t count, const std::string& value, bool withEntry) {
  GtkWidget* combo = withEntry ? gtk_combo_box_text_new_with_entry() : gtk_combo_box_text_new();
  for (size_t i = 0; i < count; ++i) gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo), items[i]);
  if (withEntry) {
    gtk_entry_set_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(combo))), value.c_str());
  } else {
    for (size_t i = 0; i < count; ++i)
      if (value == items[i]) gtk_combo_box_set_active(GTK_COMBO_BOX(combo), static_cast<gint>(i));
  }
  return combo;
}

// A row of the form: a label with a mnemonic (Alt+letter focuses the control), the control, and
// an optional third widget.
void Row(GtkWidget* grid, int row, const char* caption, GtkWidget* control, GtkWidget* extra = nullptr) {
  GtkWidget* label = gtk_label_new_with_mnemonic(caption);
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_label_set_mnemonic_widget(GTK_LABEL(label), control);
  gtk_grid_attach(GTK_GRID(grid), label, 0, row, 1, 1);
  gtk_widget_set_hexpand(control, TRUE);
  gtk_grid_attach(GTK_GRID(grid), control, 1, row, extra ? 1 : 2, 1);
  if (extra) gtk_grid_attach(GTK_GRID(grid), extra, 2, row, 1, 1);
}

GtkWidget* StatusLabel() {
  GtkWidget* label = gtk_label_new("");
  gtk_label_set_xalign(GTK_LABEL(label), 0.0f);
  gtk_label_set_line_wrap(GTK_LABEL(label), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(label), 48);
  return label;
}

GtkWidget* BuildForm(TSettingsView& v) {
  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 8);
  const TSaverSettings& s = v.pending;

  v.folder = gtk_entry_new();
  gtk_widget_set_name(v.folder, "DataPath");
  gtk_entry_set_text(GTK_ENTRY(v.folder), s.DataPath.c_str());
  gtk_entry_set_placeholder_text(GTK_ENTRY(v.folder), "(the current folder)");
  GtkWidget* choose = gtk_button_new_with_mnemonic("C_hoose...");
  g_signal_connect(choose, "clicked", G_CALLBACK(OnChooseFolder), &v);
  Row(grid, 0, "_Data folder", v.folder, choose);
  v.folderStatus = StatusLabel();
  gtk_grid_attach(GTK_GRID(grid), v.folderStatus, 1, 1, 2, 1);

  v.deviceText = StatusLabel();
  GtkWidget* devices = gtk_button_new_with_mnemonic("D_evices...");
  g_signal_connect(devices, "clicked", G_CALLBACK(OnDevices), &v);
  GtkWidget* deviceLabel = gtk_label_new("Device");
  gtk_label_set_xalign(GTK_LABEL(deviceLabel), 0.0f);
  gtk_grid_attach(GTK_GRID(grid), deviceLabel, 0, 2, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), v.deviceText, 1, 2, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), devices, 2, 2, 1, 1);

  v.drawSize = Combo(kDrawSizes, G_N_ELEMENTS(kDrawSizes), s.DrawSize, true);
  Row(grid, 3, "_Picture size", v.drawSize, gtk_label_new("640x480, native or WxH"));
  v.renderer = Combo(kRenderers, G_N_ELEMENTS(kRenderers), s.Renderer, false);
  Row(grid, 4, "_Renderer", v.renderer);
  v.threads = gtk_spin_button_new_with_range(0, kMaxThreads, 1);
  gtk_spin_button_set_value(GTK_SPIN_BUTTON(v.threads), s.Threads);
  Row(grid, 5, "_Threads", v.threads, gtk_label_new("0 = as the picture needs"));
  v.textureFilter = Combo(kTextureFilters, G_N_ELEMENTS(kTextureFilters), s.TextureFilter, false);
  Row(grid, 6, "Te_xture filter", v.textureFilter);

  g_signal_connect(v.folder, "changed", G_CALLBACK(OnChanged), &v);
  g_signal_connect(v.drawSize, "changed", G_CALLBACK(OnChanged), &v);
  g_signal_connect(v.renderer, "changed", G_CALLBACK(OnChanged), &v);
  g_signal_connect(v.threads, "value-changed", G_CALLBACK(OnChanged), &v);
  g_signal_connect(v.textureFilter, "changed", G_CALLBACK(OnChanged), &v);
  return grid;
}

GtkWidget* BuildPreview(TSettingsView& v) {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 4);
  GtkWidget* frame = gtk_frame_new(nullptr);
  gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_IN);
  v.previewArea = gtk_drawing_area_new();
  gtk_widget_set_name(v.previewArea, "Preview");
  gtk_widget_set_size_request(v.previewArea, kPreviewWidth, kPreviewHeight);
  // The saver draws into this widget's own X window; GTK must not paint over it.
  gtk_widget_set_has_window(v.previewArea, TRUE);
  gtk_widget_set_app_paintable(v.previewArea, TRUE);
  gtk_container_add(GTK_CONTAINER(frame), v.previewArea);
  gtk_box_pack_start(GTK_BOX(box), gtk_label_new("Preview"), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(box), frame, FALSE, FALSE, 0);
  v.previewStatus = StatusLabel();
  gtk_box_pack_start(GTK_BOX(box), v.previewStatus, FALSE, FALSE, 0);
  return box;
}

void Build(TSettingsView& v) {
  v.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(v.window), kTitle);
  gtk_window_set_resizable(GTK_WINDOW(v.window), FALSE);
  g_signal_connect(v.window, "delete-event", G_CALLBACK(OnDelete), &v);
  GtkWidget* outer = gtk_box_new(GTK_ORIENTATION_VERTICAL, 8);
  gtk_container_set_border_width(GTK_CONTAINER(outer), 10);
  gtk_container_add(GTK_CONTAINER(v.window), outer);
  GtkWidget* columns = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  gtk_box_pack_start(GTK_BOX(columns), BuildForm(v), TRUE, TRUE, 0);
  gtk_box_pack_start(GTK_BOX(columns), BuildPreview(v), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(outer), columns, TRUE, TRUE, 0);
  v.message = StatusLabel();
  gtk_widget_set_name(v.message, "Message");
  gtk_box_pack_start(GTK_BOX(outer), v.message, FALSE, FALSE, 0);
  GtkWidget* buttons = gtk_button_box_new(GTK_ORIENTATION_HORIZONTAL);
  gtk_button_box_set_layout(GTK_BUTTON_BOX(buttons), GTK_BUTTONBOX_END);
  gtk_box_set_spacing(GTK_BOX(buttons), 8);
  GtkWidget* cancel = gtk_button_new_with_mnemonic("_Cancel");
  GtkWidget* ok = gtk_button_new_with_mnemonic("_OK");
  g_signal_connect(cancel, "clicked", G_CALLBACK(OnCancel), &v);
  g_signal_connect(ok, "clicked", G_CALLBACK(OnOk), &v);
  gtk_container_add(GTK_CONTAINER(buttons), cancel);
  gtk_container_add(GTK_CONTAINER(buttons), ok);
  gtk_box_pack_start(GTK_BOX(outer), buttons, FALSE, FALSE, 0);
}

}  // namespace

int RunSettingsWindow() {
  TSettingsView v;
  v.pending = ReadSettings(TRegIniFile(kSaverKey));
  v.preview = std::make_unique<TPreview>([&v](const std::string& lastError) { OnPreviewEnded(v, lastError); });
  v.loop = g_main_loop_new(nullptr, FALSE);
  Build(v);
  gtk_widget_show_all(v.window);
  // The preview needs the area's own X window, which exists once the window is shown.
  gdk_window_ensure_native(gtk_widget_get_window(v.previewArea));
  OnChanged(nullptr, &v);
  guint signalSources[3];
  int i = 0;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) signalSources[i++] = g_unix_signal_add(signal, OnSignal, &v);
  g_main_loop_run(v.loop);
  for (guint source : signalSources) g_source_remove(source);
  gtk_widget_destroy(v.window);
  g_main_loop_unref(v.loop);
  return v.result;
}

int RunDeviceDialogAlone() {
  TDeviceList devices;
  TKlvEnumWindow dialog;
  devices.FillDrivers(dialog);
  RunDeviceDialog(dialog, nullptr);
  std::fputs(FormatDialogOutcome(dialog, HardwareDeviceChosen()).c_str(), stdout);
  std::fflush(stdout);
  return 0;
}
