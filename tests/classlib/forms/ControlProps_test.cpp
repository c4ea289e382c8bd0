#include "classlib/forms/ControlProps.h"

#include <gtest/gtest.h>

#include "classlib/forms/ExtCtrls.h"
#include "classlib/forms/Forms.h"
#include "classlib/rtl/TypInfo.h"
#include "tests/classlib/forms/FormsTestSupport.h"

// g++ 12 with the sanitizers reports the string member of a Variant holding an integer as
// possibly uninitialised when the temporary dies (the instrumentation confuses its flow analysis).
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ < 13
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace cl {
namespace {

TEST(ControlPropsTest, PanelHeightsAndFormSettingsAreReachableByName) {
  TForm form(nullptr);
  auto* panel = new TPanel(&form);
  panel->SetParent(&form);
  const TTypeKinds all{tkInteger, tkEnumeration, tkLString, tkString};
  TPropInfoList panel_props(panel, all);
  const TPropInfo* height = panel_props.Find("height");
  ASSERT_NE(height, nullptr);
  height->Set(panel, Variant(123));
  EXPECT_EQ(panel->Height(), 123);
  EXPECT_EQ(height->Get(panel).AsInteger(), 123);
  const TPropInfo* bevel = panel_props.Find("BevelOuter");
  ASSERT_NE(bevel, nullptr);
  EXPECT_EQ(bevel->Enum->names.at(static_cast<size_t>(bevel->Get(panel).AsInteger())), "bvRaised");
  EXPECT_EQ(panel_props.Find("KeyPreview"), nullptr) << "a form's property, not a panel's";

  TPropInfoList form_props(&form, all);
  ASSERT_NE(form_props.Find("KeyPreview"), nullptr);
  form_props.Find("Caption")->Set(&form, Variant(std::string("Messages")));
  EXPECT_EQ(form.Caption(), "Messages");
  EXPECT_NE(form_props.Find("Left"), nullptr) << "inherited from TControl";
}

}  // namespace
}  // namespace cl
