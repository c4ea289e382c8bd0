#include "app/FenEditMessages.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <memory>

#include "app/DlgChoixDatabaseMirvel.h"
#include "app/DlgConfirmation.h"
#include "app/DlgNewMessages.h"
#include "app/EditorForm.h"
#include "app/FenChoixDestinataires.h"
#include "app/FenVisuMessage.h"
#include "app/MirvelSchema.h"
#include "classlib/db/TDataSource.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/forms/Screen.h"
#include "classlib/forms/ShellApi.h"
#include "classlib/rtl/Registry.h"
#include "engine/components/TTesseraTable.h"
#include "tests/app/AppUiTestSupport.h"

extern char** environ;

namespace mirvel_test {
namespace {

using mirvel::TFenEditMessages;

// A workstation of alice (1) with bob (2) and the main window over it, on a fake tray.
class MainWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cl::SetTrayBackend(&tray_);
    station_ = std::make_unique<Workstation>(std::vector<TUserSeed>{{"bob", "Bob", 0}});
  }
  void TearDown() override {
    cl::SetPopupMenuResponder(nullptr);
    delete form_;
    station_.reset();
    cl::SetTrayBackend(nullptr);
    cl::SetCommandLine(1, argv0_);
  }
  // Creates the main window with `args` as its command line.
  TFenEditMessages* Create(std::vector<const char*> args = {}) {
    args.insert(args.begin(), "mirvel");
    cl::SetCommandLine(static_cast<int>(args.size()), args.data());
    form_ = cl::Create<TFenEditMessages>(nullptr);
    return form_;
  }
  TFenEditMessages* Shown() {
    Create({"SHOW"});
    EXPECT_TRUE(form_->Visible());
    return form_;
  }
  mirvel::TDMMirvel& dm() { return station_->dm(); }
  // A stored message from `author` to `to`, written behind the module's back; the view refreshed.
  void Stored(int author, int to, const cl::Variant& lu, const std::string& text,
              bool refresh = true) {
    auto raw = std::unique_ptr<tessera::TTesseraTable>(cl::Create<tessera::TTesseraTable>(nullptr));
    raw->SetDatabaseName(mirvel::DMBDMirvel->BDMirvel->DatabaseName());
    raw->SetTableName("Messages.DAT");
    raw->Open();
    raw->AppendRecord({cl::Variant::FromDate(cl::Now() + (++stamp_) * 1e-4), "Martin", to,
                       cl::Variant(), cl::Variant(), text, cl::Variant(), author, cl::Variant(),
                       "s", lu});
    raw->Close();
    if (refresh) dm().TableMessages->Refresh();
  }
  // Begins a new message typed by the user (modified, valid to post).
  // Points the registry at `directory` (a gone one makes connecting fail).
  void RegisterDatabase(const std::string& directory) {
    cl::TRegistry registry;
    registry.SetRootKey(cl::HKEY_LOCAL_MACHINE);
    registry.OpenKey(mirvel::kRegistryKey, true);
    registry.WriteString(mirvel::kRegistryDatabaseValue, directory);
  }
  static void CancelChooser() {
    cl::AddModalAction([] {
      auto* dialog = FindForm<mirvel::TDlgChoixDatabaseMirvel>();
      ASSERT_NE(dialog, nullptr);
      dialog->SetModalResult(cl::mrCancel);
    });
  }
  void Typing() {
    dm().TableMessages->Append();
    dm().TableMessagesNoDestinataire->SetAsInteger(1);  // the view shows alice's messages
    dm().TableMessagesSujet->SetAsString("typed");
  }
  int Count() {
    int n = 0;
    for (dm().TableMessages->First(); !dm().TableMessages->Eof(); dm().TableMessages->Next()) ++n;
    return n;
  }

  cl::TFakeTrayBackend tray_;
  std::unique_ptr<Workstation> station_;
  TFenEditMessages* form_ = nullptr;
  int stamp_ = 0;
  const char* argv0_[1] = {"FenEditMessages_test"};
};

// ---- Window life.

TEST_F(MainWindowTest, StartsShownOnlyWithShowExactlyOrWithoutTray) {
  struct Case {
    std::vector<const char*> args;
    bool tray;
    bool shown;
  };
  const std::vector<Case> cases = {
      {{"SHOW"}, true, true},      {{"show"}, true, false},      {{}, true, false},
      {{"SHOW", "x"}, true, true}, {{"x", "SHOW"}, true, false}, {{}, false, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args.empty() ? "<none>" : c.args[0]);
    tray_.available = c.tray;
    Create(c.args);
    EXPECT_EQ(form_->Visible(), c.shown);
    EXPECT_EQ(form_->btnTrayMenu != nullptr, !c.tray) << "the menu button exists only without tray";
    EXPECT_TRUE(mirvel::DMBDMirvel->FConnected);
    EXPECT_EQ(mirvel::AppWindows(), form_) << "the window is the modules' seam";
    delete form_;
    form_ = nullptr;
  }
}

TEST_F(MainWindowTest, HidePathsAndThePendingEditQuestion) {
  struct Case {
    const char* name;
    std::function<void(TFenEditMessages*)> hide;
    bool typing;
    int answer;
    bool visible_after;
    cl::TDataSetState state_after;
    int stored_after;
  };
  const auto close_box = [](TFenEditMessages* f) {
    cl::TMsg msg{f->Handle(), cl::WM_SYSCOMMAND, cl::SC_CLOSE, 0};
    EXPECT_TRUE(cl::Application().FilterMessage(msg));
  };
  const auto minimize = [](TFenEditMessages* f) {
    f->Perform(cl::WM_SYSCOMMAND, cl::SC_MINIMIZE, 0);
  };
  const auto fermer = [](TFenEditMessages* f) { f->btnClose->Click(); };
  // A message to a list ends its post with the silent abort once every copy stands.
  const auto fermer_list = [this, fermer](TFenEditMessages* f) {
    dm().TableMessagesNoDestinataire->SetAsInteger(0);
    dm().FRecipients = "1";
    fermer(f);
  };
  const std::vector<Case> cases = {
      {"close box", close_box, false, 0, false, cl::dsBrowse, 0},
      {"minimize", minimize, false, 0, false, cl::dsBrowse, 0},
      {"&Fermer", fermer, false, 0, false, cl::dsBrowse, 0},
      {"Yes posts", fermer, true, cl::mrYes, false, cl::dsBrowse, 1},
      {"Yes posts to a list", fermer_list, true, cl::mrYes, false, cl::dsBrowse, 1},
      {"No discards", fermer, true, cl::mrNo, false, cl::dsBrowse, 0},
      {"Cancel keeps", fermer, true, cl::mrCancel, true, cl::dsInsert, 0},
      {"close box, Cancel keeps", close_box, true, cl::mrCancel, true, cl::dsInsert, 0},
  };
  Shown();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    form_->ShowMainWindow();
    PumpFor(50);
    ASSERT_TRUE(form_->Visible());
    if (c.typing) Typing();
    station_->ui.boxes.clear();
    station_->ui.answers = {c.answer};
    c.hide(form_);
    EXPECT_EQ(form_->Visible(), c.visible_after);
    EXPECT_EQ(dm().TableMessages->State(), c.state_after);
    EXPECT_EQ(station_->ui.boxes.size(), c.typing ? 1u : 0u);
    if (c.typing) {
      EXPECT_EQ(station_->ui.boxes[0].text, mirvel::kSaveChangesQuestion);
    }
    if (dm().TableMessages->State() != cl::dsBrowse) dm().TableMessages->Cancel();
    EXPECT_EQ(Count(), c.stored_after);
    // Start each case from an empty table.
    while (!dm().TableMessages->IsEmpty()) dm().TableMessages->Delete();
  }
}

TEST_F(MainWindowTest, QuitDialogAnswersAndTheTypedMessage) {
  struct Case {
    const char* name;
    int quit;
    bool typing;
    int answer;
    bool can_close;
    bool visible_after;
    cl::TDataSetState state_after;
  };
  const std::vector<Case> cases = {
      {"Réduire hides", cl::mrOk, false, 0, false, false, cl::dsBrowse},
      {"Annuler keeps", cl::mrCancel, false, 0, false, true, cl::dsBrowse},
      {"Quitter closes", cl::mrAbort, false, 0, true, true, cl::dsBrowse},
      {"Quitter, Yes posts", cl::mrAbort, true, cl::mrYes, true, true, cl::dsBrowse},
      {"Quitter, No discards", cl::mrAbort, true, cl::mrNo, true, true, cl::dsBrowse},
      {"Quitter, Cancel stays", cl::mrAbort, true, cl::mrCancel, false, true, cl::dsInsert},
  };
  Shown();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    form_->ShowMainWindow();
    PumpFor(50);
    ASSERT_TRUE(form_->Visible());
    if (c.typing) Typing();
    station_->ui.answers = {c.answer};
    bool seen = false;
    cl::AddModalAction([&] {
      auto* dialog = FindForm<mirvel::TDlgConfirmation>();
      ASSERT_NE(dialog, nullptr);
      seen = true;
      dialog->SetModalResult(c.quit);
    });
    bool can_close = !c.can_close;
    form_->FormCloseQuery(form_, can_close);
    EXPECT_TRUE(seen);
    EXPECT_EQ(can_close, c.can_close);
    EXPECT_EQ(form_->Visible(), c.visible_after);
    EXPECT_EQ(dm().TableMessages->State(), c.state_after);
    if (dm().TableMessages->State() != cl::dsBrowse) dm().TableMessages->Cancel();
  }
  // The end of the session closes without asking.
  form_->FClosing = true;
  bool can_close = false;
  form_->FormCloseQuery(form_, can_close);
  EXPECT_TRUE(can_close);
  EXPECT_EQ(cl::PendingModalActions(), 0);
}

TEST_F(MainWindowTest, ReconnectingAsksAboutTheTypedMessageFirst) {
  Shown();
  Typing();
  station_->ui.answers = {cl::mrCancel};
  form_->Modifierlaconnection1Click(nullptr);
  EXPECT_EQ(dm().TableMessages->State(), cl::dsInsert) << "nothing typed is lost";
  EXPECT_TRUE(mirvel::DMBDMirvel->FConnected);
  // Yes: the message is stored, then the directory dialog (cancelled: the same directory).
  station_->ui.answers = {cl::mrYes};
  cl::AddModalAction([] {
    auto* dialog = FindForm<mirvel::TDlgChoixDatabaseMirvel>();
    ASSERT_NE(dialog, nullptr);
    dialog->SetModalResult(cl::mrCancel);
  });
  form_->Modifierlaconnection1Click(nullptr);
  EXPECT_TRUE(mirvel::DMBDMirvel->FConnected);
  EXPECT_EQ(Count(), 1);
  // Text typed in the memo has not reached its field yet: it is asked about all the same.
  form_->ShowMainWindow();
  dm().TableMessages->First();
  dm().TableMessages->Edit();
  form_->MemoMessages->Lines().SetText("typed in the memo");
  station_->ui.boxes.clear();
  station_->ui.answers = {cl::mrCancel};
  CancelChooser();  // reached only when the question was skipped
  form_->Modifierlaconnection1Click(nullptr);
  cl::ClearModalActions();
  ASSERT_EQ(station_->ui.boxes.size(), 1u);
  EXPECT_EQ(dm().TableMessages->State(), cl::dsEdit);
  EXPECT_EQ(form_->MemoMessages->Text(), "typed in the memo");
}

TEST_F(MainWindowTest, ShowingRefreshesAfterAChangeAndClosesAnOpenAlert) {
  Create();
  ASSERT_FALSE(form_->Visible());
  // An open alert: showing closes it and leaves the window hidden.
  bool answer = true;
  cl::AddModalAction([&] {
    ASSERT_TRUE(form_->NewMessageDialogOpen());
    form_->ShowMainWindow();
  });
  answer = form_->ShowNewMessageDialog(false);
  EXPECT_FALSE(answer);
  EXPECT_FALSE(form_->Visible());
  EXPECT_FALSE(form_->NewMessageDialogOpen());
  // A message stored by another station while hidden appears once shown.
  form_->SetPendingCheck(true);
  auto raw = std::unique_ptr<tessera::TTesseraTable>(cl::Create<tessera::TTesseraTable>(nullptr));
  raw->SetDatabaseName(mirvel::DMBDMirvel->BDMirvel->DatabaseName());
  raw->SetTableName("Messages.DAT");
  raw->Open();
  raw->AppendRecord({cl::Variant::FromDate(cl::Now()), "Durand", 1, cl::Variant(), cl::Variant(),
                     "x", cl::Variant(), 2, cl::Variant(), "s", 0});
  raw->Close();
  form_->ShowMainWindow();
  EXPECT_TRUE(form_->Visible());
  EXPECT_FALSE(form_->PendingCheck());
  EXPECT_EQ(Count(), 1);
}

TEST_F(MainWindowTest, RefreshErrorsOnShowAreReportedAndTheWindowStillShows) {
  // The users table fails at one move on show: its first belongs to the refresh of the users,
  // its last to the filling of the user selector.  A run without failure counts the moves.
  auto show_failing_at = [this](int failing_move) {
    Create();
    EXPECT_FALSE(form_->Visible());
    int moves = 0;
    dm().TableUtilisateurs->SetBeforeScroll([&](cl::TDataSet*) {
      if (++moves == failing_move) throw cl::Exception("unreadable");
    });
    station_->ui.boxes.clear();
    form_->ShowMainWindow();
    dm().TableUtilisateurs->SetBeforeScroll(nullptr);
    EXPECT_TRUE(form_->Visible());
    delete form_;
    form_ = nullptr;
    return moves;
  };
  const int moves = show_failing_at(0);
  ASSERT_GE(moves, 2);
  EXPECT_TRUE(station_->ui.boxes.empty());
  const struct {
    int failing_move;
    const char* box;
  } cases[] = {{1, "Une erreur [4] est survenue : \r\nunreadable"},
               {moves, "Une erreur [5] est survenue : \r\nunreadable"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.box);
    show_failing_at(c.failing_move);
    ASSERT_EQ(station_->ui.boxes.size(), 1u);
    EXPECT_EQ(station_->ui.boxes[0].text, c.box);
    EXPECT_EQ(station_->ui.boxes[0].type, cl::mtError);
  }
}

TEST_F(MainWindowTest, UserMessagesWaitWhileTheTimerRunsWithoutSpinning) {
  Create();
  mirvel::DMBDMirvel->FInTimer = true;
  cl::PostMessage(form_->Handle(), mirvel::WM_SHOW_MAIN, 0, 0);
  PumpFor(300);
  EXPECT_FALSE(form_->Visible());
  EXPECT_EQ(cl::PendingMessageCount(), 0) << "the message waits in the timer, not in the queue";
  mirvel::DMBDMirvel->FInTimer = false;
  EXPECT_TRUE(PumpUntil([this] { return form_->Visible(); }));
  // One arriving while an earlier one still waits goes after it.
  form_->btnClose->Click();
  ASSERT_FALSE(form_->Visible());
  mirvel::DMBDMirvel->FInTimer = true;
  form_->Perform(mirvel::WM_SHOW_MAIN, 0, 0);
  mirvel::DMBDMirvel->FInTimer = false;
  form_->Perform(mirvel::WM_SHOW_MAIN, 0, 0);
  EXPECT_FALSE(form_->Visible()) << "ran ahead of the waiting message";
  EXPECT_TRUE(PumpUntil([this] { return form_->Visible(); }));
}

// ---- Messages.

TEST_F(MainWindowTest, GridMenuMarksAndDelete) {
  Shown();
  struct Case {
    cl::Variant lu;
    bool read, unread, all;
  };
  const std::vector<Case> cases = {{cl::Variant(), false, false, false},
                                   {cl::Variant(0), true, false, true},
                                   {cl::Variant(1), false, true, true}};
  for (const Case& c : cases) {
    Stored(2, 1, c.lu, "m");
    dm().TableMessages->First();  // the view shows the newest first
    form_->PopupGridPopup(nullptr);
    EXPECT_EQ(form_->mnuMarquerLu->Enabled(), c.read);
    EXPECT_EQ(form_->mnuMarquerNonLu->Enabled(), c.unread);
    EXPECT_EQ(form_->mnuToutMarquerLu->Enabled(), c.all);
    EXPECT_TRUE(form_->mnuSupprimer->Enabled());
  }
  // Mark the newest (read) one unread and back, then everything read.
  dm().TableMessages->First();
  form_->mnuMarquerNonLuClick(nullptr);
  EXPECT_EQ(dm().TableMessagesLu->AsInteger(), 0);
  form_->mnuMarquerLuClick(nullptr);
  EXPECT_EQ(dm().TableMessagesLu->AsInteger(), 1);
  form_->mnuToutMarquerLuClick(nullptr);
  for (dm().TableMessages->First(); !dm().TableMessages->Eof(); dm().TableMessages->Next()) {
    if (!dm().TableMessagesLu->IsNull()) {
      EXPECT_EQ(dm().TableMessagesLu->AsInteger(), 1);
    }
  }
  // Delete: Cancel keeps, OK deletes.
  station_->ui.answers = {cl::mrCancel, cl::mrOk};
  form_->mnuSupprimerClick(nullptr);
  EXPECT_EQ(Count(), 3);
  form_->mnuSupprimerClick(nullptr);
  EXPECT_EQ(Count(), 2);
  while (!dm().TableMessages->IsEmpty()) dm().TableMessages->Delete();
  form_->PopupGridPopup(nullptr);
  EXPECT_FALSE(form_->mnuSupprimer->Enabled());
}

// The drawn grid itself: the same texts in a row with Lu 0 or null carry more ink than in a read
// row, because they are bold.
TEST_F(MainWindowTest, UnreadRowsAreDrawnBold) {
  Shown();
  form_->SetBounds(form_->Left(), form_->Top(), 900, 800);  // room for every row
  Stored(2, 1, 1, "m");                                     // the current row, highlighted
  Stored(2, 1, cl::Variant(), "m");
  Stored(2, 1, 0, "m");
  Stored(2, 1, 1, "m");
  dm().TableMessages->Last();
  ASSERT_TRUE(PumpUntil([this] { return form_->MainDBGrid->Height() > 150; }));
  cl::TDBGrid* grid = form_->MainDBGrid;
  // The newest first: read, unread (0), unread (null), then the current one.
  auto ink = [grid](int row) {
    int count = 0;
    for (int i = 0; i < grid->Columns().Count(); ++i) {
      const std::string& field = grid->Columns().Items(i)->FieldName();
      if (field != "Interlocuteur" && field != "DestinataireSelecter") continue;
      cl::TRect cell = grid->CellRect(grid->ColOffset() + i, grid->RowOffset() + row);
      EXPECT_GT(cell.Width(), 20) << "row " << row << " shown";
      count +=
          CountPixels(grid, cl::Rect(cell.Left + 2, cell.Top + 2, cell.Right - 2, cell.Bottom - 2),
                      cl::clBlack);
    }
    return count;
  };
  const int read = ink(0);
  ASSERT_GT(read, 20) << "the texts are drawn";
  EXPECT_GT(ink(1), read * 1.15) << "Lu 0";
  EXPECT_GT(ink(2), read * 1.15) << "Lu null";
}

TEST_F(MainWindowTest, UserSelectorFiltersTheView) {
  station_->AddUser({"lt", "<b>Lt</b>", 1});
  Shown();
  Stored(2, 1, cl::Variant(0), "to alice");
  Stored(1, 2, cl::Variant(0), "to bob");
  form_->FillUserSelecter();
  cl::TStrings& items = form_->UserSelecter->Items();
  ASSERT_EQ(items.Count(), 4);
  EXPECT_EQ(items.Strings(0), mirvel::kAllUsers);
  EXPECT_EQ(items.Strings(form_->UserSelecter->ItemIndex()), "Alice Martin");
  EXPECT_GT(items.IndexOf("<b>Lt</b>"), 0) << "a name with markup is listed as typed";
  struct Case {
    std::string item;
    std::string filter;
    int count;
  };
  for (const Case& c : std::vector<Case>{{"Alice Martin", "NoDestinataire = 1", 1},
                                         {"Bob", "NoDestinataire = 2", 1},
                                         {mirvel::kAllUsers, "", 2}}) {
    form_->UserSelecter->SetItemIndex(items.IndexOf(c.item));
    form_->UserSelecterClick(nullptr);
    EXPECT_EQ(dm().TableMessages->Filter(), c.filter);
    EXPECT_EQ(Count(), c.count);
  }
  // A choice in the list applies the selection once, as one call of the handler does.
  int changes = 0;
  auto watch = std::unique_ptr<cl::TDataSource>(cl::Create<cl::TDataSource>(nullptr));
  watch->SetDataSet(dm().TableMessages);
  watch->SetOnDataChange([&](cl::TObject*, cl::TField* field) { changes += field == nullptr; });
  form_->UserSelecterClick(nullptr);
  const int per_apply = changes;
  ASSERT_GT(per_apply, 0);
  changes = 0;
  auto* combo = qobject_cast<QComboBox*>(Widget(form_->UserSelecter));
  emit combo->activated(form_->UserSelecter->ItemIndex());
  EXPECT_EQ(changes, per_apply);
}

TEST_F(MainWindowTest, AnsweringAColleagueAndRefusingOneself) {
  Shown();
  form_->UserSelecter->SetItemIndex(0);
  form_->UserSelecterClick(nullptr);
  Stored(1, 2, cl::Variant(1), "own");
  dm().TableMessages->Last();
  station_->ui.boxes.clear();
  EXPECT_THROW(form_->btnAnswerSameClick(form_->btnAnswerNew), cl::EAbort);
  ASSERT_EQ(station_->ui.boxes.size(), 1u);
  EXPECT_EQ(station_->ui.boxes[0].text, mirvel::kOwnMessage);
  EXPECT_EQ(dm().TableMessages->State(), cl::dsBrowse);

  // A copy into the buffer that fails stops the answer: the buffer's previous message must not
  // become the answer.
  Stored(2, 1, cl::Variant(1), "colleague");
  dm().TableMessages->First();
  dm().TempMultiPost->Close();
  EXPECT_THROW(form_->btnAnswerSameClick(form_->btnAnswerNew), cl::Exception);
  EXPECT_EQ(dm().TableMessages->State(), cl::dsBrowse);
  dm().TempMultiPost->Open();

  struct Case {
    const char* name;
    cl::TObject* (*button)(TFenEditMessages*);
    cl::TDataSetState state;
  };
  const std::vector<Case> cases = {
      {"new", [](TFenEditMessages* f) -> cl::TObject* { return f->btnAnswerNew; }, cl::dsInsert},
      {"same", [](TFenEditMessages* f) -> cl::TObject* { return f->btnAnswerSame; }, cl::dsEdit}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Stored(2, 1, cl::Variant(1), "Rappeler\r\nAvant midi");
    dm().TableMessages->First();
    form_->btnAnswerSameClick(c.button(form_));
    EXPECT_EQ(dm().TableMessages->State(), c.state);
    EXPECT_EQ(dm().TableMessagesNoDestinataire->AsInteger(), 2);
    EXPECT_EQ(dm().TableMessagesNoUtilisateur->AsInteger(), 1);
    EXPECT_EQ(dm().TableMessagesLu->AsInteger(), 0);
    EXPECT_EQ(dm().TableMessages->FieldByName("Message")->AsString(), ">Rappeler\r\n>Avant midi");
    dm().TableMessages->Cancel();
  }
}

TEST_F(MainWindowTest, CallerLeavesFillTheCompanyAndNumbers) {
  Shown();
  station_->AddClient("Durand SA", "Lyon", "04 00", {{"Paul", ""}, {"Anne", "06 11"}});
  dm().FillCallersCombo();
  struct Case {
    const char* caller;
    std::string rappeler, rappeler2;
    std::string expect1, expect2;
  };
  const std::vector<Case> cases = {{"Paul", "", "", "04 00", ""},
                                   {"Anne", "", "", "06 11", "04 00"},
                                   {"Anne", "01", "", "01", "04 00"},
                                   {"Inconnu", "", "", "", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.caller);
    dm().TableMessages->Append();
    dm().TableMessagesNoRappeler->SetAsString(c.rappeler);
    form_->InterSelecter->SetText(c.caller);
    form_->InterSelecterExit(nullptr);
    EXPECT_EQ(dm().TableMessagesNoRappeler->AsString(), c.expect1);
    EXPECT_EQ(dm().TableMessagesNoRappeler2->AsString(), c.expect2);
    EXPECT_EQ(dm().TableMessagesSociete->AsString(), c.expect1.empty() ? "" : "Durand SA");
    dm().TableMessages->Cancel();
  }
}

TEST_F(MainWindowTest, RecipientListThroughTheEllipsis) {
  Shown();
  Stored(2, 1, cl::Variant(1), "m");
  cl::AddModalAction([] {
    auto* dialog = FindForm<mirvel::TFenChoixDestinataires>();
    ASSERT_NE(dialog, nullptr);
    dialog->CheckList("2");
    dialog->SetModalResult(cl::mrOk);
  });
  form_->btnChoixDestinataireClick(nullptr);
  EXPECT_EQ(dm().TableMessages->State(), cl::dsEdit);
  EXPECT_EQ(dm().TableMessagesNoDestinataire->AsInteger(), 0);
  EXPECT_EQ(dm().FRecipients, "2");
  dm().TableMessages->Cancel();
}

TEST_F(MainWindowTest, ZoomCopiesBackIntoTheMessageMemo) {
  Shown();
  // The program makes the zoom window at start; this station has none of its own.
  std::unique_ptr<mirvel::TFenVisuMessage> owned;
  if (mirvel::FenVisuMessage == nullptr) owned.reset(cl::Create<mirvel::TFenVisuMessage>(nullptr));
  mirvel::TFenVisuMessage& zoom = *mirvel::FenVisuMessage;
  Typing();
  form_->MemoMessages->Lines().SetText("Le message");
  form_->MemoReponse->Lines().SetText("La suite");
  // Nothing focused (no active window offscreen): the zoom takes the message memo.
  form_->btnZoom->Click();
  ASSERT_TRUE(zoom.Visible());
  EXPECT_EQ(zoom.SourceMemo(), form_->MemoMessages);
  EXPECT_EQ(zoom.Width(), form_->MemoMessages->Width());
  EXPECT_EQ(zoom.Height(), static_cast<int>(std::lround(2.0 * form_->Height() / 3.0)));
  EXPECT_FALSE(form_->btnZoom->Visible());
  EXPECT_TRUE(form_->btnUnZoom->Visible());
  zoom.MemoMessages->Lines().Add("ajout");
  zoom.FormDeactivate(&zoom);
  EXPECT_FALSE(zoom.Visible());
  EXPECT_EQ(form_->MemoMessages->Text(), "Le message\r\najout");
  EXPECT_EQ(form_->MemoReponse->Text(), "La suite");
  dm().TableMessages->Post();
  EXPECT_EQ(dm().TableMessages->FieldByName("Message")->AsString(), "Le message\r\najout");
  EXPECT_EQ(dm().TableMessages->FieldByName("SuiteDonnee")->AsString(), "La suite");
  form_->FormActivate(form_);
  EXPECT_TRUE(form_->btnZoom->Visible());
  EXPECT_FALSE(form_->btnUnZoom->Visible());
}

TEST_F(MainWindowTest, ResizeRulesAndStoredPlacement) {
  Shown();
  form_->SetBounds(form_->Left(), form_->Top(), 900, 600);
  form_->Panel1Resize(nullptr);
  form_->PanelRecherchesResize(nullptr);
  const int w1 = form_->Panel1->ClientRect().Width();
  EXPECT_EQ(form_->btnSelClients->Left() + form_->btnSelClients->Width(), w1 - 7);
  EXPECT_EQ(form_->InterSelecter->Left() + form_->InterSelecter->Width(),
            form_->btnSelClients->Left());
  const int w2 = form_->PanelRecherches->ClientRect().Width();
  EXPECT_EQ(form_->BtnContacts->Left() + form_->BtnContacts->Width(), w2 - 5);
  EXPECT_EQ(form_->btnAvailabilities->Left() + form_->btnAvailabilities->Width(),
            form_->BtnContacts->Left() - 4);
  EXPECT_EQ(form_->UserSelecter->Left() + form_->UserSelecter->Width(),
            form_->btnAvailabilities->Left() - 4);
  form_->PanelDonnees->SetHeight(40);
  form_->PanelDonneesResize(nullptr);
  EXPECT_EQ(form_->PanelDonnees->Height(), mirvel::kMinPanelDonnees);

  form_->PanelDonnees->SetHeight(210);
  form_->FormStorage1->SaveFormPlacement();
  EXPECT_EQ(form_->FormStorage1->ReadInteger("FormWidth", 0), 900);
  EXPECT_EQ(form_->FormStorage1->ReadInteger("FormHeight", 0), 600);
  form_->SetBounds(form_->Left(), form_->Top(), 700, 500);
  form_->PanelDonnees->SetHeight(160);
  form_->FormStorage1->RestoreFormPlacement();
  EXPECT_EQ(form_->Width(), 900);
  EXPECT_EQ(form_->Height(), 600);
  EXPECT_EQ(form_->PanelDonnees->Height(), 210);
}

// The window system clamps a user's resize to the minimum tracking size the form reports: the
// placement's limits come after the form's own answer and overwrite what they set; without a
// placement width, the width at creation holds, however wide the window has become since.
TEST_F(MainWindowTest, NoResizeBelowTheMinimumTrackingSize) {
  for (const int placement_width : {635, 0}) {
    SCOPED_TRACE(placement_width);
    Create();
    const int created = form_->Width();
    EXPECT_EQ(form_->FMinWidth, created);
    const int expected = placement_width != 0 ? placement_width : created;
    form_->FormStorage1->MinMaxInfo().SetMinTrackWidth(placement_width);
    form_->ShowMainWindow();
    form_->SetBounds(form_->Left(), form_->Top(), created + 200, 600);
    cl::TMinMaxInfo info;
    form_->Perform(cl::WM_GETMINMAXINFO, 0, reinterpret_cast<cl::LPARAM>(&info));
    EXPECT_EQ(info.ptMinTrackSize.X, expected);
    EXPECT_EQ(info.ptMinTrackSize.Y, 452);
    Widget(form_)->resize(created - 150, 300);
    EXPECT_TRUE(PumpUntil([&] { return form_->Width() == expected && form_->Height() == 452; }))
        << form_->Width() << " x " << form_->Height();
    Widget(form_)->resize(created + 10, 500);
    EXPECT_TRUE(PumpUntil([&] { return form_->Width() == created + 10; })) << "wider is allowed";
    delete form_;
    form_ = nullptr;
  }
}

// ---- Without a notification area.

TEST_F(MainWindowTest, NoTrayShowsIconifiesAndOpensTheMenuFromTheWindow) {
  tray_.available = false;
  Create();
  ASSERT_TRUE(form_->Visible());
  ASSERT_NE(form_->btnTrayMenu, nullptr);
  EXPECT_EQ(form_->btnTrayMenu->Hint(), mirvel::kTrayHint);
  EXPECT_EQ(form_->btnTrayMenu->Parent(), form_->PanelBoutons);
  form_->btnClose->Click();
  EXPECT_TRUE(form_->Visible()) << "iconified, not hidden";
  EXPECT_EQ(form_->WindowState(), cl::wsMinimized);
  EXPECT_TRUE(form_->IsMinimized()) << "counts as hidden for the new-message rules";
  cl::TPopupMenu* opened = nullptr;
  cl::SetPopupMenuResponder([&](cl::TPopupMenu* menu) -> cl::TMenuItem* {
    opened = menu;
    return form_->mnuEditMessages;
  });
  form_->btnTrayMenu->Click();
  EXPECT_EQ(opened, form_->PopupTray);
  EXPECT_TRUE(PumpUntil([this] { return form_->WindowState() == cl::wsNormal; }));
}

TEST_F(MainWindowTest, NoTrayShowsEvenWhenTheConnectionFailsAtStart) {
  tray_.available = false;
  mirvel::DMBDMirvel->Disconnect();
  RegisterDatabase(TestRoot() + "/gone");
  struct Case {
    int answer;
    int choosers;
    std::vector<std::string> errors;
  };
  for (const Case& c : {Case{cl::mrNo, 1, {}}, Case{cl::mrYes, 2, {mirvel::kBadConnection}}}) {
    SCOPED_TRACE(c.answer);
    delete form_;
    form_ = nullptr;
    for (int i = 0; i < c.choosers; ++i) CancelChooser();
    station_->ui.answers = {c.answer};
    station_->ui.boxes.clear();
    station_->ui.errors.clear();
    Create();
    EXPECT_TRUE(form_->Visible());
    EXPECT_FALSE(mirvel::DMBDMirvel->FConnected);
    ASSERT_EQ(station_->ui.boxes.size(), 1u);
    EXPECT_EQ(station_->ui.boxes[0].text, mirvel::kAskConnect);
    EXPECT_EQ(station_->ui.errors, c.errors);
    EXPECT_EQ(cl::PendingModalActions(), 0);
  }
  // The menu's "&Connecter" is reachable and connects once the directory is back.
  RegisterDatabase(station_->directory());
  cl::SetPopupMenuResponder([this](cl::TPopupMenu*) { return form_->mnuConnectDisconnect; });
  form_->btnTrayMenu->Click();
  EXPECT_TRUE(PumpUntil([] { return mirvel::DMBDMirvel->FConnected; }));
}

TEST_F(MainWindowTest, NoTrayRestoringRefreshesAChangeSeenWhileIconified) {
  tray_.available = false;
  Create();
  const std::vector<std::pair<const char*, std::function<void()>>> restores = {
      {"task bar", [this] { form_->Perform(cl::WM_SYSCOMMAND, cl::SC_RESTORE, 0); }},
      {"activation", [this] {
         form_->SetWindowState(cl::wsNormal);
         form_->FormActivate(form_);
       }}};
  for (const auto& [name, restore] : restores) {
    SCOPED_TRACE(name);
    form_->btnClose->Click();
    ASSERT_EQ(form_->WindowState(), cl::wsMinimized);
    const int before = Count();
    Stored(2, 1, cl::Variant(0), name, false);
    form_->SetPendingCheck(true);
    form_->OxTrayIcon1->SetAnimated(true);
    ASSERT_EQ(Count(), before) << "not yet refreshed";
    restore();
    EXPECT_FALSE(form_->PendingCheck());
    EXPECT_FALSE(form_->OxTrayIcon1->Animated());
    EXPECT_EQ(Count(), before + 1);
  }
}

// ---- Texts.

TEST_F(MainWindowTest, GoldenTexts) {
  Create();
  // clang-format off
  const std::vector<TGoldenText> texts = {
      {"", "Caption", "Gestion des messages t\xE9l\xE9phoniques"},
      {"Label6", "Caption", "Visualisation des messages de"},
      {"btnAvailabilities", "Caption", "&Disponibilit\xE9s..."},
      {"BtnContacts", "Caption", "&Contacts..."},
      {"Label1", "Caption", "Date appel"},
      {"Label2", "Caption", "Destinataire"},
      {"Label3", "Caption", "Interlocuteur"},
      {"Label4", "Caption", "Num\xE9ros \xE0 rappeler"},
      {"Label5", "Caption", "Saisie du message"},
      {"Label7", "Caption", "Sujet"},
      {"Label8", "Caption", "Soci\xE9t\xE9"},
      {"Label9", "Caption", "Message et commentaires"},
      {"Label10", "Caption", "Suite donn\xE9" "e"},
      {"btnZoom", "Hint", "Agrandir le message"},
      {"btnUnZoom", "Hint", "R\xE9tabli le message en taille normale"},
      {"btnQuote", "Caption", ">>"},
      {"btnQuote", "Hint", "Quoter le message"},
      {"btnPrintMessage", "Hint", "Imprimer le message"},
      {"btnAnswerSame", "Hint", "R\xE9pondre avec le m\xEAme message"},
      {"btnAnswerNew", "Hint", "R\xE9pondre avec un nouveau message"},
      {"btnClose", "Caption", "&Fermer"},
      {"DBNavBarrePrincipal", "Delete", "Effacer le message ?"},
      {"MainDBGrid/DateDBGrid", "Title", "Date appel"},
      {"MainDBGrid/DestinataireSelecter", "Title", "Destinataire"},
      {"MainDBGrid/Interlocuteur", "Title", "Interlocuteur"},
  };
  // clang-format on
  ExpectTexts(form_, texts);
  for (int i = 0; i < form_->MainDBGrid->ColumnCount(); ++i) {
    cl::TColumn* column = form_->MainDBGrid->Column(i);
    EXPECT_EQ(column->Title().Font.Style().Contains(cl::fsBold),
              column->FieldName() == "Interlocuteur")
        << column->FieldName();
  }
  EXPECT_EQ(form_->FindPanelPrincipal->Label()->Caption(), " Rechercher ");
  EXPECT_EQ(form_->OxTrayIcon1->Hint(), "Gestion des appels t\xE9l\xE9phoniques");
  std::vector<std::string> tray, grid;
  for (int i = 0; i < form_->PopupTray->Items()->Count(); ++i) {
    tray.push_back(form_->PopupTray->Items()->Items(i)->Caption());
  }
  for (int i = 0; i < form_->PopupGrid->Items()->Count(); ++i) {
    grid.push_back(form_->PopupGrid->Items()->Items(i)->Caption());
  }
  EXPECT_EQ(tray, (std::vector<std::string>{"Ajouter/Consulter les &messages...", "-",
                                            "&Fichier des Utilisateurs...",
                                            "Fichier des C&ontacts...", "-",
                                            "&D\xE9"
                                            "connecter",
                                            "Modifier la &connection...", "-", "&Quitter"}));
  EXPECT_EQ(grid, (std::vector<std::string>{"&Marquer comme lu", "Marquer comme &non lu", "-",
                                            "&Tout marquer comme lu", "-", "&Supprimer"}));
  // The boxes as the responder sees them, each answered so that nothing happens.
  Stored(2, 1, cl::Variant(1), "from bob");
  dm().TableMessages->First();
  const struct {
    std::function<void()> raise;
    const char* box;
  } boxes[] = {
      {[this] { form_->mnuSupprimerClick(nullptr); }, "Supprimer l'enregistrement ?"},
      {[this] {
         dm().TableMessages->Edit();
         EXPECT_THROW(form_->btnAnswerSameClick(form_->btnAnswerSame), cl::EAbort);
         dm().TableMessages->Cancel();
       },
       "Sauvegarder vos modifications ?"},
      {[this] {
         mirvel::DMBDMirvel->Disconnect();
         form_->mnuEditUsersClick(nullptr);
       },
       "Voulez-vous vous connecter \xE0 la base de donn\xE9"
       "es ?"},
  };
  for (const auto& b : boxes) {
    station_->ui.boxes.clear();
    station_->ui.answers = {cl::mrCancel};
    b.raise();
    ASSERT_EQ(station_->ui.boxes.size(), 1u);
    EXPECT_EQ(station_->ui.boxes[0].text, b.box);
  }
  mirvel::DMBDMirvel->Disconnect();
  EXPECT_EQ(form_->mnuConnectDisconnect->Caption(), "&Connecter");
  // Connecting from the tray to a directory that is gone.
  station_->ui.errors.clear();
  cl::TRegistry registry;
  registry.SetRootKey(cl::HKEY_LOCAL_MACHINE);
  registry.OpenKey(mirvel::kRegistryKey, true);
  registry.WriteString(mirvel::kRegistryDatabaseValue, TestRoot() + "/gone");
  cl::AddModalAction([] {
    auto* dialog = FindForm<mirvel::TDlgChoixDatabaseMirvel>();
    ASSERT_NE(dialog, nullptr);
    dialog->SetModalResult(cl::mrCancel);
  });
  std::string raised = "<nothing>";
  try {
    form_->mnuConnectDisconnectClick(nullptr);
  } catch (cl::Exception& e) {
    raised = e.Message();
  }
  EXPECT_EQ(raised, mirvel::kBadConnection);
  EXPECT_FALSE(mirvel::DMBDMirvel->FConnected);
  registry.WriteString(mirvel::kRegistryDatabaseValue, station_->directory());
}

// ---- The program.

#ifdef MIRVEL_PROGRAM
TEST(MirvelProgram, EndOfSessionDisconnectsAndExitsZero) {
  mirvel_test::Workstation station({{"bob", "Bob", 0}});
  const std::string root = TestRoot() + "/bob";
  for (const char* sub : {"", "/home", "/registry", "/runtime"}) {
    std::filesystem::create_directories(root + sub);
  }
  std::filesystem::permissions(root + "/runtime", std::filesystem::perms::owner_all);
  {
    // Bob's own registry names the shared directory.
    const std::string saved = getenv("MIRVEL_REGISTRY_DIR");
    setenv("MIRVEL_REGISTRY_DIR", (root + "/registry").c_str(), 1);
    cl::TRegistry registry;
    registry.SetRootKey(cl::HKEY_LOCAL_MACHINE);
    registry.OpenKey(mirvel::kRegistryKey, true);
    registry.WriteString(mirvel::kRegistryDatabaseValue, station.directory());
    setenv("MIRVEL_REGISTRY_DIR", saved.c_str(), 1);
  }
  std::vector<std::string> env = {
      "HOME=" + root + "/home", "MIRVEL_REGISTRY_DIR=" + root + "/registry",
      "XDG_RUNTIME_DIR=" + root + "/runtime", "MIRVEL_LOGIN=bob", "QT_QPA_PLATFORM=offscreen",
      // Under the sanitizers: the system libraries' own leaks are not the program's.
      std::string("LSAN_OPTIONS=suppressions=") + MIRVEL_LSAN_SUPPRESSIONS};
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (entry.rfind("ASAN_", 0) == 0 || entry.rfind("UBSAN_", 0) == 0 ||
        entry.rfind("PATH=", 0) == 0) {
      env.push_back(entry);
    }
  }
  std::vector<char*> envp;
  for (std::string& e : env) envp.push_back(e.data());
  envp.push_back(nullptr);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    char program[] = MIRVEL_PROGRAM;
    char show[] = "SHOW";
    char* argv[] = {program, show, nullptr};
    execve(program, argv, envp.data());
    _exit(127);
  }
  tessera::TTesseraTable* users = station.dm().TableUtilisateurs;
  auto statut = [&] {
    users->Refresh();
    return users->Locate("NoUtilisateur", cl::Variant(2), {})
               ? station.dm().TableUtilisateursStatut->AsInteger()
               : -1;
  };
  bool connected = false;
  for (int i = 0; i < 10 && !connected; ++i) connected = PumpUntil([&] { return statut() == 1; });
  kill(pid, SIGTERM);
  int status = 0;
  bool ended = false;
  for (int i = 0; i < 200 && !ended; ++i) {
    ended = waitpid(pid, &status, WNOHANG) == pid;
    if (!ended) usleep(50000);
  }
  if (!ended) {
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
  }
  ASSERT_TRUE(connected) << "bob's station never connected";
  ASSERT_TRUE(ended) << "SIGTERM did not end the program";
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(statut(), 0) << "disconnected on the way out";
}

// A platform named without a display behind it is no display: the program says so instead of
// letting the toolkit abort.
TEST(MirvelProgram, WithoutADisplayItSaysSo) {
  for (const char* env : {"", "QT_QPA_PLATFORM=xcb", "QT_QPA_PLATFORM=wayland DISPLAY="}) {
    SCOPED_TRACE(env);
    const std::string command =
        std::string("timeout 20 env -i ") + env + " " + MIRVEL_PROGRAM + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[256];
    while (fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    const int status = pclose(pipe);
    ASSERT_TRUE(WIFEXITED(status)) << output;
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_NE(output.find("no graphical display"), std::string::npos) << output;
  }
}
#endif

}  // namespace
}  // namespace mirvel_test
