// The master link: which master changes reach the detail, collecting the fields, and the
// detail's pending edit settled before the master moves.
#include "engine/components/TTesseraMasterDataLink.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "FakeDataSet.h"
#include "classlib/db/TDataSource.h"
#include "classlib/db/TField.h"

namespace tessera {
namespace {

std::unique_ptr<cl::test::TFakeDataSet> NewDataSet() {
  std::unique_ptr<cl::test::TFakeDataSet> dataset(cl::Create<cl::test::TFakeDataSet>(nullptr));
  dataset->AddFieldDef("NoSociete", cl::ftInteger);
  dataset->AddFieldDef("Nom", cl::ftString, 20);
  dataset->AddFieldDef("Ville", cl::ftString, 20);
  dataset->Open();
  for (int i = 1; i <= 3; ++i) {
    dataset->Append();
    dataset->FieldByName("NoSociete")->SetAsInteger(i);
    dataset->FieldByName("Nom")->SetAsString("Soci\xE9t\xE9 " + std::to_string(i));
    dataset->Post();
  }
  dataset->First();
  return dataset;
}

class MasterLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source_.reset(cl::Create<cl::TDataSource>(nullptr));
    source_->SetDataSet(master_.get());
    link_.SetOnMasterChange([this] { ++changes_; });
    link_.SetOnMasterDisable([this] { ++disables_; });
    link_.SetDataSource(source_.get());
  }
  void TearDown() override { link_.SetDataSource(nullptr); }

  std::unique_ptr<cl::test::TFakeDataSet> master_ = NewDataSet();
  std::unique_ptr<cl::test::TFakeDataSet> detail_ = NewDataSet();
  std::unique_ptr<cl::TDataSource> source_;
  TTesseraMasterDataLink link_{detail_.get()};
  int changes_ = 0;
  int disables_ = 0;
};

TEST_F(MasterLinkTest, OnlyLinkFieldsAndWholeRecordChangesReachTheDetail) {
  // Active without fields: the detail's range is lifted.
  EXPECT_EQ(disables_, 1);
  link_.SetFieldNames("NoSociete; Nom");
  ASSERT_EQ(link_.Fields().size(), 2u);
  EXPECT_EQ(link_.Fields()[1], master_->FieldByName("Nom"));
  EXPECT_EQ(changes_, 1);

  struct Step {
    const char* what;
    std::function<void()> action;
    int changes;
  };
  const Step steps[] = {
      {"scroll", [&] { master_->Next(); }, 1},
      {"edit", [&] { master_->Edit(); }, 1},
      {"other field", [&] { master_->FieldByName("Ville")->SetAsString("Lyon"); }, 0},
      {"link field", [&] { master_->FieldByName("Nom")->SetAsString("Autre"); }, 1},
      {"cancel", [&] { master_->Cancel(); }, 1},
      {"key editing", [&] { master_->SetKey(); }, 0},
      {"link field of a key", [&] { master_->FieldByName("NoSociete")->SetAsInteger(2); }, 0},
      {"leave key editing", [&] { master_->Cancel(); }, 0},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    const int before = changes_;
    step.action();
    EXPECT_EQ(changes_ - before, step.changes);
  }

  // A closed detail hears nothing; a closed master clears the fields.
  detail_->Close();
  const int before = changes_;
  master_->Next();
  EXPECT_EQ(changes_, before);
  detail_->Open();
  master_->Close();
  EXPECT_TRUE(link_.Fields().empty());
  EXPECT_EQ(disables_, 2);
}

TEST_F(MasterLinkTest, UnknownFieldRaisesAndBrowseCheckSettlesTheDetail) {
  link_.SetFieldNames("NoSociete");
  try {
    link_.SetFieldNames("NoSociete;Inconnu");
    ADD_FAILURE() << "no error";
  } catch (const cl::EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Champ 'Inconnu' non trouv\xE9");
  }
  EXPECT_EQ(link_.FieldNames(), "NoSociete");
  ASSERT_EQ(link_.Fields().size(), 1u);
  master_->Close();  // the master opens again with the link's old fields
  master_->Open();
  EXPECT_EQ(link_.Fields()[0], master_->FieldByName("NoSociete"));

  detail_->Edit();
  detail_->FieldByName("Ville")->SetAsString("Nantes");
  master_->Next();
  EXPECT_EQ(detail_->State(), cl::dsBrowse);
  EXPECT_EQ(detail_->FieldByName("Ville")->AsString(), "Nantes");
}

}  // namespace
}  // namespace tessera
