#include "components/ui/TOxDBComboBox.h"

#include <gtest/gtest.h>

#include "classlib/db/TFields.h"
#include "classlib/forms/Dialogs.h"
#include "components/data/TVirtualDataSet.h"

namespace comp {
namespace {

// Reaches the handlers the toolkit calls on the user's actions.
struct TestCombo : TOxDBComboBox {
  using TOxDBComboBox::Change;
  using TOxDBComboBox::KeyDown;
  using TOxDBComboBox::KeyPress;
  using TOxDBComboBox::TOxDBComboBox;
  // The user picks an entry from the list.
  void Pick(int index) {
    SetItemIndex(index);
    Change();
    Click();
  }
};

struct ComboFixture : ::testing::Test {
  ComboFixture() {
    ds = new TVirtualDataSet(&owner);
    societe = new cl::TStringField(&owner);
    societe->SetFieldName("Societe");
    societe->SetSize(20);
    societe->SetDataSet(ds);
    numero = new cl::TIntegerField(&owner);
    numero->SetFieldName("Numero");
    numero->SetDataSet(ds);
    ds->Open();
    ds->AppendRecord({cl::Variant(std::string("b")), cl::Variant(7)});
    source = new cl::TDataSource(&owner);
    source->SetDataSet(ds);
    combo = new TestCombo(&owner);
    for (const char* item : {"Alpha", "Beta", "Gamma"}) combo->Items().Add(item);
    combo->SetDataSource(source);
    combo->SetDataField("Societe");
  }
  void Store(const std::string& value) {
    ds->Edit();
    societe->SetAsString(value);
    ds->Post();
  }

  cl::TComponent owner{nullptr};
  TVirtualDataSet* ds;
  cl::TField* societe;
  cl::TField* numero;
  cl::TDataSource* source;
  TestCombo* combo;
};

TEST_F(ComboFixture, FieldToComboMapping) {
  struct Case {
    cl::TComboBoxStyle style;
    bool values;
    const char* stored;
    int index;
    const char* text;
  };
  // clang-format off
  const Case cases[] = {
      {cl::csDropDown,     false, "Beta",  1,  "Beta"},
      {cl::csDropDown,     false, "Delta", -1, "Delta"},  // free text
      {cl::csDropDownList, false, "Beta",  1,  "Beta"},
      {cl::csDropDownList, false, "Delta", -1, ""},       // no selection
      {cl::csDropDown,     true,  "b",     1,  "b"},      // stored value, listed item
      {cl::csDropDown,     true,  "Beta",  -1, ""},
      {cl::csDropDown,     true,  "c",     -1, ""},       // no item for the third value
  };
  // clang-format on
  combo->Values().Add("a");
  combo->Values().Add("b");
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.stored) + (c.values ? " with values" : ""));
    combo->SetEnableValues(c.values);
    combo->SetStyle(c.style);
    EXPECT_EQ(combo->Style(), c.values ? cl::csDropDownList : c.style);
    Store(c.stored);
    EXPECT_EQ(combo->ItemIndex(), c.index);
    EXPECT_EQ(combo->GetComboText(), c.text);
    if (c.style == cl::csDropDown && !c.values) {
      EXPECT_EQ(combo->Text(), c.stored);
    }
  }
  EXPECT_EQ(ds->State(), cl::dsBrowse) << "selecting from code never edits";

  // Changing the lists shows the field again.
  combo->SetEnableValues(false);
  Store("Delta");
  EXPECT_EQ(combo->ItemIndex(), -1);
  combo->Items().Add("Delta");
  EXPECT_EQ(combo->ItemIndex(), 3);
  combo->SetEnableValues(true);
  Store("d");
  EXPECT_EQ(combo->ItemIndex(), -1);
  combo->Values().Add("c");
  combo->Values().Add("d");
  EXPECT_EQ(combo->ItemIndex(), 3);
}

TEST_F(ComboFixture, WritingBackEscapeAndRefusedKeys) {
  combo->SetEnableValues(true);
  combo->Values().Add("a");
  combo->Values().Add("b");
  // A pick without a value writes an empty text.
  combo->Pick(2);
  EXPECT_EQ(ds->State(), cl::dsEdit);
  EXPECT_EQ(combo->ItemIndex(), 2);
  ds->Post();
  EXPECT_EQ(societe->AsString(), "");
  combo->Pick(0);
  ds->Post();
  EXPECT_EQ(societe->AsString(), "a");

  // Escape during the edit shows the stored text again, and the post keeps it.
  combo->Pick(1);
  uint16_t key = cl::VK_ESCAPE;
  combo->KeyDown(key, {});
  EXPECT_EQ(key, 0);
  EXPECT_EQ(combo->ItemIndex(), 0);
  ds->Post();
  EXPECT_EQ(societe->AsString(), "a");

  // Like the data-aware edits, the edit part takes no more than a text field keeps.
  combo->SetEnableValues(false);
  EXPECT_EQ(combo->MaxLength(), 20);
  combo->SetText(std::string(25, 'x'));
  EXPECT_EQ(combo->Text(), std::string(20, 'x'));

  // Free text of the drop-down style; a character the field refuses beeps.
  combo->SetDataField("Numero");
  EXPECT_EQ(combo->MaxLength(), 0);
  EXPECT_EQ(combo->Text(), "7");
  const int beeps = cl::MessageBeepCount();
  char c = 'x';
  combo->KeyPress(c);
  EXPECT_EQ(c, 0);
  EXPECT_EQ(cl::MessageBeepCount(), beeps + 1);
  EXPECT_EQ(ds->State(), cl::dsBrowse);
  c = '5';
  combo->KeyPress(c);
  EXPECT_EQ(c, '5');
  EXPECT_EQ(ds->State(), cl::dsEdit);
  combo->SetText("75");
  combo->Change();  // as typing does
  combo->Perform(cl::CM_EXIT, 0, 0);
  ds->Post();
  EXPECT_EQ(numero->AsInteger(), 75);
}

TEST_F(ComboFixture, ADataSetThatCannotEditKeepsTheValue) {
  combo->SetReadOnly(true);
  combo->Pick(2);
  EXPECT_EQ(ds->State(), cl::dsBrowse);
  EXPECT_EQ(combo->Text(), "b") << "the pick is undone";
  uint16_t key = cl::VK_DOWN;
  combo->KeyDown(key, {});
  EXPECT_EQ(key, 0) << "Up/Down swallowed";
  char c = 'z';
  combo->KeyPress(c);
  EXPECT_EQ(c, 0);
  EXPECT_TRUE(combo->cl::TComboBox::ReadOnly()) << "the edit part is read-only";

  // Freeing the data source detaches the combo.
  delete source;
  EXPECT_EQ(combo->DataSource(), nullptr);
  EXPECT_EQ(combo->Text(), "");
}

}  // namespace
}  // namespace comp
