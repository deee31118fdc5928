// GTK view of the device selection dialog. Controls sit at the model's pixel positions on a
// GtkFixed; the group box's children are placed relative to the group box, as in the model.
#include "device_dialog.h"

#include <string>

#include "platform/error.h"

namespace {

struct TDialogView {
  TKlvEnumWindow* model = nullptr;
  GtkWidget* window = nullptr;
  GtkWidget* radios[4] = {};  // RadioButton1..4
  GtkWidget* lists[2] = {};   // tree views of ListBox1, ListBox2
  GtkWidget* scrollers[2] = {};
  GMainLoop* loop = nullptr;
  bool syncing = false;  // set while the view copies the model, so its own signals are ignored
};

TRadioButton& ModelRadio(TKlvEnumWindow& w, int i) {
  TRadioButton* buttons[] = {&w.RadioButton1, &w.RadioButton2, &w.RadioButton3, &w.RadioButton4};
  return *buttons[i];
}

TListBox& ModelList(TKlvEnumWindow& w, int i) { return i == 0 ? w.ListBox1 : w.ListBox2; }

void Put(GtkWidget* fixed, GtkWidget* widget, const TControl& control, int originLeft = 0, int originTop = 0) {
  gtk_widget_set_size_request(widget, control.Width, control.Height);
  gtk_fixed_put(GTK_FIXED(fixed), widget, originLeft + control.Left, originTop + control.Top);
}

void ShowList(TDialogView& v, int i) {
  const TListBox& list = ModelList(*v.model, i);
  GtkTreeView* tree = GTK_TREE_VIEW(v.lists[i]);
  GtkListStore* store = GTK_LIST_STORE(gtk_tree_view_get_model(tree));
  gtk_list_store_clear(store);
  for (const std::string& item : list.Items) gtk_list_store_insert_with_values(store, nullptr, -1, 0, item.c_str(), -1);
  GtkTreeSelection* selection = gtk_tree_view_get_selection(tree);
  gtk_tree_selection_unselect_all(selection);
  if (list.ItemIndex >= 0 && list.ItemIndex < static_cast<int>(list.Items.size())) {
    GtkTreePath* path = gtk_tree_path_new_from_indices(list.ItemIndex, -1);
    gtk_tree_selection_select_path(selection, path);
    gtk_tree_path_free(path);
  }
  gtk_widget_set_sensitive(v.scrollers[i], list.Enabled);
}

// Copies the model into the widgets; closes the loop when the model's window was closed.
void ShowModel(TDialogView& v) {
  v.syncing = true;
  for (int i = 0; i < 4; ++i) {
    const TRadioButton& radio = ModelRadio(*v.model, i);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(v.radios[i]), radio.Checked);
    gtk_widget_set_visible(v.radios[i], radio.Visible);
  }
  ShowList(v, 0);
  ShowList(v, 1);
  v.syncing = false;
  if (!v.model->Visible) g_main_loop_quit(v.loop);
}

void OnRadioToggled(GtkToggleButton* button, gpointer data) {
  auto& v = *static_cast<TDialogView*>(data);
  if (v.syncing || !gtk_toggle_button_get_active(button)) return;
  TKlvEnumWindow& w = *v.model;
  GtkWidget* widget = GTK_WIDGET(button);
  if (widget == v.radios[0]) w.RadioButton1Click(&w);
  if (widget == v.radios[1]) w.RadioButton2Click(&w);
  if (widget == v.radios[2]) w.RadioButton3Click(&w);
  if (widget == v.radios[3]) w.RadioButton4Click(&w);
  ShowModel(v);
}

void OnListChanged(GtkTreeSelection* selection, gpointer data) {
  auto& v = *static_cast<TDialogView*>(data);
  if (v.syncing) return;
  TKlvEnumWindow& w = *v.model;
  const int i = gtk_tree_selection_get_tree_view(selection) == GTK_TREE_VIEW(v.lists[0]) ? 0 : 1;
  GtkTreeModel* model = nullptr;
  GtkTreeIter iter;
  int index = -1;
  if (gtk_tree_selection_get_selected(selection, &model, &iter)) {
    GtkTreePath* path = gtk_tree_model_get_path(model, &iter);
    index = gtk_tree_path_get_indices(path)[0];
    gtk_tree_path_free(path);
  }
  ModelList(w, i).ItemIndex = index;
  if (i == 0)
    w.ListBox1Click(&w);
  else
    w.ListBox2Click(&w);
  ShowModel(v);
}

void OnStart(GtkButton*, gpointer data) {
  auto& v = *static_cast<TDialogView*>(data);
  // A choice that cannot be stored still holds for this run; the dialog model reports it.
  v.model->Button1Click(v.model);
  ShowModel(v);
}

void OnExit(GtkButton*, gpointer data) {
  auto& v = *static_cast<TDialogView*>(data);
  v.model->Button2Click(v.model);
  ShowModel(v);
}

// The close box closes the window without "Start": Started stays as FormShow left it (0).
gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer data) {
  auto& v = *static_cast<TDialogView*>(data);
  v.model->Close();
  ShowModel(v);
  return TRUE;
}

GtkWidget* MakeList(TDialogView& v, int i, GtkWidget* fixed, const TControl& groupBox) {
  GtkListStore* store = gtk_list_store_new(1, G_TYPE_STRING);
  GtkWidget* tree = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
  g_object_unref(store);
  gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(tree), FALSE);
  gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(tree), -1, "", gtk_cell_renderer_text_new(), "text", 0,
                                              nullptr);
  gtk_widget_set_name(tree, i == 0 ? "ListBox1" : "ListBox2");
  GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_IN);
  gtk_container_add(GTK_CONTAINER(scroller), tree);
  Put(fixed, scroller, ModelList(*v.model, i), groupBox.Left, groupBox.Top);
  g_signal_connect(gtk_tree_view_get_selection(GTK_TREE_VIEW(tree)), "changed", G_CALLBACK(OnListChanged), &v);
  v.scrollers[i] = scroller;
  return tree;
}

void Build(TDialogView& v, GtkWindow* parent) {
  TKlvEnumWindow& w = *v.model;
  v.window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(v.window), w.Caption.c_str());
  gtk_window_set_default_size(GTK_WINDOW(v.window), w.ClientWidth, w.ClientHeight);
  gtk_window_set_resizable(GTK_WINDOW(v.window), FALSE);
  gtk_window_set_modal(GTK_WINDOW(v.window), TRUE);
  if (parent != nullptr) gtk_window_set_transient_for(GTK_WINDOW(v.window), parent);
  GtkWidget* fixed = gtk_fixed_new();
  gtk_widget_set_size_request(fixed, w.ClientWidth, w.ClientHeight);
  gtk_container_add(GTK_CONTAINER(v.window), fixed);

  // Declaration order of the model: Button1, GroupBox1, the radio buttons, the lists, the labels,
  // RadioButton4, Button2; the group box goes first so it is drawn below its children.
  Put(fixed, gtk_frame_new(w.GroupBox1.Caption.c_str()), w.GroupBox1);
  GtkWidget* start = gtk_button_new_with_label(w.Button1.Caption.c_str());
  Put(fixed, start, w.Button1);
  g_signal_connect(start, "clicked", G_CALLBACK(OnStart), &v);
  GSList* group = nullptr;
  for (int i = 0; i < 4; ++i) {
    const TRadioButton& radio = ModelRadio(w, i);
    v.radios[i] = gtk_radio_button_new_with_label(group, radio.Caption.c_str());
    group = gtk_radio_button_get_group(GTK_RADIO_BUTTON(v.radios[i]));
    gtk_widget_set_no_show_all(v.radios[i], TRUE);
    Put(fixed, v.radios[i], radio, w.GroupBox1.Left, w.GroupBox1.Top);
    g_signal_connect(v.radios[i], "toggled", G_CALLBACK(OnRadioToggled), &v);
  }
  v.lists[0] = MakeList(v, 0, fixed, w.GroupBox1);
  v.lists[1] = MakeList(v, 1, fixed, w.GroupBox1);
  for (const TControl* label : {&w.Label1, &w.Label2}) {
    GtkWidget* text = gtk_label_new(label->Caption.c_str());
    gtk_label_set_xalign(GTK_LABEL(text), 0.0f);
    Put(fixed, text, *label, w.GroupBox1.Left, w.GroupBox1.Top);
  }
  GtkWidget* exit = gtk_button_new_with_label(w.Button2.Caption.c_str());
  Put(fixed, exit, w.Button2);
  g_signal_connect(exit, "clicked", G_CALLBACK(OnExit), &v);
  g_signal_connect(v.window, "delete-event", G_CALLBACK(OnDelete), &v);
}

}  // namespace

void RunDeviceDialog(TKlvEnumWindow& window, GtkWindow* parent) {
  TDialogView v;
  v.model = &window;
  v.loop = g_main_loop_new(nullptr, FALSE);
  Build(v, parent);
  window.Show();
  gtk_widget_show_all(v.window);
  ShowModel(v);
  if (window.Visible) g_main_loop_run(v.loop);
  gtk_widget_destroy(v.window);
  g_main_loop_unref(v.loop);
}
