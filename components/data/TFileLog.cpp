#include "components/data/TFileLog.h"

#include "classlib/rtl/Application.h"
#include "classlib/rtl/Cp1252.h"
#include "classlib/rtl/DateTimeText.h"
#include "classlib/rtl/Streams.h"
#include "classlib/rtl/TextUtils.h"
#include "components/data/Helpers.h"
#include "platform/AppendFile.h"
#include "platform/OsFile.h"

namespace comp {
namespace {

// How long a line waits for another workstation's line to be written before it goes anyway.
constexpr int32_t kLockWaitMs = 2000;

}  // namespace

TFileLog::TFileLog(cl::TComponent* owner) : TCustomLog(owner) {}

std::string TFileLog::FullFileName() const {
  if (cl::ExtractFileName(filename_) != filename_) return filename_;
  return AddTrailingBackslash(cl::ExtractFilePath(cl::Application().ExeName())) + filename_;
}

std::string TFileLog::FormatLine(const std::string& msg1, const std::string& msg2) const {
  const char sep = field_separator_;
  return cl::DateTimeToStr(cl::Now()) + sep + ComputerName() + sep + UserName() + sep +
         cl::Application().ExeName() + sep + ReplaceControlChars(msg1) + sep +
         ReplaceControlChars(msg2) + "\r\n";
}

void TFileLog::Log(const std::string& msg1, const std::string& msg2) {
  if (filename_.empty()) {
    throw EFileLogException("Le fichier '" + filename_ + "' n'existe pas");
  }
  const std::string name = FullFileName();
  const std::string path = cl::Cp1252ToUtf8(name);
  const std::string line = FormatLine(msg1, msg2);
  const bool existed = platform::FileExists(path);
  bool opened = false;
  const platform::OsError error = platform::AppendToFile(path, line, kLockWaitMs, &opened);
  if (error == platform::kErrorSuccess) return;
  const std::string code = " (erreur " + std::to_string(error) + ")";
  if (opened)
    throw cl::EWriteError(
        "Erreur d'\xE9"
        "criture de flux" +
        code);
  if (existed) throw cl::EFOpenError("Impossible d'ouvrir le fichier " + name + code);
  throw cl::EFCreateError(
      "Impossible de cr\xE9"
      "er le fichier " +
      name + code);
}

TFileErrorLog::TFileErrorLog(cl::TComponent* owner) : TFileLog(owner) {
  SetFilename("ERROR.LOG");
  had_previous_ = static_cast<bool>(cl::Application().OnException());
  takeover_.Install(cl::Application().OnException(),
                    [this](cl::TObject* sender, cl::Exception& e) { HandleException(sender, e); });
  cl::Application().SetOnException(takeover_.Handler());
}

TFileErrorLog::~TFileErrorLog() {
  cl::Application().SetOnException(takeover_.Release(cl::Application().OnException()));
}

void TFileErrorLog::HandleException(cl::TObject* sender, cl::Exception& e) {
  LogException(sender, e);
  if (had_previous_) {
    takeover_.CallPrevious(sender, e);
  } else {
    cl::Application().ShowException(e);
  }
}

void TFileErrorLog::LogException(cl::TObject* sender, cl::Exception& e) {
  const std::string described = cl::ExceptionClassName(e) + ": " + e.Message();
  if (auto* component = dynamic_cast<cl::TComponent*>(sender)) {
    if (component->Owner() != nullptr) {
      Log(component->Name() + ";Owner " + component->Owner()->Name(), described);
    } else {
      Log(component->Name(), described);
    }
  } else {
    Log(sender != nullptr ? sender->ClassName() : std::string(), e.Message());
  }
}

}  // namespace comp
