// The component library's input faults, each as a user or a caller meets it: typed text the
// searched field cannot hold, a filter that fails on the records, hostile nesting in expressions
// and filters, CSV files with other line ends, and self-update arguments with blanks, quotes and
// backslashes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/db/TFields.h"
#include "classlib/rtl/DateTimeText.h"
#include "classlib/rtl/EventLoop.h"
#include "classlib/rtl/ManualEventLoop.h"
#include "classlib/rtl/Streams.h"
#include "components/data/TFilterEvaluator.h"
#include "components/data/TVirtualDataSet.h"
#include "components/ui/TFindPanel.h"
#include "platform/ProcessStart.h"

namespace comp {
namespace {

struct ComponentFaults : ::testing::Test {
  ComponentFaults() {
    real_loop = cl::CurrentEventLoop();
    cl::SetEventLoop(&manual);
    ds = new TVirtualDataSet(&owner);
    Add<cl::TStringField>("Nom")->SetSize(20);
    Add<cl::TSmallintField>("Numero");
    Add<cl::TDateField>("Jour");
    ds->Open();
    for (int i = 1; i <= 3; ++i) {
      ds->AppendRecord({cl::Variant("n" + std::to_string(i)), cl::Variant(i * 100),
                        cl::Variant::FromDate(40000.0 + i)});
    }
  }
  ~ComponentFaults() override { cl::SetEventLoop(real_loop); }
  template <class T>
  T* Add(const char* name) {
    auto* field = new T(&owner);
    field->SetFieldName(name);
    field->SetDataSet(ds);
    return field;
  }

  cl::TManualEventLoop manual;
  cl::TEventLoop* real_loop;
  cl::TComponent owner{nullptr};
  TVirtualDataSet* ds;
};

TEST_F(ComponentFaults, TypedTextThatTheFieldCannotHoldIsNotFound) {
  auto* panel = new TFindPanel(&owner);
  panel->SetDataSet(ds);
  std::vector<bool> results;
  panel->SetAfterSearch([&](cl::TObject*, bool found) { results.push_back(found); });
  const std::string day = cl::DateToStr(40002.0);
  const struct {
    const char* field;
    std::string text;
    bool found;
  } cases[] = {{"Numero", "abc", false}, {"Numero", "200", true}, {"Numero", "99999", false},
               {"Numero", "-", false},   {"Jour", "abc", false},  {"Jour", "31/02/2009", false},
               {"Jour", day, true},      {"Nom", "N3", true}};
  for (const auto& c : cases) {
    ds->First();
    panel->SetSearchField(c.field);
    results.clear();
    panel->SetText(c.text);  // as typed: the search runs after the pause
    EXPECT_NO_THROW(manual.Advance(panel->Interval())) << c.field << " " << c.text;
    ASSERT_EQ(results, std::vector<bool>{c.found}) << c.field << " " << c.text;
    if (!c.found) EXPECT_EQ(ds->RecNo(), 1) << "stays where it was";
  }
}

TEST_F(ComponentFaults, AFilterFailingOnTheRecordsLeavesThePreviousOneWhole) {
  ds->SetFilter("Numero >= 200");
  ds->SetFiltered(true);
  ASSERT_EQ(ds->RecordCount(), 2);
  // Compiles (the kinds are known only per record) but cannot combine a text with a number.
  EXPECT_ANY_THROW(ds->SetFilter("Nom OR Numero"));
  EXPECT_EQ(ds->Filter(), "Numero >= 200");
  EXPECT_EQ(ds->RecordCount(), 2);
  ds->Append();  // the records shown and the filter a post tests agree
  ds->FieldByName("Nom")->SetAsString("n4");
  ds->FieldByName("Numero")->SetAsInteger(400);
  EXPECT_NO_THROW(ds->Post());
  EXPECT_EQ(ds->RecordCount(), 3);
}

TEST_F(ComponentFaults, DeepNestingIsRefusedInExpressionsAndFilters) {
  auto repeat = [](const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i) out += s;
    return out;
  };
  const struct {
    std::string text;
    bool refused;
  } cases[] = {
      {repeat("(", 100000) + "1" + repeat(")", 100000), true},
      {repeat("(", 400) + "1" + repeat(")", 400), false},
      {"True" + repeat(" OR True", 100000), true},
      {"True" + repeat(" OR True", 400), false},
      {repeat("(True OR ", 600) + "True" + repeat(")", 600), true},
  };
  for (const auto& c : cases) {
    TFilterEvaluator evaluator(ds);
    if (c.refused) {
      try {
        evaluator.Compile(c.text);
        ADD_FAILURE() << c.text.size();
      } catch (const EEvaluatorError& e) {
        EXPECT_EQ(e.Message(),
                  "Expression trop imbriqu\xE9"
                  "e");
      }
      // The dataset's filter language parses the same way, and keeps its previous filter.
      ds->SetFiltered(true);
      EXPECT_THROW(ds->SetFilter(c.text), EEvaluatorError);
      EXPECT_EQ(ds->Filter(), "");
      ds->SetFiltered(false);
    } else {
      evaluator.Compile(c.text);
      EXPECT_TRUE(evaluator.Expression()->GetAsBoolean());
    }
  }
}

TEST_F(ComponentFaults, CsvLinesEndWithCrLfOrLf) {
  for (const char* text : {"\"a\";\"1\"\r\n\"b\";\"2\"\r\n", "\"a\";\"1\"\n\"b\";\"2\"\n",
                           "\"a\";\"1\"\n\"b\";\"2\""}) {
    cl::TMemoryStream stream;
    stream.WriteBuffer(text, static_cast<int32_t>(std::string(text).size()));
    stream.SetPosition(0);
    ds->SetExportFormat(efTextCSV);
    ds->LoadFromStream(stream);
    ASSERT_EQ(ds->RecordCount(), 2) << text;
    ds->Last();
    EXPECT_EQ(ds->FieldByName("Nom")->AsString(), "b");
    EXPECT_EQ(ds->FieldByName("Numero")->AsInteger(), 2);
  }
}

TEST(CommandLineQuoting, EveryArgumentReadsBackAsWritten) {
  const std::vector<std::string> arguments = {"",          "plain",
                                              "two words", "a\"b",
                                              "\"",        "\"\"",
                                              "ends\\",    "ends\\\\",
                                              "c:\\dir\\", "\\\"",
                                              "x\\\\\"y",  "tab\there",
                                              "  ",        "dossier \"mis \xE0 jour\"\\"};
  for (const std::string& program :
       {std::string("/opt/prog"), std::string("/op t/pr\"og"), std::string("/opt dir/\"prog\"")}) {
    std::string line;
    ASSERT_TRUE(platform::QuoteCommandProgram(program, &line)) << program;
    for (const std::string& argument : arguments) {
      line += " " + platform::QuoteCommandArgument(argument);
    }
    std::vector<std::string> expected = {program};
    expected.insert(expected.end(), arguments.begin(), arguments.end());
    EXPECT_EQ(platform::SplitCommandLine(line), expected) << line;
  }
  // A first token has no escapes: a quote followed by a blank cannot be written.
  std::string line;
  EXPECT_FALSE(platform::QuoteCommandProgram("/a\"b c/prog", &line));
  EXPECT_FALSE(platform::QuoteCommandProgram("", &line));
}

}  // namespace
}  // namespace comp
