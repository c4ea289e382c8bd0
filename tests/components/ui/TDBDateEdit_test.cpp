#include "components/ui/TDBDateEdit.h"

#include <gtest/gtest.h>

#include "classlib/db/TFields.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/forms/Forms.h"
#include "components/data/TVirtualDataSet.h"

namespace comp {
namespace {

using cl::EncodeDate;
using cl::EncodeTime;

class TProbeDateEdit : public TDBDateEdit {
 public:
  using TDBDateEdit::TDBDateEdit;
  bool TextReadOnly() const { return cl::TCustomEdit::ReadOnly(); }
};

struct DBDateEditTest : ::testing::Test {
  DBDateEditTest() {
    cl::SetClock([] { return EncodeDate(2026, 12, 7) + EncodeTime(9, 15, 0, 0); });
    ds = new TVirtualDataSet(&form);
    auto* ident = new cl::TIntegerField(&form);
    ident->SetFieldName("Ident");
    ident->SetDataSet(ds);
    when = new cl::TDateTimeField(&form);
    when->SetFieldName("Quand");
    when->SetDataSet(ds);
    source = new cl::TDataSource(&form);
    source->SetDataSet(ds);
    ds->Open();
    ds->AppendRecord({1, cl::Variant::FromDate(EncodeDate(2026, 3, 4) + EncodeTime(10, 30, 0, 0))});
    ds->AppendRecord({2, cl::Variant::Null()});
    ds->AppendRecord({3, cl::Variant::FromDate(cl::ComposeDateTime(EncodeDate(1800, 1, 1),
                                                                   EncodeTime(10, 30, 0, 0)))});
    ds->First();
    edit = new TProbeDateEdit(&form);
    edit->SetParent(&form);
    edit->SetDataSource(source);
    edit->SetDataField("Quand");
  }
  ~DBDateEditTest() override { cl::SetClock(nullptr); }

  void Char(char c) { edit->Perform(cl::WM_CHAR, static_cast<unsigned char>(c), 0); }
  void Key(uint16_t key, cl::TShiftState shift = {}) {
    edit->Perform(cl::WM_KEYDOWN, key, static_cast<cl::LPARAM>(shift.Bits()));
  }

  cl::TForm form{nullptr};
  TVirtualDataSet* ds;
  cl::TDateTimeField* when;
  cl::TDataSource* source;
  TProbeDateEdit* edit;
};

TEST_F(DBDateEditTest, WritesTheDateAndKeepsTheTimeOfDay) {
  EXPECT_EQ(edit->Text(), "04/03/2026");
  EXPECT_TRUE(edit->TextReadOnly()) << "read-only until the dataset edits";

  // A letter beeps and starts nothing; a digit starts the edit.
  const int beeps = cl::MessageBeepCount();
  Char('a');
  Char('T');
  EXPECT_EQ(cl::MessageBeepCount(), beeps + 2);
  EXPECT_EQ(ds->State(), cl::dsBrowse);
  Char('/');
  EXPECT_EQ(cl::MessageBeepCount(), beeps + 2) << "the date separator is taken";
  Char('5');
  EXPECT_EQ(ds->State(), cl::dsEdit);
  EXPECT_FALSE(edit->TextReadOnly());
  edit->SetText("05/03/2026");
  ds->Post();
  EXPECT_EQ(when->AsDateTime(), EncodeDate(2026, 3, 5) + EncodeTime(10, 30, 0, 0));
  EXPECT_TRUE(edit->TextReadOnly());

  // Escape reloads the field; clearing the text stores null.
  Key(cl::VK_DELETE);
  EXPECT_EQ(ds->State(), cl::dsEdit);
  edit->SetText("06/03/2026");
  Key(cl::VK_ESCAPE);
  EXPECT_EQ(edit->Text(), "05/03/2026");
  edit->SetText("");
  ds->Post();
  EXPECT_TRUE(when->IsNull());

  // A text that is no date is refused, not stored as some other date.
  ds->First();
  ds->Edit();
  edit->SetText("31/02/2003");
  EXPECT_THROW(ds->Post(), cl::Exception);
  ds->Cancel();
  EXPECT_TRUE(when->IsNull());

  // A date before 1899 keeps its time of day too.
  ds->Last();
  ds->Edit();
  edit->SetText("02/01/1800");
  ds->Post();
  int hour = 0, minute = 0, second = 0, ms = 0;
  cl::DecodeTime(when->AsDateTime(), hour, minute, second, ms);
  EXPECT_EQ(hour * 60 + minute, 10 * 60 + 30);
  int year = 0, month = 0, day = 0;
  cl::DecodeDate(when->AsDateTime(), year, month, day);
  EXPECT_EQ(EncodeDate(year, month, day), EncodeDate(1800, 1, 2));
}

TEST_F(DBDateEditTest, CalendarAndDefaultToday) {
  // The button starts the edit and drops the calendar; Enter writes the day chosen.
  edit->DoClick();
  EXPECT_EQ(ds->State(), cl::dsEdit);
  ASSERT_TRUE(edit->PopupVisible());
  Key(cl::VK_RIGHT);
  Key(cl::VK_RETURN);
  EXPECT_EQ(edit->Text(), "05/03/2026");
  ds->Post();
  EXPECT_EQ(when->AsDateTime(), EncodeDate(2026, 3, 5) + EncodeTime(10, 30, 0, 0));

  // Read-only by its own property: no button, no Delete.
  edit->SetReadOnly(true);
  edit->DoClick();
  Key(cl::VK_DELETE);
  EXPECT_FALSE(edit->PopupVisible());
  EXPECT_EQ(ds->State(), cl::dsBrowse);
  edit->SetReadOnly(false);
  Key(cl::VK_BACK);
  EXPECT_EQ(ds->State(), cl::dsEdit) << "Backspace starts the edit";
  ds->Cancel();

  // DefaultToday fills an empty field with now when editing starts.
  edit->SetDefaultToday(true);
  ds->Next();
  EXPECT_TRUE(when->IsNull());
  ds->Edit();
  EXPECT_EQ(when->AsDateTime(), EncodeDate(2026, 12, 7) + EncodeTime(9, 15, 0, 0));
  EXPECT_EQ(edit->Text(), "07/12/2026");
  ds->Cancel();

  // No data source: blank (or today), read-only.
  edit->SetDataSource(nullptr);
  EXPECT_EQ(edit->Text(), "07/12/2026");
  EXPECT_TRUE(edit->TextReadOnly());
  edit->SetDefaultToday(false);
  edit->SetDataSource(source);
  edit->SetDataSource(nullptr);
  EXPECT_TRUE(edit->TextIsEmpty());
}

}  // namespace
}  // namespace comp
