// Record transfer between two in-memory datasets: the five modes, the error block of a failed
// post byte for byte, and the state left behind by a transfer that fails.
#include "components/data/TDBTransfer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "FakeDataSet.h"
#include "classlib/db/TFields.h"
#include "classlib/rtl/Cp1252.h"
#include "components/data/TVirtualDataSet.h"

namespace comp {
namespace {

using namespace cl;

TStringList Lines(std::initializer_list<const char*> items) {
  TStringList list;
  for (const char* item : items) list.Add(item);
  return list;
}

class DBTransferTest : public ::testing::Test {
 protected:
  void SetUp() override {
    owner_ = std::make_unique<TComponent>(nullptr);
    source_ = MakeDataSet();
    dest_ = MakeDataSet();
    transfer_ = Create<TDBTransfer>(owner_.get());
    transfer_->SetName("Transfert");
    transfer_->SetSource(source_);
    transfer_->SetDestination(dest_);
    TAssociation fields;
    fields.SetDest(Lines({"Code", "Nom", "Origine"}));
    fields.SetSource(Lines({"Code", "Nom", "\"Client\""}));
    transfer_->SetTransferFields(fields);
    TAssociation links;
    links.SetDest(Lines({"Code"}));
    links.SetSource(Lines({"Code"}));
    transfer_->SetLinkedFields(links);
    // An accented name (Windows-1252, as the component takes it): the log must still be found
    // again and grow, not be made anew at each run.
    log_path_ = std::filesystem::temp_directory_path() /
                ("transfert_\u00e9_" + std::to_string(getpid()) + ".log");
    log_ = cl::Utf8ToCp1252(log_path_.string());
    std::filesystem::remove(log_path_);
    for (int code : {1, 2, 3}) Add(source_, code, "s" + std::to_string(code));
  }

  void TearDown() override {
    owner_.reset();
    std::filesystem::remove(log_path_);
  }

  TVirtualDataSet* MakeDataSet() {
    auto* ds = Create<TVirtualDataSet>(owner_.get());
    for (const char* name : {"Code", "Nom", "Origine"}) {
      TField* field = std::string(name) == "Code"
                          ? static_cast<TField*>(Create<TIntegerField>(owner_.get()))
                          : Create<TStringField>(owner_.get());
      field->SetFieldName(name);
      if (field->DataType() == ftString) field->SetSize(10);
      field->SetDataSet(ds);
    }
    ds->Open();
    return ds;
  }

  static void Add(TDataSet* ds, int code, const std::string& nom) {
    ds->Append();
    ds->FieldByName("Code")->SetAsInteger(code);
    ds->FieldByName("Nom")->SetAsString(nom);
    ds->Post();
  }

  // "code:nom:origine" of every destination record, in order.
  std::vector<std::string> Dest() {
    std::vector<std::string> rows;
    for (dest_->First(); !dest_->Eof(); dest_->Next()) {
      rows.push_back(dest_->FieldByName("Code")->AsString() + ":" +
                     dest_->FieldByName("Nom")->AsString() + ":" +
                     dest_->FieldByName("Origine")->AsString());
    }
    return rows;
  }

  std::string ReadLog() {
    std::ifstream in(log_path_, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }

  std::unique_ptr<TComponent> owner_;
  TVirtualDataSet* source_ = nullptr;
  TVirtualDataSet* dest_ = nullptr;
  TDBTransfer* transfer_ = nullptr;
  std::string log_;
  std::filesystem::path log_path_;
};

TEST_F(DBTransferTest, FiveModes) {
  struct Case {
    TTransferMode mode;
    std::vector<std::string> after;
  };
  const std::vector<Case> cases = {
      {tmCopy, {"1:s1:Client", "2:s2:Client", "3:s3:Client"}},
      {tmAppend, {"2:d2:", "9:d9:", "1:s1:Client", "2:s2:Client", "3:s3:Client"}},
      {tmUpdate, {"2:s2:Client", "9:d9:"}},
      {tmAppendUpdate, {"2:s2:Client", "9:d9:", "1:s1:Client", "3:s3:Client"}},
      {tmDelete, {"9:d9:"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.mode));
    dest_->ClearRecords();
    Add(dest_, 2, "d2");
    Add(dest_, 9, "d9");
    transfer_->SetTransferMode(c.mode);
    transfer_->SetDoTransfer(true);
    EXPECT_FALSE(transfer_->DoTransfer());
    EXPECT_EQ(Dest(), c.after);
    EXPECT_FALSE(source_->ControlsDisabled());
    EXPECT_FALSE(dest_->ControlsDisabled());
  }
}

TEST_F(DBTransferTest, FailedPostWritesOneBlockAndTheTransferGoesOn) {
  dest_->SetIndex("Code", TIndexOptions{ixUnique}, false);
  Add(dest_, 2, "d2");
  transfer_->SetTransferMode(tmAppend);
  transfer_->SetLogErrors(true);
  transfer_->SetFileErrorLog(log_);
  std::string shown;
  transfer_->SetLogViewer([&](const std::string& file) { shown = file; });
  transfer_->Execute();
  EXPECT_EQ(Dest(), (std::vector<std::string>{"1:s1:Client", "2:d2:", "3:s3:Client"}));
  EXPECT_EQ(ReadLog(),
            "Transfert\tValidation impossible : violation de cl\xE9 dans l'index \"Code\" !\r\n"
            "Valeur des champs source = \tCode : 2\tNom : s2\tOrigine : \r\n"
            "Valeur des champs destination = \tCode : 2\tNom : s2\tOrigine : Client\r\n");
  EXPECT_EQ(shown, log_);
  std::string first = ReadLog();
  transfer_->Execute();  // every record fails now; the log grows at its end
  std::string both = ReadLog();
  EXPECT_EQ(both.substr(0, first.size()), first);
  EXPECT_EQ(std::count(both.begin(), both.end(), '\n'), 3 + 9);
}

TEST_F(DBTransferTest, AnAbortedTransferLeavesControlsEnabledAndTheLogClosed) {
  dest_->SetIndex("Code", TIndexOptions{ixUnique}, false);
  Add(dest_, 2, "d2");
  dest_->First();
  TBookmark mark = dest_->GetBookmark();
  // A source that keeps its records when closed, to see it closed again.
  auto* fake = Create<test::TFakeDataSet>(owner_.get());
  fake->AddFieldDef("Code", ftInteger);
  fake->AddFieldDef("Nom", ftString, 10);
  fake->Open();
  for (int code : {1, 2, 3}) Add(fake, code, "f");
  fake->Close();
  transfer_->SetSource(fake);
  transfer_->SetTransferMode(tmAppend);
  transfer_->SetAbortOnError(true);
  transfer_->SetLogErrors(true);
  transfer_->SetFileErrorLog(log_);
  bool after = false;
  transfer_->SetAfterTransfer([&](TObject*) { after = true; });
  EXPECT_THROW(transfer_->Execute(), Exception);
  EXPECT_FALSE(after);
  EXPECT_FALSE(fake->ControlsDisabled());
  EXPECT_FALSE(dest_->ControlsDisabled());
  EXPECT_FALSE(fake->Active());  // closed again, as it was
  EXPECT_EQ(Dest(), (std::vector<std::string>{"1:f:Client", "2:d2:"}));
  EXPECT_EQ(dest_->State(), dsBrowse);
  EXPECT_EQ(dest_->GetBookmark(), mark);
  // The log's handle is gone: it denied writers while open, so an exclusive open now succeeds.
  EXPECT_NO_THROW(TFileStream(log_, fmOpenReadWrite | fmShareExclusive));
}

TEST_F(DBTransferTest, ChecksVetoesAndAssociations) {
  TDBTransfer empty(nullptr);
  try {
    empty.Execute();
    FAIL();
  } catch (const EDBTransferError& e) {
    EXPECT_EQ(e.Message(), "Propri\xE9t\xE9 Source manquante !");
  }
  empty.SetSource(source_);
  EXPECT_THROW(empty.Execute(), EDBTransferError);
  empty.SetDestination(source_);
  try {
    empty.Execute();
    FAIL();
  } catch (const EDBTransferError& e) {
    EXPECT_EQ(e.Message(), "La source et la destination sont les m\xEAmes !");
  }

  bool after = false;
  transfer_->SetBeforeTransfer([](TObject*, bool& allow) { allow = false; });
  transfer_->SetAfterTransfer([&](TObject*) { after = true; });
  transfer_->Execute();
  EXPECT_TRUE(after);
  EXPECT_TRUE(Dest().empty());

  TAssociation* fields = transfer_->TransferFields();
  fields->SetDest(Lines({"Origine", "Code", "Autre"}));  // reordered: pairs follow
  EXPECT_EQ(fields->Source().Text(), "\"Client\"\r\nCode\r\n\r\n");
  EXPECT_EQ(fields->ValidCount(), 2);
  EXPECT_THROW(fields->SetSource(Lines({"Code"})), Exception);
  transfer_->SetTransferMode(tmUpdate);
  transfer_->SetBeforeTransfer(nullptr);
  transfer_->LinkedFields()->Clear();
  try {
    transfer_->Execute();
    FAIL();
  } catch (const EDBTransferError& e) {
    EXPECT_EQ(e.Message(), "Champs de lien manquants");
  }
}

TEST_F(DBTransferTest, CopyCurrentRecordKeepsNulls) {
  source_->First();
  source_->Edit();
  source_->FieldByName("Nom")->Clear();
  source_->Post();
  dest_->Append();
  dest_->FieldByName("Nom")->SetAsString("avant");
  transfer_->CopyCurrentRecord();
  EXPECT_TRUE(dest_->FieldByName("Nom")->IsNull());
  EXPECT_EQ(dest_->FieldByName("Origine")->AsString(), "Client");
  dest_->Post();
}

}  // namespace
}  // namespace comp
