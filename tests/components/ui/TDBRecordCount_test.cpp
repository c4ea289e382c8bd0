#include "components/ui/TDBRecordCount.h"

#include <gtest/gtest.h>

#include "classlib/db/TFields.h"
#include "components/data/TVirtualDataSet.h"

namespace comp {
namespace {

TEST(TDBRecordCountTest, FollowsTheDatasetButNotWhileEditing) {
  cl::TComponent owner(nullptr);
  auto* ds = new TVirtualDataSet(&owner);
  auto* field = new cl::TIntegerField(&owner);
  field->SetFieldName("Ident");
  field->SetDataSet(ds);
  auto* source = new cl::TDataSource(&owner);
  source->SetDataSet(ds);
  auto* count = new TDBRecordCount(&owner);
  count->SetRecordName("client");
  count->SetDataSource(source);
  EXPECT_EQ(count->Caption(), "") << "closed";

  ds->Open();
  EXPECT_EQ(count->Caption(), "0 client");
  ds->AppendRecord({cl::Variant(1)});
  ds->AppendRecord({cl::Variant(2)});
  EXPECT_EQ(count->Caption(), "2 clients");
  ds->Append();
  EXPECT_EQ(count->Caption(), "2 clients") << "the old count stays while inserting";
  field->SetAsInteger(3);
  ds->Post();
  EXPECT_EQ(count->Caption(), "3 clients");
  count->SetPluralLetter("x");
  EXPECT_EQ(count->Caption(), "3 clientx");
  count->SetPluralLetter("");
  EXPECT_EQ(count->Caption(), "3 clients") << "empty letter: the plural rule's own";

  // A filter shrinks the count shown.
  ds->SetFilter("Ident > 1");
  ds->SetFiltered(true);
  EXPECT_EQ(count->Caption(), "2 clients");
  ds->Close();
  EXPECT_EQ(count->Caption(), "");
  ds->Open();
  delete source;
  EXPECT_EQ(count->DataSource(), nullptr);
  EXPECT_EQ(count->Caption(), "");
}

}  // namespace
}  // namespace comp
