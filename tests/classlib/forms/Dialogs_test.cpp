#include "classlib/forms/Dialogs.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "classlib/rtl/Application.h"
#include "tests/classlib/forms/FormsTestSupport.h"

namespace cl {
namespace {

// The message box now showing, or null.
QMessageBox* ShownBox() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(w); box != nullptr && box->isVisible()) return box;
  }
  return nullptr;
}

std::vector<std::string> ButtonTexts(QMessageBox* box) {
  std::vector<std::string> texts;
  for (QAbstractButton* b : box->buttons()) texts.push_back(b->text().toStdString());
  std::sort(texts.begin(), texts.end());
  return texts;
}

TEST(DialogsTest, TheRealBoxShowsFrenchCaptionsAndAnswersByButtonOrEscape) {
  struct Seen {
    std::string title;
    std::vector<std::string> buttons;
    std::string default_button;
  } seen;
  auto look = [&seen]() -> QMessageBox* {
    QMessageBox* box = ShownBox();
    if (box == nullptr) std::abort();  // no box to answer: the modal loop could never end
    seen.title = box->windowTitle().toStdString();
    seen.buttons = ButtonTexts(box);
    seen.default_button = box->defaultButton() ? box->defaultButton()->text().toStdString() : "";
    return box;
  };

  AddModalAction([&] {
    QMessageBox* box = look();
    for (QAbstractButton* b : box->buttons()) {
      if (b->text() == "&Non") b->click();
    }
  });
  EXPECT_EQ(MessageDlg("Supprimer le message ?", mtConfirmation,
                       TMsgDlgButtons{mbYes, mbNo, mbCancel}, 0),
            mrNo);
  EXPECT_EQ(seen.title, "Confirmation");
  EXPECT_EQ(seen.buttons, (std::vector<std::string>{"&Non", "&Oui", "Annuler"}));
  EXPECT_EQ(seen.default_button, "&Oui");

  // Escape answers Cancel when there is one, else No; "&Aide" only with a help context.
  AddModalAction([&] { QTest::keyClick(look(), Qt::Key_Escape); });
  EXPECT_EQ(MessageDlg("Quitter ?", mtWarning, TMsgDlgButtons{mbYes, mbNo, mbHelp}, 0), mrNo);
  EXPECT_EQ(seen.title, "Avertissement");
  EXPECT_EQ(seen.buttons, (std::vector<std::string>{"&Non", "&Oui"}));
  AddModalAction([&] { QTest::keyClick(look(), Qt::Key_Escape); });
  EXPECT_EQ(MessageDlg("Erreur", mtInformation, TMsgDlgButtons{mbOK, mbHelp}, 15), mrOk);
  EXPECT_EQ(seen.title, "Information");
  EXPECT_EQ(seen.buttons, (std::vector<std::string>{"&Aide", "OK"}));

  // The standard exception box: the application's title, an error icon, OK.
  Application().SetTitle("Mirvel");
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  AddModalAction([&] {
    QMessageBox* box = look();
    icon = box->icon();
    box->buttons().front()->click();
  });
  Exception failure(
      "Table verrouill\xE9"
      "e");
  Application().ShowException(failure);
  EXPECT_EQ(seen.title, "Mirvel");
  EXPECT_EQ(seen.buttons, std::vector<std::string>{"OK"});
  EXPECT_EQ(icon, QMessageBox::Critical);
  EXPECT_EQ(PendingModalActions(), 0);

  // Markup in a text is shown as typed: the label drawn holds the tags, not bold text.
  std::string drawn;
  AddModalAction([&] {
    QMessageBox* box = look();
    const auto* label = box->findChild<QLabel*>("qt_msgbox_label");
    if (label != nullptr && label->textFormat() == Qt::PlainText) {
      drawn = label->text().toStdString();
    }
    box->buttons().front()->click();
  });
  MessageDlg("L'interlocuteur <b> n'existe pas", mtError, TMsgDlgButtons{mbOK}, 0);
  EXPECT_EQ(drawn, "L'interlocuteur <b> n'existe pas");
}

}  // namespace
}  // namespace cl
