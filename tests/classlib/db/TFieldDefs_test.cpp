// Field and index definitions: lookup by name, the index choice for a field list, and the
// refresh of a closed dataset's definitions.
#include "classlib/db/TFieldDefs.h"

#include <gtest/gtest.h>

#include "FakeDataSet.h"
#include "classlib/db/DBConsts.h"

namespace cl::test {
namespace {

TEST(FieldDefs, NamesIgnoreCase) {
  TFieldDefs defs(nullptr);
  defs.Add("Soci\xE9t\xE9", ftString, 50, true);
  defs.Add("NoSociete", ftInteger);
  EXPECT_EQ(defs.Count(), 2);
  EXPECT_EQ(defs.IndexOf("SOCI\xC9T\xC9"), 0);
  EXPECT_EQ(defs.IndexOf("nosociete"), 1);
  EXPECT_EQ(defs.IndexOf("Ville"), -1);
  EXPECT_EQ(defs.Items(1)->FieldNo(), 2);
  EXPECT_TRUE(defs.Find("soci\xE9t\xE9")->Required());
  try {
    defs.Find("Ville");
    FAIL();
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Champ 'Ville' non trouv\xE9");
  }
  EXPECT_THROW(defs.Items(2), EListError);
  defs.Clear();
  EXPECT_EQ(defs.Count(), 0);
}

TEST(IndexDefs, IndexForFieldsTakesExactThenPrefix) {
  TIndexDefs defs(nullptr);
  defs.Add("Primary", "NoInterlocuteur", TIndexOptions{ixPrimary, ixUnique});
  defs.Add("Desc", "NoSociete", TIndexOptions{ixDescending});
  defs.Add("Expr", "NoSociete", TIndexOptions{ixExpression});
  defs.Add("SocNom", "NoSociete;Nom", TIndexOptions{});
  defs.Add("Soc", "nosociete", TIndexOptions{});
  defs.Add("NomCI", "Nom;Fonction", TIndexOptions{ixCaseInsensitive});
  defs.Add("NomFonction", "Nom;Fonction", TIndexOptions{});
  defs.Add("Nomade", "Nomade", TIndexOptions{});
  EXPECT_EQ(defs.GetIndexForFields("NoSociete", false)->Name(), "Soc");
  EXPECT_EQ(defs.GetIndexForFields("NoSociete;NOM", false)->Name(), "SocNom");
  EXPECT_EQ(defs.GetIndexForFields("Nom", false)->Name(), "NomCI");
  EXPECT_EQ(defs.GetIndexForFields("Nom;Fonction", true)->Name(), "NomCI");
  EXPECT_EQ(defs.GetIndexForFields("NoSociete", true), nullptr);
  EXPECT_EQ(defs.GetIndexForFields("Fonction", false), nullptr);
  EXPECT_EQ(defs.GetIndexForFields("Noma", false), nullptr);  // a prefix must end at ";"
  EXPECT_EQ(defs.IndexOf("socnom"), 3);
}

TEST(FieldDefs, ClosedDatasetReadsItsDefinitionsWithoutOpening) {
  TTrace trace;
  TComponent owner(nullptr);
  auto* dataset = Create<TFakeDataSet>(&owner, &trace);
  AddStandardDefs(dataset);
  EXPECT_FALSE(dataset->FieldDefs()->Updated());
  dataset->FieldDefs()->Update();
  EXPECT_EQ(trace.Take({"v:"}),
            (std::vector<std::string>{"v:InternalInitFieldDefs", "v:InternalClose"}));
  EXPECT_TRUE(dataset->FieldDefs()->Updated());
  ASSERT_EQ(dataset->FieldDefs()->Count(), 4);
  EXPECT_EQ(dataset->FieldDefs()->Items(2)->Name(), "DateAppel");
  EXPECT_EQ(dataset->FieldDefs()->Items(1)->Size(), 20);
  EXPECT_FALSE(dataset->Active());
  EXPECT_EQ(dataset->FieldCount(), 0);
  // A property change marks them out of date.
  dataset->DataEvent(dePropertyChange);
  EXPECT_FALSE(dataset->FieldDefs()->Updated());
  // Field names come from the definitions while there are no field objects.
  TStringList names;
  dataset->GetFieldNames(names);
  EXPECT_EQ(names.Text(), "Numero\r\nNom\r\nDateAppel\r\nMessage\r\n");
}

TEST(FieldDefs, CreateFieldAttachesToTheClosedDataset) {
  TComponent owner(nullptr);
  auto* dataset = Create<TFakeDataSet>(&owner);
  TFieldDef* def = dataset->FieldDefs()->Add("Nom", ftString, 35, true);
  TField* field = def->CreateField(&owner);
  EXPECT_EQ(field->Owner(), &owner);
  EXPECT_EQ(field->DataSet(), dataset);
  EXPECT_EQ(field->Size(), 35);
  EXPECT_TRUE(field->Required());
  EXPECT_EQ(dataset->FindField("NOM"), field);
  TFieldDef* unknown = dataset->FieldDefs()->Add("Curseur", ftCursor);
  EXPECT_THROW(unknown->CreateField(&owner), EDatabaseError);
  EXPECT_EQ(dataset->FieldCount(), 1);
}

}  // namespace
}  // namespace cl::test
