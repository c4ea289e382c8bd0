#include "classlib/forms/Screen.h"

#include <gtest/gtest.h>

#include "classlib/forms/Forms.h"
#include "classlib/forms/StdCtrls.h"
#include "classlib/rtl/Resources.h"
#include "tests/classlib/forms/FormsTestSupport.h"

namespace cl {
namespace {

using mirvel_test::Widget;

TEST(ScreenTest, CursorPixelsPerInchAndMetrics) {
  EXPECT_EQ(Screen().PixelsPerInch(), 96);
  EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), Screen().Width());
  EXPECT_GT(Screen().Width(), 0);
  EXPECT_EQ(GetSystemMetrics(SM_CXBORDER), 1);
  EXPECT_GT(GetSystemMetrics(SM_CXVSCROLL), 0);

  Screen().SetCursor(crHourGlass);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::WaitCursor);
  Screen().SetCursor(crHandPoint);
  EXPECT_EQ(QGuiApplication::overrideCursor()->shape(), Qt::PointingHandCursor);
  Screen().SetCursor(crDefault);
  EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr) << "no override left behind";
  EXPECT_FALSE(OverrideCursorActive());

  TBitmap hand;
  hand.SetSize(32, 32);
  hand.SetMonochrome(true);
  RegisterCursor(14000, hand, 5, 2);
  Screen().SetCursor(14000);
  ASSERT_NE(QGuiApplication::overrideCursor(), nullptr);
  EXPECT_EQ(QGuiApplication::overrideCursor()->hotSpot(), QPoint(5, 2));
  Screen().SetCursor(crDefault);
  EXPECT_THROW(RegisterCursorResource(14001, "NO_SUCH_CURSOR", 0, 0), EResNotFound);
}

class TLimitedForm : public TForm {
 public:
  explicit TLimitedForm(TComponent* owner) : TForm(owner) {
    SetMessageMethod(WM_GETMINMAXINFO, [this](TMessage& m, const TWndMethod&) {
      ++asked;
      auto* info = reinterpret_cast<TMinMaxInfo*>(m.LParam);
      info->ptMinTrackSize = {min_width, 120};
      if (fixed) info->ptMaxTrackSize = {Width(), Height()};
      m.Result = 1;
    });
  }
  int asked = 0;
  int min_width = 300;
  bool fixed = false;
};

TEST(ScreenTest, SizeLimitsComeFromGetMinMaxInfoAndPlacementRoundTrips) {
  TLimitedForm form(nullptr);
  form.SetBounds(10, 20, 400, 200);
  form.Show();
  EXPECT_GE(form.asked, 1);
  EXPECT_EQ(Widget(&form)->minimumSize(), QSize(300, 120));
  form.fixed = true;
  Widget(&form)->windowHandle()->resize(500, 250);  // as the window system would
  QCoreApplication::processEvents();
  const QSize fixed = Widget(&form)->maximumSize();
  EXPECT_EQ(Widget(&form)->minimumSize().width(), 300);
  EXPECT_LE(fixed.width(), 500);

  TWindowPlacement placement;
  ASSERT_TRUE(GetWindowPlacement(form.Handle(), &placement));
  EXPECT_EQ(placement.showCmd, SW_SHOWNORMAL);
  EXPECT_EQ(placement.rcNormalPosition.Width(), form.Width());
  EXPECT_EQ(placement.ptMinPosition, (TPoint{-1, -1})) << "the system's choice";
  form.fixed = false;
  placement.rcNormalPosition = Bounds(30, 40, 350, 180);
  placement.ptMinPosition = {5, 6};
  placement.ptMaxPosition = {-4, -4};
  ASSERT_TRUE(SetWindowPlacement(form.Handle(), &placement));
  EXPECT_EQ(form.BoundsRect(), Bounds(30, 40, 350, 180));
  TWindowPlacement again;
  ASSERT_TRUE(GetWindowPlacement(form.Handle(), &again));
  EXPECT_EQ(again.ptMinPosition, (TPoint{5, 6}));
  EXPECT_EQ(again.ptMaxPosition, (TPoint{-4, -4}));
  EXPECT_FALSE(GetWindowPlacement(0, &placement));
  TButton button(nullptr);
  EXPECT_FALSE(GetWindowPlacement(button.Handle(), &placement)) << "not a form";
}

TEST(ScreenTest, AcceleratorsAndTabOrder) {
  TForm form(nullptr);
  auto* first = new TButton(&form);
  auto* second = new TButton(&form);
  auto* third = new TButton(&form);
  for (TButton* b : {first, second, third}) b->SetParent(&form);
  second->SetCaption("&Oui");
  int clicked = 0;
  second->SetOnClick([&](TObject*) { ++clicked; });
  third->SetTabOrder(0);
  form.Show();
  QApplication::setActiveWindow(Widget(&form));
  third->SetFocus();
  QTest::keyClick(Widget(third), Qt::Key_O, Qt::AltModifier);
  EXPECT_TRUE(mirvel_test::PumpUntil([&] { return clicked == 1; }));
  // Tab order: third (0), then the others in creation order; a disabled one is skipped, and so
  // is one parked above the form.
  first->SetEnabled(false);
  third->SetFocus();
  QTest::keyClick(Widget(third), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), Widget(second));
  first->SetEnabled(true);
  second->SetTop(-100);
  third->SetFocus();
  QTest::keyClick(Widget(third), Qt::Key_Tab);
  EXPECT_EQ(QApplication::focusWidget(), Widget(first));
}

}  // namespace
}  // namespace cl
