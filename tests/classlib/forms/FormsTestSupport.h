// Test support of the visual layer: the one test header that may include Qt.  Maps controls to
// their widgets, pumps the loop, and answers message boxes.
#pragma once

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCoreApplication>
#include <QCursor>
#include <QDBusConnection>  // every target built with this header links Qt6::DBus
#include <QDropEvent>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QTabWidget>
#include <QTest>
#include <QUrl>
#include <QWheelEvent>
#include <QWidget>
#include <QWindow>
#include <functional>
#include <string>
#include <vector>

#include "classlib/forms/ControlImpl.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/forms/QtText.h"
#include "classlib/rtl/Application.h"

namespace mirvel_test {

inline QWidget* Widget(cl::TControl* control) { return cl::WidgetOf(control); }

// Runs the loop until `done` holds or two seconds passed; returns `done()`.
inline bool PumpUntil(const std::function<bool()>& done) {
  QElapsedTimer timer;
  timer.start();
  while (!done() && timer.elapsed() < 2000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return done();
}

// Runs the loop for `ms` milliseconds (where a test must see that something does not happen).
inline void PumpFor(int ms) {
  QElapsedTimer timer;
  timer.start();
  while (timer.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

// Records what reaches the application's exception handler, and the message boxes asked for,
// answering each with the next planned result (mrOk when none is left).
class UiRecorder {
 public:
  UiRecorder() {
    cl::Application().SetOnException([this](cl::TObject* sender, cl::Exception& e) {
      errors.push_back(e.Message());
      senders.push_back(sender);
    });
    cl::SetMessageDlgResponder([this](const cl::TMessageDlgRequest& request) {
      boxes.push_back(request);
      if (answers.empty()) return cl::mrOk;
      const int answer = answers.front();
      answers.erase(answers.begin());
      return answer;
    });
  }
  ~UiRecorder() {
    cl::Application().SetOnException(nullptr);
    cl::SetMessageDlgResponder(nullptr);
    cl::ClearModalActions();
  }

  std::vector<std::string> errors;
  std::vector<cl::TObject*> senders;
  std::vector<cl::TMessageDlgRequest> boxes;
  std::vector<int> answers;
};

}  // namespace mirvel_test
