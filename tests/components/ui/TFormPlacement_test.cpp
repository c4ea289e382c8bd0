#include "components/ui/TFormPlacement.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>

#include "classlib/forms/ExtCtrls.h"
#include "classlib/rtl/IniFiles.h"
#include "classlib/rtl/Loader.h"
#include "classlib/rtl/RegIniFile.h"

namespace app_test {

// The application's main window as far as its placement goes.
class TFenEditMessages : public cl::TForm {
 public:
  explicit TFenEditMessages(cl::TComponent* owner, int min_width = 635) : cl::TForm(owner) {
    cl::TLoader loader(this);
    PanelDonnees = loader.Create<cl::TPanel>(this, "PanelDonnees");
    PanelDonnees->SetParent(this);
    PanelReponse = loader.Create<cl::TPanel>(this, "PanelReponse");
    PanelReponse->SetParent(this);
    FormStorage = loader.Create<comp::TFormStorage>(this, "FormStorage");
    FormStorage->SetUseRegistry(true);
    FormStorage->SetIniFileName("Software\\Ordelis\\Mirvel\\Environnement");
    FormStorage->SetOptions({});
    FormStorage->MinMaxInfo().SetMinTrackHeight(452);
    FormStorage->MinMaxInfo().SetMinTrackWidth(min_width);
    FormStorage->StoredProps().Add("PanelDonnees.Height");
    FormStorage->StoredProps().Add("PanelReponse.Height");
    FormStorage->SetOnSavePlacement([this](cl::TObject*) {
      FormStorage->WriteInteger("FormHeight", Height());
      FormStorage->WriteInteger("FormWidth", Width());
    });
    FormStorage->SetOnRestorePlacement([this](cl::TObject*) {
      SetHeight(FormStorage->ReadInteger("FormHeight", Height()));
      SetWidth(FormStorage->ReadInteger("FormWidth", Width()));
    });
    loader.Finish();
  }
  cl::TPanel* PanelDonnees;
  cl::TPanel* PanelReponse;
  comp::TFormStorage* FormStorage;
};

}  // namespace app_test

namespace comp {
namespace {

class FormPlacementTest : public ::testing::Test {
 protected:
  FormPlacementTest()
      : dir_(std::filesystem::temp_directory_path() / ("placement-" + std::to_string(getpid()))) {
    std::filesystem::create_directories(dir_);
    setenv("MIRVEL_REGISTRY_DIR", dir_.c_str(), 1);
  }
  ~FormPlacementTest() override {
    unsetenv("MIRVEL_REGISTRY_DIR");
    std::filesystem::remove_all(dir_);
  }
  std::vector<std::string> StoredNames() {
    cl::TRegistry reg;
    reg.SetRootKey(cl::HKEY_CURRENT_USER);
    std::vector<std::string> names;
    if (!reg.OpenKeyReadOnly("Software\\Ordelis\\Mirvel\\Environnement\\TFenEditMessages")) {
      return names;
    }
    cl::TStringList list;
    reg.GetValueNames(list);
    for (int i = 0; i < list.Count(); ++i) names.push_back(list.Strings(i));
    std::sort(names.begin(), names.end());
    return names;
  }
  std::filesystem::path dir_;
};

TEST_F(FormPlacementTest, TheApplicationsConfigurationWritesExactlyItsValues) {
  const std::string suffix = "(" + std::to_string(cl::GetSystemMetrics(cl::SM_CXSCREEN)) + "x" +
                             std::to_string(cl::GetSystemMetrics(cl::SM_CYSCREEN)) + ")";
  {
    app_test::TFenEditMessages form(nullptr);
    EXPECT_EQ(form.FormStorage->IniSection(), "TFenEditMessages");
    EXPECT_TRUE(form.FormStorage->HookAttached());
    // The size limits reach the window's answer.
    cl::TMinMaxInfo info;
    form.Perform(cl::WM_GETMINMAXINFO, 0, reinterpret_cast<cl::LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize, (cl::TPoint{635, 452}));
    EXPECT_EQ(info.ptMaxTrackSize, (cl::TPoint{0, 0}));
    form.Close();  // never shown: nothing is saved
  }
  EXPECT_TRUE(StoredNames().empty());

  {
    app_test::TFenEditMessages form(nullptr);
    form.SetBounds(40, 30, 700, 500);
    form.PanelDonnees->SetHeight(120);
    form.PanelReponse->SetHeight(90);
    form.Show();
    form.SetBounds(40, 30, 720, 510);
    form.Close();
  }
  std::vector<std::string> expected = {"Flags",
                                       "ShowCmd",
                                       "PixelsPerInch",
                                       "MinMaxPos" + suffix,
                                       "MinMaxPos",
                                       "NormPos" + suffix,
                                       "NormPos",
                                       "Visible",
                                       "PanelDonnees_Height",
                                       "PanelReponse_Height",
                                       "FormHeight",
                                       "FormWidth"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(StoredNames(), expected);
  cl::TRegIniFile reg("Software\\Ordelis\\Mirvel\\Environnement");
  EXPECT_EQ(reg.ReadInteger("TFenEditMessages", "FormWidth", 0), 720);
  EXPECT_EQ(reg.ReadInteger("TFenEditMessages", "PanelDonnees_Height", 0), 120);
  EXPECT_FALSE(reg.ReadBool("TFenEditMessages", "Visible", true)) << "saved by the close query";

  // The restore brings the size and the panels back, but neither position nor state.
  app_test::TFenEditMessages form(nullptr);
  form.SetBounds(5, 6, 640, 460);
  form.Show();
  EXPECT_EQ(form.Width(), 720);
  EXPECT_EQ(form.Height(), 510);
  EXPECT_EQ(form.PanelDonnees->Height(), 120);
  EXPECT_EQ(form.WindowState(), cl::wsNormal);
  EXPECT_EQ(form.Left(), 5);
  EXPECT_EQ(form.Top(), 6);
  form.Hide();
}

TEST_F(FormPlacementTest, LinkedObjectsTravelWithThePlacement) {
  std::vector<std::string> told;
  auto link = std::make_unique<TIniLink>();
  TIniLink second;
  {
    app_test::TFenEditMessages form(nullptr);
    TFormStorage* storage = form.FormStorage;
    link->SetStorage(storage);
    second.SetStorage(storage);
    // Told after the placement, with its storage open; a link may leave while others are told.
    link->SetOnSave(
        [&](cl::TObject*) { storage->WriteInteger("Linked", 7), second.SetStorage(0); });
    link->SetOnLoad(
        [&](cl::TObject*) { told.push_back(std::to_string(storage->ReadInteger("Linked", 0))); });
    second.SetOnSave([&](cl::TObject*) { told.push_back("second"); });
    form.Show();
    form.Close();
    form.Show();
    link.reset();
    EXPECT_TRUE(storage->Links().empty()) << "the link went first";
    second.SetStorage(storage);
    form.Hide();
  }
  EXPECT_EQ(told, (std::vector<std::string>{"0", "7"}));
  EXPECT_EQ(second.Storage(), nullptr) << "the placement went first";
}

TEST_F(FormPlacementTest, ReadingPositionsAndStates) {
  const std::string ini_name = (dir_ / "placement.ini").string();
  cl::TIniFile ini(ini_name);
  const int ppi = cl::Screen().PixelsPerInch();
  const std::string suffix = "(" + std::to_string(cl::GetSystemMetrics(cl::SM_CXSCREEN)) + "x" +
                             std::to_string(cl::GetSystemMetrics(cl::SM_CYSCREEN)) + ")";
  cl::TForm form(nullptr);
  const struct {
    const char* name;
    std::vector<std::pair<std::string, std::string>> values;
    cl::TFormBorderStyle border;
    cl::TRect expected;
  } cases[] = {
      {"plain", {{"NormPos", "10,20,310,220"}}, cl::bsSizeable, cl::Rect(10, 20, 310, 220)},
      {"suffixed first",
       {{"NormPos", "10,20,310,220"}, {"NormPos" + suffix, "11,21,211,121"}},
       cl::bsSizeable,
       cl::Rect(11, 21, 211, 121)},
      {"another screen's value is not read",
       {{"NormPos", "12,22,312,222"}, {"NormPos(1x1)", "1,1,2,2"}},
       cl::bsSizeable,
       cl::Rect(12, 22, 312, 222)},
      {"another resolution",
       {{"NormPos", "10,20,310,220"}, {"PixelsPerInch", std::to_string(ppi + 24)}},
       cl::bsSizeable,
       cl::Rect(0, 0, 400, 300)},
      {"same resolution",
       {{"NormPos", "13,20,313,220"}, {"PixelsPerInch", std::to_string(ppi)}},
       cl::bsSizeable,
       cl::Rect(13, 20, 313, 220)},
      {"fixed border keeps its size",
       {{"NormPos", "10,20,110,70"}},
       cl::bsSingle,
       cl::Rect(10, 20, 410, 320)},
  };
  for (const auto& c : cases) {
    ini.EraseSection("S");
    for (const auto& [name, value] : c.values) ini.WriteString("S", name, value);
    form.SetBorderStyle(c.border);
    form.SetBounds(0, 0, 400, 300);
    ReadFormPlacement(&form, &ini, "S", false, true);
    EXPECT_EQ(form.BoundsRect(), c.expected) << c.name;
  }

  for (const auto& [show_cmd, state] :
       std::vector<std::pair<int, cl::TWindowState>>{{0, cl::wsNormal},
                                                     {4, cl::wsNormal},
                                                     {8, cl::wsNormal},
                                                     {3, cl::wsMaximized},
                                                     {9, cl::wsNormal},
                                                     {7, cl::wsMinimized}}) {
    ini.WriteInteger("S", "ShowCmd", show_cmd);
    form.SetWindowState(cl::wsNormal);
    ReadFormPlacement(&form, &ini, "S", true, false);
    EXPECT_EQ(form.WindowState(), state) << show_cmd;
  }
  form.SetWindowState(cl::wsNormal);

  // Quoted values survive the INI file's quote stripping.
  StorageWriteString(&ini, "S", "Q", "'quoted'");
  EXPECT_EQ(StorageReadString(&ini, "S", "Q", ""), "'quoted'");
  StorageWriteString(&ini, "S", "Q", "\"x\"");
  EXPECT_EQ(StorageReadString(&ini, "S", "Q", ""), "\"x\"");
  cl::TObject other;
  EXPECT_EQ(StorageReadInteger(&other, "S", "ShowCmd", 77), 77);
}

TEST_F(FormPlacementTest, PreventResizeAndNames) {
  cl::TForm form(nullptr);
  auto* placement = new TFormPlacement(&form);
  EXPECT_FALSE(placement->HookAttached());
  placement->SetPreventResize(true);
  EXPECT_TRUE(placement->HookAttached());
  EXPECT_FALSE(form.BorderIcons().Contains(cl::biMaximize));
  form.SetBounds(0, 0, 333, 222);
  form.Show();
  cl::TMinMaxInfo info;
  form.Perform(cl::WM_GETMINMAXINFO, 0, reinterpret_cast<cl::LPARAM>(&info));
  EXPECT_EQ(info.ptMinTrackSize, (cl::TPoint{333, 222}));
  EXPECT_EQ(info.ptMaxTrackSize, (cl::TPoint{333, 222}));
  placement->SetPreventResize(false);
  EXPECT_FALSE(placement->HookAttached());
  EXPECT_TRUE(form.BorderIcons().Contains(cl::biMaximize));
  form.Hide();

  EXPECT_EQ(DefaultSectionName(nullptr), "");
  EXPECT_EQ(DefaultSectionName(&form), "TForm");
  placement->SetName("Placement");
  EXPECT_EQ(DefaultSectionName(placement), "TForm.Placement");
  auto* panel = new cl::TPanel(&form);
  panel->SetName("Panel1");
  EXPECT_EQ(DefaultSectionName(panel), "Panel1");
  panel->SetParent(&form);
  EXPECT_EQ(DefaultSectionName(panel), "TFormPanel1");
  EXPECT_EQ(DefaultIniFileName().substr(DefaultIniFileName().size() - 4), ".INI");
  EXPECT_EQ(DefaultRegistryKey().rfind("Software\\", 0), 0u);
  EXPECT_EQ(DefaultRegistryKey().find('.'), std::string::npos);
}

}  // namespace
}  // namespace comp
