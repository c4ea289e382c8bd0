#include "components/ui/TFindPanel.h"

#include <gtest/gtest.h>

#include "classlib/db/TFields.h"
#include "classlib/rtl/EventLoop.h"
#include "classlib/rtl/ManualEventLoop.h"
#include "components/data/TVirtualDataSet.h"
#include "tests/classlib/forms/FormsTestSupport.h"

namespace comp {
namespace {

struct FindFixture : ::testing::Test {
  FindFixture() {
    real_loop = cl::CurrentEventLoop();
    cl::SetEventLoop(&manual);
    ds = new TVirtualDataSet(&owner);
    nom = AddField<cl::TStringField>("Nom", 0);
    AddField<cl::TIntegerField>("Numero", 0);
    AddField<cl::TStringField>("Cache", 1);  // another Tag: never listed
    ds->Open();
    for (const char* n : {"Martin Paul", "Durand Anne", "Martel Luc", "Dupont Jean", "Bernard"}) {
      ds->AppendRecord({cl::Variant(std::string(n)), cl::Variant(1), cl::Variant(std::string())});
    }
    ds->First();
  }
  ~FindFixture() override { cl::SetEventLoop(real_loop); }
  template <class T>
  cl::TField* AddField(const char* name, int tag) {
    auto* field = new T(&owner);
    field->SetFieldName(name);
    field->SetTag(tag);
    if constexpr (std::is_same_v<T, cl::TStringField>) field->SetSize(20);
    field->SetDataSet(ds);
    return field;
  }

  cl::TManualEventLoop manual;
  cl::TEventLoop* real_loop;
  cl::TComponent owner{nullptr};
  TVirtualDataSet* ds;
  cl::TField* nom;
};

TEST_F(FindFixture, FieldListTypingAndButtons) {
  auto* panel = new TFindPanel(&owner);
  panel->SetDataSet(ds);
  ASSERT_EQ(panel->ComboBox()->Items().Count(), 2);
  EXPECT_EQ(panel->ComboBox()->Items().Strings(0), "Nom");
  panel->SetSearchField("nom");
  EXPECT_EQ(panel->SearchField(), "Nom");
  EXPECT_EQ(panel->ComboBox()->ItemIndex(), 0);

  std::vector<bool> results;
  panel->Edit()->SetOnAfterFind([&](cl::TObject*, bool found) { results.push_back(found); });
  panel->Edit()->SetText("du");
  manual.Advance(499);
  EXPECT_TRUE(results.empty()) << "waits for the pause";
  panel->Edit()->SetText("dup");
  manual.Advance(499);
  EXPECT_TRUE(results.empty()) << "every change restarts the pause";
  manual.Advance(1);
  EXPECT_EQ(results, std::vector<bool>{true});
  EXPECT_EQ(nom->AsString(), "Dupont Jean");

  // Two words, by the scan of the buttons.
  ds->First();
  panel->Edit()->SetText("mar l");
  panel->NextButton()->Click();
  EXPECT_EQ(nom->AsString(), "Martel Luc");
  panel->PriorButton()->Click();
  EXPECT_EQ(nom->AsString(), "Martel Luc") << "nothing before: it stays";
  panel->Edit()->SetText("luc mar");
  panel->Edit()->Search(fdFirst);
  EXPECT_EQ(nom->AsString(), "Martel Luc");

  // BeforeSearch may cancel; keys on an empty text move the dataset.
  panel->Edit()->SetBeforeSearch(
      [](cl::TObject*, cl::TField*, std::string&, bool& go) { go = false; });
  EXPECT_FALSE(panel->Edit()->Search(fdFirst));
  panel->Edit()->SetText("");
  panel->Edit()->Perform(cl::WM_KEYDOWN, cl::VK_HOME, 0);
  EXPECT_TRUE(ds->Bof());
  panel->Edit()->Perform(cl::WM_KEYDOWN, cl::VK_END, 0);
  EXPECT_EQ(nom->AsString(), "Bernard");
  manual.Advance(1000);
}

TEST_F(FindFixture, ClosedDatasetAndTheGivenBackHandler) {
  int opened = 0;
  ds->SetAfterOpen([&](cl::TDataSet*) { ++opened; });
  {
    TFindPanel panel(nullptr);
    panel.SetDataSet(ds);
    panel.SetSearchField("Nom");
    ds->Close();
    panel.Edit()->SetText("du");
    manual.Advance(600);  // nothing to search, nothing raised
    EXPECT_FALSE(panel.Edit()->Found());
    ds->Open();
    EXPECT_EQ(opened, 1) << "the previous handler runs first";
    EXPECT_EQ(panel.ComboBox()->Items().Count(), 2) << "the list is rebuilt on open";
    EXPECT_EQ(panel.ComboBox()->ItemIndex(), 0);
  }
  // The panel is gone: the dataset calls its own handler again, not a freed panel.
  ds->Close();
  ds->Open();
  EXPECT_EQ(opened, 2);
}

TEST_F(FindFixture, SplitterKeepsEditAndComboWide) {
  auto* panel = new TFindPanel(&owner);
  panel->SetBounds(0, 0, 400, 30);
  cl::TSplitter* bar = panel->Splitter();
  auto lparam = [](int x) { return static_cast<cl::LPARAM>((1 << 16) | (x & 0xFFFF)); };
  // A drag on the bar by `delta` pixels, as the mouse does it.
  auto drag = [&](int delta) {
    bar->Perform(cl::WM_LBUTTONDOWN, cl::TShiftState{cl::ssLeft}.Bits(), lparam(1));
    bar->Perform(cl::WM_MOUSEMOVE, cl::TShiftState{cl::ssLeft}.Bits(), lparam(1 + delta));
    bar->Perform(cl::WM_LBUTTONUP, 0, lparam(1 + delta));
  };
  const int room = panel->Edit()->Width() + panel->ComboBox()->Width();
  struct Case {
    int delta;
    int combo;
  };
  const Case cases[] = {{-30, 150}, {+50, 100}, {-1000, room - 60}, {+1000, 60}};
  for (const Case& c : cases) {
    drag(c.delta);
    EXPECT_EQ(panel->ComboBox()->Width(), c.combo) << c.delta;
    EXPECT_EQ(panel->Edit()->Width() + panel->ComboBox()->Width(), room);
    EXPECT_EQ(bar->Left() + bar->Width(), panel->ComboBox()->Left()) << "the bar stays beside";
  }
  panel->SetVisibleItems({viButtons, viLabel});
  EXPECT_FALSE(bar->Visible());
}

TEST_F(FindFixture, PanelPropertiesWithTheKeyboard) {
  cl::TForm form(nullptr);
  auto* panel = new TFindPanel(&form);
  panel->SetParent(&form);
  panel->SetDataSet(ds);
  panel->SetFieldTagValue(1);
  EXPECT_EQ(panel->ComboBox()->Items().Text(), "Cache\r\n") << "the list follows the tag";
  panel->SetFieldTagValue(0);
  panel->SetSearchField("Nom");
  panel->SetInterval(50);
  panel->SetDefaultDirection(fdLast);
  panel->SetFindMode(fmMultiWord);
  std::vector<std::string> seen;
  panel->SetOnChange([&](cl::TObject*) { seen.push_back(panel->Text()); });
  panel->SetBeforeSearch([&](cl::TObject*, cl::TField* field, std::string& text, bool&) {
    seen.push_back(field->FieldName() + ":" + text);
  });
  panel->SetAfterSearch([&](cl::TObject*, bool found) { seen.push_back(found ? "+" : "-"); });
  form.Show();
  QApplication::setActiveWindow(mirvel_test::Widget(&form));
  panel->Edit()->SetFocus();
  QTest::keyClicks(mirvel_test::Widget(panel->Edit()), "mar");
  manual.Advance(49);
  EXPECT_EQ(seen, (std::vector<std::string>{"m", "ma", "mar"})) << "the panel's pause";
  manual.Advance(1);
  EXPECT_EQ(seen, (std::vector<std::string>{"m", "ma", "mar", "Nom:mar", "+"}));
  EXPECT_EQ(nom->AsString(), "Martel Luc") << "from the last record backwards";
  panel->SetChangeIndex(true);  // orders the records by the chosen field
  ds->First();
  EXPECT_EQ(nom->AsString(), "Bernard");
  form.Hide();
}

}  // namespace
}  // namespace comp
