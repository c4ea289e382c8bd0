#include "app/FenVisuMessage.h"

#include <gtest/gtest.h>

#include "classlib/forms/Dialogs.h"
#include "engine/components/TTesseraTable.h"
#include "tests/app/AppUiTestSupport.h"

namespace mirvel_test {
namespace {

// The two memos of the main window over the messages table.
struct MainWindowMemos {
  MainWindowMemos() : form(cl::Create<cl::TForm>(nullptr)) {
    source = cl::Create<cl::TDataSource>(form.get());
    source->SetDataSet(mirvel::DMMirvel->TableMessages);
    messages = Memo("Message", 0);
    reponse = Memo("SuiteDonnee", 120);
    form->SetBounds(0, 0, 400, 300);
    form->Show();
  }
  cl::TDBMemo* Memo(const char* field, int top) {
    auto* memo = cl::Create<cl::TDBMemo>(form.get());
    memo->SetParent(form.get());
    memo->SetBounds(10, top + 10, 300, 100);
    memo->SetDataSource(source);
    memo->SetDataField(field);
    return memo;
  }
  std::unique_ptr<cl::TForm> form;
  cl::TDataSource* source;
  cl::TDBMemo* messages;
  cl::TDBMemo* reponse;
};

TEST(FenVisuMessage, ZoomedTextGoesBackToTheMemoItCameFrom) {
  struct {
    const char* name;
    bool from_reponse;
    bool editing;
    bool by_deactivation;
  } cases[] = {
      {"follow-up, deactivated", true, true, true},
      {"follow-up, memo left", true, true, false},
      {"message, deactivated", false, true, true},
      {"browsing: nothing copied", true, false, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Workstation station;
    MainWindowMemos main;
    std::unique_ptr<mirvel::TFenVisuMessage> zoom(cl::Create<mirvel::TFenVisuMessage>(nullptr));
    ASSERT_EQ(mirvel::FenVisuMessage, zoom.get());
    tessera::TTesseraTable* messages = station.dm().TableMessages;
    messages->Append();
    station.dm().TableMessagesNoDestinataire->SetAsInteger(1);
    // Typed as the user would: the memos write their text back before the post.
    main.messages->Lines().SetText("Le message");
    main.reponse->Lines().SetText("La suite");
    messages->Post();
    if (c.editing) messages->Edit();
    cl::TDBMemo* source = c.from_reponse ? main.reponse : main.messages;
    cl::TDBMemo* other = c.from_reponse ? main.messages : main.reponse;
    const std::string other_before = other->Text();
    const std::string source_before = source->Text();

    zoom->ZoomFrom(source, 50, 60, 300, 200);
    EXPECT_TRUE(zoom->Visible());
    EXPECT_EQ(zoom->Width(), 300);
    EXPECT_EQ(zoom->Height(), 200);
    EXPECT_EQ(zoom->MemoMessages->DataField(), source->DataField());
    EXPECT_EQ(zoom->MemoMessages->Text(), source_before);
    if (c.editing) zoom->MemoMessages->Lines().Add("ajout");

    if (c.by_deactivation) {
      zoom->FormDeactivate(zoom.get());
    } else {
      zoom->MemoMessagesExit(zoom->MemoMessages);
    }
    EXPECT_FALSE(zoom->Visible());
    EXPECT_EQ(other->Text(), other_before);
    EXPECT_EQ(source->Text(), c.editing ? source_before + "\r\najout" : source_before);
    if (c.editing) {
      messages->Post();
      EXPECT_EQ(messages->FieldByName(source->DataField())->AsString(),
                source_before + "\r\najout");
      EXPECT_EQ(messages->FieldByName(other->DataField())->AsString(), other_before);
    }
  }
}

}  // namespace
}  // namespace mirvel_test
