// Device selection: the selection dialog's model and handlers, its terminal presenter, and
// SelectDevices, which applies a policy and brings up the display and Direct3D components.
#include "display/klvenumwin.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <sstream>

#include "display/kalvorg.h"
#include "display/kalvorrm.h"
#include "platform/error.h"
#include "platform/win/messagebox.h"
#include "platform/win/registry.h"

namespace {

constexpr const char* kRegistryKey = "Software\\Kalvor_Soft";
constexpr const char* kSection = "KalvorG";
constexpr const char* kModeValue = "Enum_Checkbox";
constexpr const char* kDriverValue = "DDraw_Device";
constexpr const char* kDeviceValue = "D3D_Device";
constexpr int32_t kDefaultDriver = 0;
constexpr int32_t kDefaultDevice = 2;
constexpr const char* kNoComponentText = "No KalvorRM Component to set up.";
constexpr const char* kFailedCaption = "Failed";

// The dialog SelectDevices made last; it stays, hidden, until the process ends.
std::unique_ptr<TKlvEnumWindow> enumWindow;
ModalPresenter modalPresenter = DefaultPresenter;

void Place(TControl& control, int left, int top, int width, int height, const char* caption) {
  control.Left = left;
  control.Top = top;
  control.Width = width;
  control.Height = height;
  control.Caption = caption;
}

int ItemCount(const TListBox& list) { return static_cast<int>(list.Items.size()); }

const TDDDriverEntry* DriverAt(int index) {
  const auto& list = KalvorGUnit.DriverList;
  if (!list || index < 0 || index >= static_cast<int>(list->size())) return nullptr;
  return &(*list)[index];
}

// InitAllDisplays, then RmInit on every Direct3D component in construction order.
bool InitDevices() {
  InitAllDisplays();
  bool ok = true;
  if (KalvorRMUnit.RMList) {
    const std::vector<TKalvorRM*> components = *KalvorRMUnit.RMList;
    for (TKalvorRM* rm : components) ok = rm->RmInit() && ok;
  }
  return ok && KalvorGUnit.DirectDraw != nullptr;
}

class TRegistryStore : public TChoiceStore {
 public:
  TRegistryStore() : key_(kRegistryKey) {}
  int ReadInteger(const std::string& section, const std::string& name, int defaultValue) const override {
    return key_.ReadInteger(section, name, defaultValue);
  }
  void WriteInteger(const std::string& section, const std::string& name, int value) override {
    key_.WriteInteger(section, name, value);
  }

 private:
  TRegIniFile key_;
};

}  // namespace

std::unique_ptr<TChoiceStore> RegistryChoiceStore() { return std::make_unique<TRegistryStore>(); }

TKlvEnumWindow::TKlvEnumWindow() {
  Place(Button1, 8, 272, 75, 25, "Start");
  Place(GroupBox1, 8, 8, 497, 257, "GroupBox1");
  Place(Label1, 16, 88, 61, 12, "DrawDevice");
  Place(Label2, 248, 88, 49, 12, "3DDevice");
  Place(RadioButton1, 16, 16, 113, 17, "PRIORITY_HAL");
  RadioButton1.Checked = true;
  RadioButton1.Visible = false;
  Place(RadioButton2, 16, 40, 113, 17, "PRIORITY_HEL");
  Place(RadioButton3, 16, 64, 113, 17, "Custom");
  Place(ListBox1, 16, 104, 225, 97, "");
  ListBox1.Enabled = false;
  Place(ListBox2, 248, 104, 241, 97, "");
  ListBox2.Enabled = false;
  Place(RadioButton4, 16, 208, 113, 17, "AutoSelect");
  RadioButton4.Visible = false;
  Place(Button2, 88, 272, 75, 25, "Exit");
  FormCreate(this);
}

void TKlvEnumWindow::Show() {
  Visible = true;
  FormShow(this);
}

void TKlvEnumWindow::ShowModal() {
  Show();
  if (modalPresenter) modalPresenter(*this);
  Visible = false;
}

namespace {

// Radio buttons of one group: checking one unchecks the others.
void Check(TKlvEnumWindow& w, TRadioButton& button) {
  for (TRadioButton* b : {&w.RadioButton1, &w.RadioButton2, &w.RadioButton3, &w.RadioButton4}) b->Checked = false;
  button.Checked = true;
}

void EnableLists(TKlvEnumWindow& w, bool enabled) {
  w.ListBox1.Enabled = enabled;
  w.ListBox2.Enabled = enabled;
}

}  // namespace

void TKlvEnumWindow::RadioButton3Click(void*) {
  EnableLists(*this, true);
  Mode = kPolicyCustom;
  Check(*this, RadioButton3);
}

void TKlvEnumWindow::RadioButton1Click(void*) {
  EnableLists(*this, false);
  Mode = kPolicyHAL;
  Check(*this, RadioButton1);
}

void TKlvEnumWindow::RadioButton2Click(void*) {
  EnableLists(*this, false);
  Mode = kPolicyHEL;
  Check(*this, RadioButton2);
}

void TKlvEnumWindow::RadioButton4Click(void*) {
  EnableLists(*this, false);
  Mode = kPolicyAutoSelect;
  Check(*this, RadioButton4);
}

// Selects the stored item when the list has it, else item 0; a negative value selects nothing.
void TKlvEnumWindow::SelectStored(TListBox& list, int stored) {
  const int index = stored < ItemCount(list) ? stored : 0;
  list.ItemIndex = (index >= 0 && index < ItemCount(list)) ? index : -1;
}

void TKlvEnumWindow::FormShow(void*) {
  Started = 0;
  Reg = OpenStore();
  Mode = Reg->ReadInteger(kSection, kModeValue, kPolicyCustom);
  switch (Mode) {
    case kPolicyHEL: RadioButton2Click(this); break;
    case kPolicyHAL: RadioButton1Click(this); break;
    case kPolicyAutoSelect: RadioButton4Click(this); break;
    case kPolicyCustom: RadioButton3Click(this); break;
    default: break;
  }
  if (Mode != kPolicyCustom) return;
  SelectStored(ListBox1, Reg->ReadInteger(kSection, kDriverValue, kDefaultDriver));
  ListBox1Click(this);
  SelectStored(ListBox2, Reg->ReadInteger(kSection, kDeviceValue, kDefaultDevice));
  ListBox2Click(this);
}

void TKlvEnumWindow::ListBox1Click(void*) {
  DDIndex = ListBox1.ItemIndex;
  ListBox2.Clear();
  if (const TDDDriverEntry* driver = DriverAt(DDIndex))
    for (const TD3DDeviceEntry& device : driver->Devices) ListBox2.Items.push_back(device.Description);
}

void TKlvEnumWindow::ListBox2Click(void*) {
  D3DIndex = ListBox2.ItemIndex;
  const TDDDriverEntry* driver = DriverAt(ListBox1.ItemIndex);
  if (D3DIndex < 0 || !driver || D3DIndex >= static_cast<int>(driver->Devices.size())) return;
  const TD3DDeviceEntry& device = driver->Devices[D3DIndex];
  if (device.HALDesc.dcmColorModel != 0) {
    KalvorRMUnit.HardwareDevice = true;
    DlgColorModel = static_cast<int32_t>(device.HALDesc.dcmColorModel);
  } else {
    KalvorRMUnit.HardwareDevice = false;
    DlgColorModel = static_cast<int32_t>(device.HELDesc.dcmColorModel);
  }
}

void TKlvEnumWindow::Button2Click(void*) {
  Started = 0;
  Close();
}

void TKlvEnumWindow::Button1Click(void*) {
  // A choice that cannot be stored (a settings folder that cannot be written, a settings file the
  // store refuses to rewrite) is still this run's choice: say so and go on.
  try {
    if (!Reg) Reg = OpenStore();
    Reg->WriteInteger(kSection, kModeValue, Mode);
    Reg->WriteInteger(kSection, kDriverValue, ListBox1.ItemIndex);
    Reg->WriteInteger(kSection, kDeviceValue, ListBox2.ItemIndex);
  } catch (const KlvError& e) {
    std::fprintf(stderr, "kalvor: the device choice is not stored: %s\n", e.what());
  }
  Reg.reset();
  Started = 1;
  Close();
}

void TKlvEnumWindow::FormCreate(void*) {}

void SetModalPresenter(ModalPresenter presenter) { modalPresenter = std::move(presenter); }

namespace {

void PrintList(const char* title, const TListBox& list) {
  std::fprintf(stderr, "  %s%s\n", title, list.Enabled ? "" : " (Custom only)");
  for (int i = 0; i < ItemCount(list); ++i)
    std::fprintf(stderr, "    %c %d  %s\n", i == list.ItemIndex ? '*' : ' ', i, list.Items[i].c_str());
}

void PrintWindow(const TKlvEnumWindow& w) {
  std::fprintf(stderr, "%s\n", w.Caption.c_str());
  for (const TRadioButton* b : {&w.RadioButton1, &w.RadioButton2, &w.RadioButton3, &w.RadioButton4})
    if (b->Visible || b->Checked) std::fprintf(stderr, "  (%c) %s\n", b->Checked ? '*' : ' ', b->Caption.c_str());
  PrintList(w.Label1.Caption.c_str(), w.ListBox1);
  PrintList(w.Label2.Caption.c_str(), w.ListBox2);
  std::fprintf(stderr, "Commands: hel | custom | draw N | device N | start | exit\n> ");
}

}  // namespace

void TerminalPresenter(TKlvEnumWindow& window) {
  if (!isatty(STDIN_FILENO)) {
    window.Button2Click(&window);
    return;
  }
  std::string line;
  while (window.Visible) {
    PrintWindow(window);
    if (!std::getline(std::cin, line)) {
      window.Button2Click(&window);
      break;
    }
    std::istringstream words(line);
    std::string command;
    int index = -1;
    words >> command;
    const bool hasIndex = static_cast<bool>(words >> index);
    if (command == "hel") {
      window.RadioButton2Click(&window);
    } else if (command == "custom") {
      window.RadioButton3Click(&window);
    } else if (command == "draw" && hasIndex && window.ListBox1.Enabled) {
      window.ListBox1.ItemIndex = (index >= 0 && index < ItemCount(window.ListBox1)) ? index : -1;
      window.ListBox1Click(&window);
    } else if (command == "device" && hasIndex && window.ListBox2.Enabled) {
      window.ListBox2.ItemIndex = (index >= 0 && index < ItemCount(window.ListBox2)) ? index : -1;
      window.ListBox2Click(&window);
    } else if (command == "start") {
      window.Button1Click(&window);
    } else if (command == "exit") {
      window.Button2Click(&window);
    } else {
      std::fprintf(stderr, "Unknown command \"%s\"\n", line.c_str());
    }
  }
}

TKlvEnumWindow* EnumWindow() { return enumWindow.get(); }

bool SelectDevices(int32_t Mode) {
  auto& rmList = KalvorRMUnit.RMList;
  if (!rmList || rmList->empty()) {
    MessageBoxA(nullptr, kNoComponentText, kFailedCaption, MB_OK);
    return false;
  }
  rmList->front()->DDEnum();

  if (Mode == kPolicyCustom || Mode == kSelectStored) {
    enumWindow = std::make_unique<TKlvEnumWindow>();
    TKlvEnumWindow& w = *enumWindow;
    if (KalvorGUnit.DriverList)
      for (const TDDDriverEntry& driver : *KalvorGUnit.DriverList) w.ListBox1.Items.push_back(driver.Name);
    if (Mode == kPolicyCustom) {
      w.ShowModal();
    } else {
      w.Show();
      w.Button1Click(&w);
    }
    KalvorRMUnit.ColorModel = w.DlgColorModel;
    if (w.Started == 0) return false;
    if (w.Mode == kPolicyCustom) {
      KalvorGUnit.DriverChoice = w.DDIndex;
      KalvorRMUnit.DeviceChoice = w.D3DIndex;
      return InitDevices();
    }
    Mode = w.Mode;
  }
  KalvorGUnit.DriverChoice = (Mode == kPolicyHAL || Mode == kPolicyAutoSelect) ? -2 : -1;
  KalvorRMUnit.DeviceChoice = Mode;
  return InitDevices();
}
