#include "components/ui/FindRoutines.h"

#include <gtest/gtest.h>

#include "classlib/db/TFields.h"
#include "components/data/TVirtualDataSet.h"

namespace comp {
namespace {

TEST(FindRoutinesTest, WordPrefixMatchTable) {
  const struct {
    const char* text;
    const char* typed;
    bool expected;
  } cases[] = {
      {"Dupont Jean", "dup je", true},
      {"dupont jean", "DUP   JE", true},  // blank runs collapse
      {"Dupont Jean", "je dup", false},   // words in the other order
      {"Dupont", "dupontx", false},       // the text word ends first
      {"Dupont  Jean", "d j", true},
      {"Dupont", "", true},
      {"", "a", false},
      {"1abc", "q", false},          // a digit never pairs with a letter
      {"[x", "{", false},            // nor signs with each other
      {"\xe9t\xe9", "\xc9T", true},  // accented letters pair with their capitals
      {"\xd7", "\xf7", false},       // the multiplication and division signs do not
      {"abc", "abc ", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WordPrefixMatch(c.text, PrepareFindPattern(c.typed)), c.expected)
        << "'" << c.text << "' / '" << c.typed << "'";
  }
}

TEST(FindRoutinesTest, ScanDirectionsAndRestore) {
  cl::TComponent owner(nullptr);
  auto* ds = new TVirtualDataSet(&owner);
  auto* libelle = new cl::TStringField(&owner);
  libelle->SetFieldName("Libelle");
  libelle->SetSize(20);
  libelle->SetDataSet(ds);
  ds->Open();
  EXPECT_FALSE(ScanDataSet("A", *ds, nullptr, fdFirst)) << "empty dataset";
  for (const char* name : {"Alpha", "Beta", "Alpine", "Gamma"}) {
    ds->AppendRecord({cl::Variant(std::string(name))});
  }
  auto at = [&] { return libelle->AsString(); };
  const std::string al = PrepareFindPattern("al");
  ASSERT_TRUE(ScanDataSet(al, *ds, nullptr, fdFirst));
  EXPECT_EQ(at(), "Alpha");
  ASSERT_TRUE(ScanDataSet(al, *ds, libelle, fdNext));
  EXPECT_EQ(at(), "Alpine");
  EXPECT_FALSE(ScanDataSet(al, *ds, libelle, fdNext));
  EXPECT_EQ(at(), "Alpine") << "a failed scan leaves the record";
  ASSERT_TRUE(ScanDataSet(al, *ds, libelle, fdPrior));
  EXPECT_EQ(at(), "Alpha");
  ASSERT_TRUE(ScanDataSet(al, *ds, libelle, fdLast));
  EXPECT_EQ(at(), "Alpine");
  EXPECT_FALSE(ScanDataSet(PrepareFindPattern("zz"), *ds, libelle, fdLast));
  EXPECT_EQ(at(), "Alpine");
  EXPECT_FALSE(ScanDataSet("", *ds, libelle, fdFirst));
  ds->First();
  EXPECT_FALSE(ScanDataSet(PrepareFindPattern("gam"), *ds, libelle, fdPrior)) << "at the start";
  EXPECT_TRUE(ScanDataSet(PrepareFindPattern("alpha"), *ds, libelle, fdLast)) << "back to 1";
  EXPECT_EQ(at(), "Alpha");
}

}  // namespace
}  // namespace comp
