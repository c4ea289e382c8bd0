#include "components/data/TFileLog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "classlib/rtl/DateTime.h"
#include "classlib/rtl/FormatSettings.h"
#include "classlib/rtl/Streams.h"
#include "classlib/rtl/TStrings.h"
#include "classlib/rtl/TextUtils.h"
#include "components/data/Helpers.h"
#include "tests/platform/TempDirectory.h"
#include "tests/platform/TestFiles.h"

namespace comp {
namespace {

class TFileLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    cl::SetClock([] { return cl::EncodeDate(2026, 12, 7) + cl::EncodeTime(9, 5, 3, 400); });
    SetIdentityProvider([] { return std::string("POSTE-ACCUEIL"); },
                        [] { return std::string("h\xE9l\xE8ne"); });
    cl::SetCurrentFormatSettings(cl::SystemFormatSettings());
    cl::Application().SetOnException(nullptr);
    cl::Application().SetShowExceptionHook(
        [this](cl::Exception& e) { shown_.push_back(e.Message()); });
  }
  void TearDown() override {
    cl::SetClock(nullptr);
    SetIdentityProvider(nullptr, nullptr);
    cl::Application().SetOnException(nullptr);
    cl::Application().SetShowExceptionHook(nullptr);
  }

  // The identity fields of every line of this process.
  static std::string Identity() {
    return "POSTE-ACCUEIL\th\xE9l\xE8ne\t" + cl::Application().ExeName() + "\t";
  }

  mirvel_test::TempDirectory dir_{"filelog"};
  std::vector<std::string> shown_;
};

TEST_F(TFileLogTest, OneGoldenLinePerCall) {
  TFileLog log(nullptr);
  EXPECT_EQ(log.Filename(), "APPLI.LOG");
  EXPECT_EQ(log.FieldSeparator(), '\t');
  log.SetFilename(dir_.File("shared.log"));
  log.Log("ligne\r\nsuivante", "caf\xE9\x01");
  log.Log("", "");
  EXPECT_EQ(mirvel_test::ReadFileText(dir_.File("shared.log")),
            "07/12/2026 09:05:03\t" + Identity() + "ligne  suivante\tcaf\xE9 \r\n" +
                "07/12/2026 09:05:03\t" + Identity() + "\t\r\n");

  // Midnight shows the date alone; the separator is the component's.
  cl::SetClock([] { return cl::EncodeDate(2026, 1, 2); });
  log.SetFieldSeparator(';');
  EXPECT_EQ(log.FormatLine("a", "b"),
            "02/01/2026;POSTE-ACCUEIL;h\xE9l\xE8ne;" + cl::Application().ExeName() + ";a;b\r\n");

  TFileErrorLog errors(nullptr);
  EXPECT_EQ(errors.FullFileName(), cl::ExtractFilePath(cl::Application().ExeName()) + "ERROR.LOG");
  log.SetFilename("");
  try {
    log.Log("x", "y");
    FAIL() << "no exception";
  } catch (const EFileLogException& e) {
    EXPECT_EQ(e.Message(), "Le fichier '' n'existe pas");
  }
  log.SetFilename(dir_.File("missing-dir/x.log"));
  EXPECT_THROW(log.Log("x", "y"), cl::EStreamError);
}

TEST_F(TFileLogTest, ExceptionLinesAndTheHandlerChainInEitherOrder) {
  cl::TComponent form(nullptr);
  form.SetName("DMMirvel");
  auto* table = new cl::TComponent(&form);
  table->SetName("TableMessages");
  const std::string path = dir_.File("error.log");
  const auto raise_from = [](cl::TObject* sender) {
    try {
      throw cl::EDatabaseError("Enregistrement verrouill\xE9");
    } catch (...) {
      cl::Application().HandleException(sender);
    }
  };

  for (bool first_dies_first : {true, false}) {
    std::filesystem::remove(path);
    shown_.clear();
    std::vector<std::string> previous_calls;
    cl::Application().SetOnException(
        [&](cl::TObject*, cl::Exception& e) { previous_calls.push_back(e.Message()); });
    auto first = std::make_unique<TFileErrorLog>(nullptr);
    auto second = std::make_unique<TFileErrorLog>(nullptr);
    first->SetFilename(path);
    second->SetFilename(path);
    raise_from(table);  // second logs, then first, then the original handler
    (first_dies_first ? first : second).reset();
    raise_from(&form);
    (first_dies_first ? second : first).reset();
    raise_from(&form);  // only the original handler is left
    cl::Application().SetOnException(nullptr);
    raise_from(&form);  // no handler at all: the exception box

    const std::string table_line = "07/12/2026 09:05:03\t" + Identity() +
                                   "TableMessages;Owner DMMirvel\tEDatabaseError: "
                                   "Enregistrement verrouill\xE9\r\n";
    const std::string form_line = "07/12/2026 09:05:03\t" + Identity() +
                                  "DMMirvel\tEDatabaseError: Enregistrement verrouill\xE9\r\n";
    EXPECT_EQ(mirvel_test::ReadFileText(path), table_line + table_line + form_line);
    EXPECT_EQ(previous_calls.size(), 3u);
    EXPECT_EQ(shown_.size(), 1u);
  }

  // A sender that is not a component is named by its class; the message stands alone.
  TFileErrorLog log(nullptr);
  log.SetFilename(path);
  std::filesystem::remove(path);
  cl::TStringList sender;
  cl::Exception e("boom");
  log.LogException(&sender, e);
  EXPECT_EQ(mirvel_test::ReadFileText(path),
            "07/12/2026 09:05:03\t" + Identity() + "TStringList\tboom\r\n");
  EXPECT_TRUE(shown_.size() == 1u);
}

}  // namespace
}  // namespace comp
