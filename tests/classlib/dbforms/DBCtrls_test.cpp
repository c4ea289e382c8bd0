#include "classlib/dbforms/DBCtrls.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "FakeDataSet.h"
#include "classlib/db/TFields.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/forms/Forms.h"
#include "tests/classlib/forms/FormsTestSupport.h"

namespace cl {
namespace {

using mirvel_test::PumpUntil;
using mirvel_test::Widget;
using test::TFakeDataSet;

// Three messages; Nom displays in brackets, so that browse and edit texts differ.
struct Fixture {
  Fixture() {
    dataset = new TFakeDataSet(&owner);
    test::AddStandardDefs(dataset);
    source = new TDataSource(&owner);
    source->SetDataSet(dataset);
    dataset->Open();
    const char* names[] = {"Dupont", "Martin", "Durand"};
    for (int i = 0; i < 3; ++i) {
      dataset->AppendRecord({Variant(i + 1), Variant(names[i]), Variant(TDateTime(45000.0 + i)),
                             Variant(std::string(names[i]) + "\r\nligne 2")});
    }
    dataset->First();
    dataset->FieldByName("Nom")->SetOnGetText([](TField* f, std::string& text, bool display) {
      text = display ? "[" + f->AsString() + "]" : f->AsString();
    });
    // "!" is refused by the name, so that a write-back can fail (a memo's write fails through
    // the dataset's blob stream: ControlKind::refuse_next_write).
    dataset->FieldByName("Nom")->SetOnValidate([](TField* f) {
      if (f->AsString().find('!') != std::string::npos) throw EDatabaseError("Pas de !");
    });
  }
  TComponent owner{nullptr};
  TFakeDataSet* dataset;
  TDataSource* source;
};

struct ControlKind {
  const char* name;
  const char* field;
  std::function<TWinControl*(TForm*, TDataSource*, const char*)> make;
  Qt::KeyboardModifiers end_modifier;
  std::string browse_text;  // of the first record
  std::string edit_text;
  // Makes the next write of the control's field fail with "Pas de !" (nothing when the field
  // refuses "!" by itself).
  std::function<void(TFakeDataSet*)> refuse_next_write;
};

template <typename T>
TWinControl* Make(TForm* form, TDataSource* source, const char* field) {
  auto* control = new T(form);
  control->SetParent(form);
  control->SetDataSource(source);
  control->SetDataField(field);
  return control;
}

void Focus(TWinControl* control) {
  control->SetFocus();
  ASSERT_TRUE(PumpUntil([&] { return control->Focused(); }));
}

void TypeAtEnd(TWinControl* control, Qt::KeyboardModifiers end, const char* text) {
  QTest::keyClick(Widget(control), Qt::Key_End, end);
  QTest::keyClicks(Widget(control), text);
}

TEST(DBCtrlsTest, SingleFieldControlsKeepTheDataLinkContract) {
  const ControlKind kinds[] = {
      {"edit", "Nom", Make<TDBEdit>, Qt::NoModifier, "[Dupont]", "Dupont", [](TFakeDataSet*) {}},
      {"memo", "Message", Make<TDBMemo>, Qt::ControlModifier, "Dupont\r\nligne 2",
       "Dupont\r\nligne 2",
       [](TFakeDataSet* dataset) {
         dataset->FailNext(test::FakeSlot::BlobWrite, 1, 0, "Pas de !");
       }},
  };
  for (const ControlKind& kind : kinds) {
    SCOPED_TRACE(kind.name);
    mirvel_test::UiRecorder recorder;
    Fixture fx;
    TForm form(nullptr);
    TWinControl* control = kind.make(&form, fx.source, kind.field);
    auto* other = new TEdit(&form);
    other->SetParent(&form);
    other->SetTop(100);
    int changes = 0;
    if (auto* edit = dynamic_cast<TDBEdit*>(control)) {
      edit->SetAutoSelect(false);
      edit->SetOnChange([&](TObject*) { ++changes; });
    } else {
      static_cast<TDBMemo*>(control)->SetOnChange([&](TObject*) { ++changes; });
    }
    TField* field = fx.dataset->FieldByName(kind.field);
    form.Show();
    QApplication::setActiveWindow(Widget(&form));
    Focus(other);

    // Browsing shows the display text; the focus shows the edit text.
    EXPECT_EQ(control->Text(), kind.browse_text);
    Focus(control);
    EXPECT_EQ(control->Text(), kind.edit_text);
    EXPECT_EQ(fx.dataset->State(), dsBrowse);

    // AutoEdit off: a typed key beeps once and changes nothing.
    fx.source->SetAutoEdit(false);
    int beeps = MessageBeepCount();
    TypeAtEnd(control, kind.end_modifier, "y");
    EXPECT_EQ(MessageBeepCount(), beeps + 1);
    EXPECT_EQ(control->Text(), kind.edit_text);
    EXPECT_EQ(fx.dataset->State(), dsBrowse);
    fx.source->SetAutoEdit(true);

    // A typed key starts the edit; Escape restores the field's text.
    TypeAtEnd(control, kind.end_modifier, "x");
    EXPECT_EQ(fx.dataset->State(), dsEdit);
    EXPECT_EQ(control->Text(), kind.edit_text + "x");
    QTest::keyClick(Widget(control), Qt::Key_Escape);
    EXPECT_EQ(control->Text(), kind.edit_text);

    // Leaving writes the text into the field.
    TypeAtEnd(control, kind.end_modifier, "z");
    Focus(other);
    EXPECT_EQ(field->AsString(), kind.edit_text + "z");

    // A write-back that fails keeps the focus and the typed text; the error is reported.
    Focus(control);
    TypeAtEnd(control, kind.end_modifier, "!");
    kind.refuse_next_write(fx.dataset);
    other->SetFocus();
    EXPECT_TRUE(PumpUntil([&] { return control->Focused(); }));
    EXPECT_EQ(control->Text(), kind.edit_text + "z!");
    EXPECT_EQ(field->AsString(), kind.edit_text + "z") << "the field keeps its last good value";
    ASSERT_EQ(recorder.errors.size(), 1u);
    EXPECT_EQ(recorder.errors[0], "Pas de !");
    QTest::keyClick(Widget(control), Qt::Key_Escape);
    fx.dataset->Cancel();
    Focus(other);

    // Controls disabled: no refresh until enabled, then exactly one.
    changes = 0;
    fx.dataset->DisableControls();
    fx.dataset->Next();
    fx.dataset->Next();
    EXPECT_EQ(changes, 0);
    fx.dataset->EnableControls();
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(control->Text().substr(0, 7),
              kind.browse_text.substr(0, 1) == "[" ? "[Durand" : "Durand\r");

    // A field that asks for its control focuses it.
    field->FocusControl();
    EXPECT_TRUE(PumpUntil([&] { return control->Focused(); }));
  }
}

TEST(DBCtrlsTest, WithoutSourceOrOnAClosedDatasetTheControlsAreEmptyAndReadOnly) {
  Fixture fx;
  TForm form(nullptr);
  auto* edit = static_cast<TDBEdit*>(Make<TDBEdit>(&form, nullptr, "Nom"));
  auto* memo = static_cast<TDBMemo*>(Make<TDBMemo>(&form, fx.source, "Message"));
  EXPECT_EQ(edit->Text(), "");
  EXPECT_TRUE(static_cast<QLineEdit*>(Widget(edit))->isReadOnly());
  edit->SetDataSource(fx.source);
  EXPECT_EQ(edit->Text(), "[Dupont]");
  EXPECT_EQ(edit->MaxLength(), 20) << "the field's size";
  // The memo's field changes at run time.
  memo->SetDataField("Nom");
  EXPECT_EQ(memo->Text(), "[Dupont]");
  fx.dataset->Close();
  EXPECT_EQ(edit->Text(), "");
  EXPECT_EQ(memo->Text(), "");

  // Lines changed in code while editing mark the memo modified: the post writes them.
  fx.dataset->Open();
  memo->SetDataField("Message");
  fx.dataset->Edit();
  memo->Lines().Add("> cit\xE9");
  fx.dataset->Post();
  EXPECT_EQ(fx.dataset->FieldByName("Message")->AsString(), "Dupont\r\nligne 2\r\n> cit\xE9");
}

// The enabling rules, state by state: which buttons are on.
TEST(DBCtrlsTest, NavigatorEnablesItsButtonsByTheDatasetState) {
  using B = TButtonSet;
  struct Case {
    const char* name;
    std::function<void(Fixture&)> setup;
    B enabled;
  };
  const Case cases[] = {
      {"first record", [](Fixture& f) { f.dataset->First(); },
       B{nbNext, nbLast, nbInsert, nbDelete, nbEdit, nbRefresh}},
      {"middle",
       [](Fixture& f) {
         f.dataset->First();
         f.dataset->Next();
       },
       B{nbFirst, nbPrior, nbNext, nbLast, nbInsert, nbDelete, nbEdit, nbRefresh}},
      {"last record", [](Fixture& f) { f.dataset->Last(); },
       B{nbFirst, nbPrior, nbInsert, nbDelete, nbEdit, nbRefresh}},
      {"editing",
       [](Fixture& f) {
         f.dataset->Next();
         f.dataset->Edit();
       },
       B{nbFirst, nbPrior, nbNext, nbLast, nbInsert, nbDelete, nbPost, nbCancel, nbRefresh}},
      {"empty",
       [](Fixture& f) {
         while (!f.dataset->IsEmpty()) f.dataset->Delete();
       },
       B{nbInsert, nbEdit, nbRefresh}},
      {"read-only",
       [](Fixture& f) {
         f.dataset->Close();
         f.dataset->SetReadOnly(true);
         f.dataset->Open();
         f.dataset->Next();
       },
       B{nbFirst, nbPrior, nbNext, nbLast, nbRefresh}},
      {"closed", [](Fixture& f) { f.dataset->Close(); }, B{}},
  };
  for (const Case& c : cases) {
    Fixture fx;
    TDBNavigator nav(nullptr);
    nav.SetDataSource(fx.source);
    c.setup(fx);
    for (int b = 0; b < TDBNavigator::kButtonCount; ++b) {
      const auto button = static_cast<TNavigateBtn>(b);
      EXPECT_EQ(nav.ButtonEnabled(button), c.enabled.Contains(button)) << c.name << " button " << b;
    }
  }
}

TEST(DBCtrlsTest, NavigatorActionsCanBeAbortedAndDeleteAsksFirst) {
  mirvel_test::UiRecorder recorder;
  Fixture fx;
  TDBNavigator nav(nullptr);
  nav.SetDataSource(fx.source);
  std::vector<int> clicks;
  nav.SetOnClick([&](TObject*, TNavigateBtn b) { clicks.push_back(b); });
  EXPECT_EQ(nav.Hints().Get(nbRefresh),
            "Rafra\xEE"
            "chir les donn\xE9"
            "es");

  nav.SetBeforeAction([](TObject*, TNavigateBtn b) {
    if (b == nbLast) Abort();
  });
  EXPECT_THROW(nav.BtnClick(nbLast), EAbort);
  EXPECT_EQ(fx.dataset->RecNo(), 1);
  EXPECT_TRUE(clicks.empty());
  nav.BtnClick(nbNext);
  EXPECT_EQ(fx.dataset->RecNo(), 2);
  EXPECT_EQ(clicks, std::vector<int>{nbNext});

  recorder.answers = {mrCancel, mrOk};
  nav.BtnClick(nbDelete);
  EXPECT_EQ(fx.dataset->RecordCount(), 3) << "declined";
  ASSERT_EQ(recorder.boxes.size(), 1u);
  EXPECT_EQ(recorder.boxes[0].text, "Supprimer l'enregistrement ?");
  nav.BtnClick(nbDelete);
  EXPECT_EQ(fx.dataset->RecordCount(), 2);

  // The mouse clicks the button under it.
  TForm form(nullptr);
  nav.SetParent(&form);
  form.Show();
  const TRect first = nav.ButtonRect(nbFirst);
  QTest::mouseClick(Widget(&nav), Qt::LeftButton, Qt::NoModifier,
                    QPoint((first.Left + first.Right) / 2, first.Height() / 2));
  EXPECT_EQ(fx.dataset->RecNo(), 1);
  nav.SetParent(nullptr);
}

TEST(DBCtrlsTest, LookupComboListsTheLookupDatasetAndChoosingSetsTheKey) {
  TComponent owner(nullptr);
  auto* users = new TFakeDataSet(&owner);
  users->AddFieldDef("Numero", ftInteger);
  users->AddFieldDef("Nom", ftString, 20);
  users->Open();
  const char* names[] = {"Dupont", "Martin", "Durand"};
  for (int i = 0; i < 3; ++i) users->AppendRecord({Variant(i + 1), Variant(names[i])});
  users->First();
  users->Next();
  auto* messages = new TFakeDataSet(&owner);
  messages->AddFieldDef("NoDestinataire", ftInteger);
  auto* key = new TIntegerField(&owner);  // persistent fields: the data field too
  key->SetFieldName("NoDestinataire");
  key->SetDataSet(messages);
  auto* lookup = new TStringField(&owner);
  lookup->SetFieldName("Destinataire");
  lookup->SetSize(20);
  lookup->SetFieldKind(fkLookup);
  lookup->SetKeyFields("NoDestinataire");
  lookup->SetLookupDataSet(users);
  lookup->SetLookupKeyFields("Numero");
  lookup->SetLookupResultField("Nom");
  lookup->SetDataSet(messages);
  auto* source = new TDataSource(&owner);
  source->SetDataSet(messages);
  messages->Open();
  messages->AppendRecord({Variant(1)});

  TForm form(nullptr);
  auto* combo = new TDBLookupComboBox(&form);
  combo->SetParent(&form);
  combo->SetDataSource(source);
  combo->SetDataField("Destinataire");
  int close_ups = 0;
  int key_at_close_up = 0;
  combo->SetOnCloseUp([&](TObject*) {
    ++close_ups;
    key_at_close_up = messages->FieldByName("NoDestinataire")->AsInteger();
  });
  EXPECT_EQ(combo->Items().Text(), "Dupont\r\nMartin\r\nDurand\r\n");
  EXPECT_EQ(combo->Text(), "Dupont");
  EXPECT_EQ(users->RecNo(), 2) << "the lookup dataset stays where it was";

  // The list is read again at each drop-down.
  users->Edit();
  users->FieldByName("Nom")->SetAsString("Martine");
  users->Post();
  form.Show();
  QApplication::setActiveWindow(Widget(&form));
  combo->SetFocus();
  combo->DropDown();
  auto* qt_combo = static_cast<QComboBox*>(Widget(combo));
  ASSERT_TRUE(mirvel_test::PumpUntil([&] { return qt_combo->view()->isVisible(); }));
  EXPECT_EQ(combo->Items().Get(1), "Martine");
  EXPECT_EQ(users->RecNo(), 2);
  QTest::keyClick(qt_combo->view(), Qt::Key_Down);
  QTest::keyClick(qt_combo->view(), Qt::Key_Down);
  QTest::keyClick(qt_combo->view(), Qt::Key_Return);
  ASSERT_TRUE(mirvel_test::PumpUntil([&] { return !qt_combo->view()->isVisible(); }));
  EXPECT_EQ(messages->State(), dsEdit);
  EXPECT_EQ(messages->FieldByName("NoDestinataire")->AsInteger(), 3);
  mirvel_test::PumpFor(30);
  EXPECT_EQ(close_ups, 1);
  EXPECT_EQ(key_at_close_up, 3) << "the choice is applied before OnCloseUp";
  EXPECT_EQ(combo->Text(), "Durand");
  EXPECT_EQ(users->RecNo(), 2);

  // A user added after the list was read is shown once a record names it.
  messages->Cancel();
  users->AppendRecord({Variant(4), Variant("Bernard")});
  messages->AppendRecord({Variant(4)});
  EXPECT_EQ(combo->Text(), "Bernard");
}

}  // namespace
}  // namespace cl
