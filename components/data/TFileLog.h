// The application's text log: TFileLog appends one separated line per call to a file, and
// TFileErrorLog also takes over the application's exception handler so that every unhandled
// exception is written to the log before it is shown.
//
// A line, in Windows-1252, fields joined by FieldSeparator and ended by CR LF:
//   DateTimeToStr(Now) | computer | user | executable's full path | Msg1 | Msg2
// where each byte below 32 of Msg1 and Msg2 becomes a blank, so one call is always one line.
// The file is open only during the call, and the one write of the line is made under a lock
// (platform/AppendFile.h) so that workstations sharing one log file never mix their lines.
//
// Threads: GUI thread only.
#pragma once

#include <memory>
#include <string>

#include "classlib/rtl/Application.h"
#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/HandlerTakeover.h"
#include "classlib/rtl/TComponent.h"

namespace comp {

class EFileLogException : public cl::Exception {
 public:
  using cl::Exception::Exception;
};

class TCustomLog : public cl::TComponent {
 public:
  using cl::TComponent::TComponent;

  virtual void Log(const std::string& msg1, const std::string& msg2) = 0;
};

class TFileLog : public TCustomLog {
 public:
  explicit TFileLog(cl::TComponent* owner);

  const std::string& Filename() const { return filename_; }
  void SetFilename(const std::string& filename) { filename_ = filename; }
  char FieldSeparator() const { return field_separator_; }
  void SetFieldSeparator(char separator) { field_separator_ = separator; }

  // Appends one line.  Raises EFileLogException "Le fichier '' n'existe pas" for an empty
  // Filename, and the class library's file-stream errors when the file cannot be opened,
  // created or written.
  void Log(const std::string& msg1, const std::string& msg2) override;

  // The file the lines go to: a name without directory lies beside the executable.
  std::string FullFileName() const;
  // The line Log would write now, CR LF included.
  std::string FormatLine(const std::string& msg1, const std::string& msg2) const;

 private:
  std::string filename_ = "APPLI.LOG";
  char field_separator_ = '\t';
};

// A file log named "ERROR.LOG" that writes every unhandled exception of the application before
// it is shown.  While it lives, the application's exception handler is: LogException, then the
// handler that was installed before this log, or the standard exception box when there was none.
// Two error logs (or any other component that takes the handler over) may die in any order: the
// handler-takeover token gives the previous handler back or leaves a pass-through, never a call
// into a freed log.
class TFileErrorLog : public TFileLog {
 public:
  explicit TFileErrorLog(cl::TComponent* owner);
  ~TFileErrorLog() override;

  // Writes one line for `e`: Msg1 names the sender (and its owner), Msg2 the exception.
  void LogException(cl::TObject* sender, cl::Exception& e);

 private:
  void HandleException(cl::TObject* sender, cl::Exception& e);

  cl::THandlerTakeover<cl::TExceptionEvent> takeover_;
  bool had_previous_ = false;
};

}  // namespace comp
