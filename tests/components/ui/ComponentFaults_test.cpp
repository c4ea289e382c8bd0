// The component library's input faults as users and callers meet them.
#include <gtest/gtest.h>

#include "classlib/db/TFields.h"
#include "classlib/rtl/DateTimeText.h"
#include "classlib/rtl/EventLoop.h"
#include "classlib/rtl/ManualEventLoop.h"
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
    auto add = [this](cl::TField* field, const char* name) {
      field->SetFieldName(name);
      field->SetDataSet(ds);
    };
    add(new cl::TStringField(&owner), "Nom");
    add(new cl::TSmallintField(&owner), "Numero");
    add(new cl::TDateField(&owner), "Jour");
    ds->Open();
    for (int i = 1; i <= 3; ++i) {
      ds->AppendRecord({cl::Variant("n" + std::to_string(i)), cl::Variant(i * 100),
                        cl::Variant::FromDate(40000.0 + i)});
    }
  }
  ~ComponentFaults() override { cl::SetEventLoop(real_loop); }

  cl::TManualEventLoop manual;
  cl::TEventLoop* real_loop;
  cl::TComponent owner{nullptr};
  TVirtualDataSet* ds = new TVirtualDataSet(&owner);
};

TEST_F(ComponentFaults, TypedTextThatTheFieldCannotHoldIsNotFound) {
  TFindPanel panel(nullptr);
  panel.SetDataSet(ds);
  std::vector<bool> results;
  panel.SetAfterSearch([&](cl::TObject*, bool found) { results.push_back(found); });
  const struct {
    const char* field;
    std::string text;
    bool found;
  } cases[] = {{"Numero", "abc", false},
               {"Numero", "200", true},
               {"Numero", "99999", false},
               {"Numero", "-", false},
               {"Jour", "abc", false},
               {"Jour", "31/02/2009", false},
               {"Jour", cl::DateToStr(40002.0), true}};
  for (const auto& [field, text, found] : cases) {
    ds->First();
    panel.SetSearchField(field);
    results.clear();
    panel.SetText(text);  // as typed: the search runs after the pause, where nothing may raise
    EXPECT_NO_THROW(manual.Advance(panel.Interval())) << field << " " << text;
    ASSERT_EQ(results, std::vector<bool>{found}) << field << " " << text;
    EXPECT_EQ(ds->RecNo(), found ? 2 : 1);
  }
}

TEST_F(ComponentFaults, AFailingOrTooDeepFilterLeavesThePreviousOneWhole) {
  ds->SetFilter("Numero >= 200");
  ds->SetFiltered(true);
  auto repeat = [](const std::string& s, int n) {
    std::string out;
    while (n-- > 0) out += s;
    return out;
  };
  const std::string texts[] = {"Nom OR Numero",  // compiles, fails on a record
                               repeat("(", 100000) + "1" + repeat(")", 100000),
                               "True" + repeat(" OR True", 100000)};
  for (const std::string& text : texts) {
    TFilterEvaluator evaluator(ds);
    if (text.size() > 1000) {
      EXPECT_THROW(evaluator.Compile(text), EEvaluatorError);
    }
    EXPECT_ANY_THROW(ds->SetFilter(text));
    EXPECT_EQ(ds->Filter(), "Numero >= 200");
    EXPECT_EQ(ds->RecordCount(), 2);
  }
  ds->AppendRecord({cl::Variant("n4"), cl::Variant(400)});  // the filter a post tests agrees
  EXPECT_EQ(ds->RecordCount(), 3);
  ds->SetFilter(repeat("(", 400) + "True" + repeat(" OR True", 400) + repeat(")", 400));
  EXPECT_EQ(ds->RecordCount(), 4) << "within the limits";
}

TEST(CommandLineQuoting, EveryArgumentReadsBackAsWritten) {
  // clang-format off
  const std::vector<std::string> arguments = {"", "two words", "a\"b", "\"\"", "ends\\",
      "ends\\\\", "c:\\dir\\", "\\\"", "x\\\\\"y", "tab\there", "dossier \"mis \xE0 jour\"\\"};
  // clang-format on
  for (const std::string program : {"/opt/prog", "/op t/pr\"og", "/opt dir/\"prog\""}) {
    std::string line;
    ASSERT_TRUE(platform::QuoteCommandProgram(program, &line)) << program;
    for (const std::string& argument : arguments) {
      line += " " + platform::QuoteCommandArgument(argument);
    }
    std::vector<std::string> expected = {program};
    expected.insert(expected.end(), arguments.begin(), arguments.end());
    EXPECT_EQ(platform::SplitCommandLine(line), expected) << line;
  }
  std::string line;  // a first token has no escapes: a quote then a blank cannot be written
  EXPECT_FALSE(platform::QuoteCommandProgram("/a\"b c/prog", &line));
}

}  // namespace
}  // namespace comp
