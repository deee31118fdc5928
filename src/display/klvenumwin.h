// Device selection: SelectDevices, which picks the DirectDraw driver and the Direct3D device from
// a policy (stored in the registry or chosen in a dialog) and brings up every display component
// and then every Direct3D component; and TKlvEnumWindow, the selection dialog as a model of its
// controls, fields and handlers, with the stored choice under "Software\Kalvor_Soft", "KalvorG",
// and the two ways it is shown to a person: a window (in the settings program) or the terminal.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Policy codes shared by the dialog, "Enum_Checkbox" and DeviceChoice.
constexpr int32_t kPolicyHEL = -1;         // primary driver, first software device
constexpr int32_t kPolicyHAL = -2;         // last 3D driver, first hardware device, else device 0
constexpr int32_t kPolicyAutoSelect = -3;  // last 3D driver, last software device
constexpr int32_t kPolicyCustom = -4;      // the driver and device picked in the lists
// SelectDevices' mode that applies the stored choice without asking.
constexpr int32_t kSelectStored = -5;

struct TControl {
  int Left = 0, Top = 0, Width = 0, Height = 0;
  std::string Caption;
  bool Visible = true;
  bool Enabled = true;
};

struct TRadioButton : TControl {
  bool Checked = false;
};

struct TListBox : TControl {
  int ItemHeight = 12;
  std::vector<std::string> Items;
  int ItemIndex = -1;  // -1: nothing selected
  void Clear() {
    Items.clear();
    ItemIndex = -1;
  }
};

// Where the dialog reads and stores its choice, by section and value name. The saver's dialog
// uses the registry key itself (RegistryChoiceStore); the settings program keeps the values until
// its own "OK".
class TChoiceStore {
 public:
  virtual ~TChoiceStore() = default;
  virtual int ReadInteger(const std::string& section, const std::string& name, int defaultValue) const = 0;
  virtual void WriteInteger(const std::string& section, const std::string& name, int value) = 0;
};
using ChoiceStoreOpener = std::function<std::unique_ptr<TChoiceStore>()>;
// Opens the key "Software\Kalvor_Soft" of the registry.
std::unique_ptr<TChoiceStore> RegistryChoiceStore();

class TKlvEnumWindow {
 public:
  TKlvEnumWindow();

  // Shows the window without waiting (runs FormShow).
  void Show();
  // Shows the window and returns when it is closed, through the modal presenter.
  void ShowModal();
  void Close() { Visible = false; }

  void RadioButton3Click(void* Sender);
  void RadioButton1Click(void* Sender);
  void RadioButton2Click(void* Sender);
  void RadioButton4Click(void* Sender);
  void FormShow(void* Sender);
  void ListBox1Click(void* Sender);
  void ListBox2Click(void* Sender);
  void Button2Click(void* Sender);
  void Button1Click(void* Sender);
  void FormCreate(void* Sender);

  std::string Caption = "KlvEnumWindow";
  int ClientWidth = 522, ClientHeight = 335;
  bool Visible = false;

  TControl Button1, GroupBox1;
  TRadioButton RadioButton1, RadioButton2, RadioButton3;
  TListBox ListBox1, ListBox2;
  TControl Label1, Label2;
  TRadioButton RadioButton4;
  TControl Button2;

  ChoiceStoreOpener OpenStore = RegistryChoiceStore;
  std::unique_ptr<TChoiceStore> Reg;
  int32_t Started = 0;
  int32_t Mode = 0;
  int32_t DDIndex = -1;
  int32_t D3DIndex = -1;
  int32_t DlgColorModel = 0;

 private:
  void SelectStored(TListBox& list, int stored);
};

// Shows a modal TKlvEnumWindow to a person and returns once it is closed (by Button1Click or
// Button2Click). The default is DefaultPresenter below.
using ModalPresenter = std::function<void(TKlvEnumWindow& window)>;
void SetModalPresenter(ModalPresenter presenter);
// The terminal form of the dialog: lists the choices on standard error and reads commands from
// standard input; without a terminal on standard input, or at end of input, it presses "Exit".
void TerminalPresenter(TKlvEnumWindow& window);
// The window form of the dialog, shown by the settings program in a child process
// ("kalvor-settings --device-dialog", which stores the choice on "Start" itself); its outcome is
// copied into `window`. False, with `window` untouched, when the program could not show it.
bool WindowPresenter(TKlvEnumWindow& window);
// The window where a display exists and the settings program can show it, else the terminal.
void DefaultPresenter(TKlvEnumWindow& window);

// The line in which the dialog's window reports how it closed: Started, Mode, DDIndex, D3DIndex,
// DlgColorModel and HardwareDevice as decimal numbers.
std::string FormatDialogOutcome(const TKlvEnumWindow& window, bool hardwareDevice);
// Copies a reported outcome into `window` (and HardwareDevice); false for a malformed line.
bool ApplyDialogOutcome(TKlvEnumWindow& window, const std::string& line);

// Picks the devices and sets them up: -5 applies the stored choice, -4 asks through the dialog,
// -1..-3 apply that policy. True when the devices were set up.
bool SelectDevices(int32_t Mode);
// The dialog SelectDevices made last (it stays until the process ends), or null.
TKlvEnumWindow* EnumWindow();
