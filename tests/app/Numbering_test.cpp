// Per-table numbering on a database made by the creation tool: counters by table name, the
// exclusive open that times out with its message and leaves the table as it was, the rules of
// SetNextNumber, and several processes numbering at once without giving a number twice.
#include "app/Numbering.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "app/InitDb.h"
#include "app/RetryClock.h"
#include "classlib/rtl/Variant.h"
#include "components/data/Helpers.h"
#include "engine/components/TTesseraSession.h"
#include "engine/storage/table/TDataFile.h"
#include "tests/platform/TempDirectory.h"

namespace mirvel {
namespace {

class NumberingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tessera::InitializeSessions();
    CreateMirvelDatabase(dir_.Path(), {"dupont", "Jean Dupont"}, 46363.5);
    numbers_ = cl::Create<tessera::TTesseraTable>(&owner_);
    numbers_->SetDatabaseName(dir_.Path());
    numbers_->SetTableName("Numeros.DAT");
    // A clock that moves only when the loop waits.
    SetRetryClock({[this] { return now_; },
                   [this](int32_t ms) {
                     now_ += static_cast<uint64_t>(ms);
                     ++sleeps_;
                   }});
  }
  void TearDown() override { SetRetryClock({}); }

  int32_t Counter(const std::string& key) {
    tessera::TTesseraTable t(&owner_);
    t.SetDatabaseName(dir_.Path());
    t.SetTableName("Numeros.DAT");
    t.Open();
    return t.FindKey({cl::Variant(key)}) ? t.FieldByName("Numero")->AsInteger() : -1;
  }

  mirvel_test::TempDirectory dir_{"numbering"};
  cl::TComponent owner_{nullptr};
  tessera::TTesseraTable* numbers_ = nullptr;
  uint64_t now_ = 1000;
  int sleeps_ = 0;
};

TEST_F(NumberingTest, CountersByTableName) {
  struct Case {
    const char* name;
    const char* key;
    int32_t number;
  };
  const Case cases[] = {
      {"Users.DAT", "USERS", 2},                         // seeded 1
      {"Clients.DAT", "CLIENTS", 1},                     // seeded 0
      {"clients.dat", "CLIENTS", 2}, {"Fax", "FAX", 1},  // no counter yet, no dot
      {"fax.old.DAT", "FAX", 2},                         // cut at the first dot
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(NextNumber(*numbers_, c.name), c.number);
    EXPECT_FALSE(numbers_->Active());
    EXPECT_FALSE(numbers_->Exclusive());
    EXPECT_EQ(Counter(c.key), c.number);
  }
  EXPECT_EQ(sleeps_, 0);
}

TEST_F(NumberingTest, HeldElsewhereGivesUpAfterFiveSecondsAndRestoresTheTable) {
  tessera::TDataFile holder;
  holder.SetFileName(dir_.Path() + "/Numeros.DAT");
  holder.Open();
  const uint64_t start = now_;
  try {
    NextNumber(*numbers_, "Clients.DAT");
    FAIL() << "a number was given while the table was held";
  } catch (const comp::ENextNumberError& e) {
    EXPECT_EQ(e.Message(), "Affectation d'un num\xE9ro impossible, r\xE9\xE9ssayer plus tard");
  }
  EXPECT_EQ(sleeps_, 16) << "tries every 330 ms while less than 5 s have passed";
  EXPECT_EQ(now_ - start, 16u * 330u);
  EXPECT_FALSE(numbers_->Active());
  EXPECT_FALSE(numbers_->Exclusive()) << "the exclusive setting comes back on the error path";
  holder.Close();
  EXPECT_EQ(NextNumber(*numbers_, "Clients.DAT"), 1) << "nothing was consumed";
}

TEST_F(NumberingTest, SetNextNumberOnlyNumbersNewRecordsWithoutKey) {
  auto* clients = cl::Create<tessera::TTesseraTable>(&owner_);
  clients->SetDatabaseName(dir_.Path());
  clients->SetTableName("Clients.DAT");
  clients->Open();
  clients->Append();
  clients->FieldByName("Societe")->SetAsString("Alpha");
  SetNextNumber(*numbers_, *clients, "NoSociete");
  EXPECT_EQ(clients->FieldByName("NoSociete")->AsInteger(), 1);
  clients->Post();
  clients->Append();
  clients->FieldByName("Societe")->SetAsString("Beta");
  clients->FieldByName("NoSociete")->SetAsInteger(40);
  SetNextNumber(*numbers_, *clients, "NoSociete");
  EXPECT_EQ(clients->FieldByName("NoSociete")->AsInteger(), 40) << "a key given before is kept";
  clients->Post();
  clients->Edit();
  clients->FieldByName("NoSociete")->Clear();
  SetNextNumber(*numbers_, *clients, "NoSociete");
  EXPECT_TRUE(clients->FieldByName("NoSociete")->IsNull()) << "editing never numbers";
  clients->Cancel();
  EXPECT_EQ(Counter("CLIENTS"), 1);
}

// Real processes take numbers at once, from a table without a counter yet (so they also race to
// create it): every number once, and the counter says how many.
TEST_F(NumberingTest, ProcessesNumberingAtOnceNeverShareANumber) {
  SetRetryClock({});
  constexpr int kProcesses = 4, kEach = 30;
  std::vector<FILE*> pipes;
  for (int i = 0; i < kProcesses; ++i) {
    const std::string command = std::string(MIRVEL_NUMBERING_HELPER) + " " + dir_.Path() + " " +
                                std::to_string(kEach) + " Fax.DAT";
    pipes.push_back(popen(command.c_str(), "r"));
    ASSERT_NE(pipes.back(), nullptr);
  }
  std::fclose(std::fopen((dir_.Path() + "/go").c_str(), "w"));
  std::multiset<int> numbers;
  for (FILE* pipe : pipes) {
    char line[256];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
      EXPECT_NE(line[0], 'E') << line;
      numbers.insert(std::atoi(line));
    }
    EXPECT_EQ(pclose(pipe), 0);
  }
  ASSERT_EQ(numbers.size(), static_cast<size_t>(kProcesses * kEach));
  EXPECT_EQ(std::set<int>(numbers.begin(), numbers.end()).size(), numbers.size())
      << "a number was given twice";
  EXPECT_EQ(*numbers.rbegin(), kProcesses * kEach);
  EXPECT_EQ(Counter("FAX"), kProcesses * kEach);
}

}  // namespace
}  // namespace mirvel
