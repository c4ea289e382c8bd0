#include "app/RMessage.h"

#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "classlib/rtl/Cp1252.h"
#include "classlib/rtl/DateTimeText.h"
#include "engine/components/TTesseraTable.h"
#include "tests/app/AppUiTestSupport.h"

namespace mirvel_test {
namespace {

const std::string kArtifacts = MIRVEL_ARTIFACTS_DIR;

// The output of a command line, or nullopt when it could not run or failed.
std::optional<std::string> RunCommand(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return std::nullopt;
  std::string out;
  char buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  return pclose(pipe) == 0 ? std::optional<std::string>(out) : std::nullopt;
}

bool HaveTool(const char* tool) {
  return RunCommand(std::string("command -v ") + tool + " >/dev/null 2>&1 && echo yes").has_value();
}

// Skips (fails under CI) without the PDF tools.
#define REQUIRE_PDF_TOOLS()                                                                       \
  do {                                                                                            \
    if (!HaveTool("pdftotext") || !HaveTool("pdftoppm")) {                                        \
      if (getenv("CI") != nullptr) FAIL() << "pdftotext/pdftoppm missing: install poppler-utils"; \
      GTEST_SKIP() << "pdftotext/pdftoppm missing: install poppler-utils";                        \
    }                                                                                             \
  } while (false)

std::string PdfText(const std::string& pdf, int page = 0) {
  std::string range = page > 0 ? " -f " + std::to_string(page) + " -l " + std::to_string(page) : "";
  return RunCommand("pdftotext -layout" + range + " '" + pdf + "' -")
      .value_or("<pdftotext failed>");
}

// Posts a message from alice to herself with every printed field set; returns it current.
void PostMessage(Workstation& station, const std::string& text) {
  tessera::TTesseraTable* messages = station.dm().TableMessages;
  messages->Append();
  station.dm().TableMessagesInterlocuteur->SetAsString("Dupont <b>");
  station.dm().TableMessagesNoDestinataire->SetAsInteger(1);
  station.dm().TableMessagesNoRappeler->SetAsString("01 02 03");
  station.dm().TableMessagesNoRappeler2->SetAsString("04 05 06");
  station.dm().TableMessagesSujet->SetAsString("Devis \xE9t\xE9");
  messages->FieldByName("Message")->SetAsString(text);
  messages->Post();
}

TEST(RMessage, LabelsAndValuesLetterForLetter) {
  REQUIRE_PDF_TOOLS();
  Workstation station;
  PostMessage(station, "Rappeler avant midi.\r\nMerci.");
  std::filesystem::create_directories(kArtifacts);
  const std::string pdf = kArtifacts + "/message.pdf";
  std::unique_ptr<mirvel::TRepMessage> report(cl::Create<mirvel::TRepMessage>(nullptr));
  EXPECT_EQ(report->Layout(300).PageCount, 1);
  report->PrintToPdf(pdf);
  const std::string text = PdfText(pdf);
  const std::string date = station.dm().TableMessagesDateAppel->DisplayText();
  // clang-format off
  const std::pair<const char*, std::string> lines[] = {
      {"Date : ", date},
      {"Interlocteur : ", "Dupont <b>"},
      {"Sujet : ", "Devis \xE9t\xE9"},
      {"Pour : ", "Alice Martin"},
      {"N\xB0 \xE0 rappeler : ", "01 02 03"},
      {"Message saisi par : ", "Alice Martin"},
  };
  // clang-format on
  for (const auto& [label, value] : lines) {
    SCOPED_TRACE(label);
    // The label and its value on one line of the page.
    const std::string label_utf8 = cl::Cp1252ToUtf8(label);
    const size_t at = text.find(label_utf8);
    ASSERT_NE(at, std::string::npos) << text;
    const std::string line = text.substr(at, text.find('\n', at) - at);
    EXPECT_NE(line.find(cl::Cp1252ToUtf8(value)), std::string::npos) << line;
  }
  EXPECT_NE(text.find("04 05 06"), std::string::npos);
  EXPECT_NE(text.find("Rappeler avant midi."), std::string::npos);
  EXPECT_NE(text.find("Merci."), std::string::npos);
  // The printing time, in the short date format.
  EXPECT_NE(text.find(cl::FormatDateTime(cl::CurrentFormatSettings().ShortDateFormat, cl::Now())),
            std::string::npos);

  // Page 1 as an image, for a person to look at.
  const std::string png_base = kArtifacts + "/message-page1";
  ASSERT_TRUE(
      RunCommand("pdftoppm -png -r 72 -f 1 -l 1 -singlefile '" + pdf + "' '" + png_base + "'"));
  EXPECT_GT(std::filesystem::file_size(png_base + ".png"), 1000u);
}

TEST(RMessage, LongMessageContinuesOnFurtherPages) {
  REQUIRE_PDF_TOOLS();
  Workstation station;
  std::string text;
  for (int i = 1; i <= 400; ++i) text += "ligne " + std::to_string(i) + (i < 400 ? "\r\n" : "");
  PostMessage(station, text);
  std::filesystem::create_directories(kArtifacts);
  const std::string pdf = kArtifacts + "/message-400-lines.pdf";
  std::unique_ptr<mirvel::TRepMessage> report(cl::Create<mirvel::TRepMessage>(nullptr));
  const int pages = report->Layout(300).PageCount;
  EXPECT_GE(pages, 2);
  report->PrintToPdf(pdf);
  const std::string all = PdfText(pdf);
  for (const char* line : {"ligne 1\n", "ligne 2\n", "ligne 200\n", "ligne 399\n", "ligne 400"}) {
    EXPECT_NE(all.find(line), std::string::npos) << line;
  }
  EXPECT_NE(PdfText(pdf, pages).find("ligne 400"), std::string::npos);
  EXPECT_EQ(PdfText(pdf, 1).find("ligne 400"), std::string::npos);
}

TEST(RMessage, EmptyTableStillGivesOnePage) {
  REQUIRE_PDF_TOOLS();
  Workstation station;
  station.dm().TableMessages->SetFilter("NoDestinataire = 999");
  ASSERT_TRUE(station.dm().TableMessages->IsEmpty());
  std::filesystem::create_directories(kArtifacts);
  const std::string pdf = kArtifacts + "/message-empty.pdf";
  std::unique_ptr<mirvel::TRepMessage> report(cl::Create<mirvel::TRepMessage>(nullptr));
  EXPECT_EQ(report->Layout(300).PageCount, 1);
  report->PrintToPdf(pdf);
  const std::string text = PdfText(pdf);
  EXPECT_NE(text.find("Interlocteur :"), std::string::npos);
  EXPECT_EQ(RunCommand("pdfinfo '" + pdf + "' | grep -q '^Pages: *1$'").has_value(), true);
}

}  // namespace
}  // namespace mirvel_test
