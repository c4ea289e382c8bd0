#include "classlib/rtl/TypInfo.h"

#include <gtest/gtest.h>

#include "classlib/rtl/TComponent.h"
#include "classlib/rtl/TStrings.h"

namespace cl {
namespace {

enum TAlign { alNone, alTop, alBottom, alClient };
const TEnumInfo kAlignInfo{{"alNone", "alTop", "alBottom", "alClient"}};

class TPanelLike : public TComponent {
 public:
  using TComponent::TComponent;
  int height = 0;
  char accel = 'a';
  TAlign align = alNone;
  float ratio = 0;
  double width = 0;
  long double extended = 0;
  int64_t comp = 0;
  Currency money;
  std::string caption;
  TSet<TAlign> anchors;
  TStringList lines;
  TComponent* link = nullptr;
  Variant tag_value;
};

class TFancyPanel : public TPanelLike {
 public:
  using TPanelLike::TPanelLike;
  int bevel = 1;
};

class TUnregisteredPanel : public TFancyPanel {
 public:
  using TFancyPanel::TFancyPanel;
};

template <class T, class M>
std::function<Variant(TObject*)> Getter(M T::*member) {
  return [member](TObject* o) { return Variant(static_cast<T*>(o)->*member); };
}

void RegisterAll() {
  using P = TPanelLike;
  auto set = [](auto apply) {
    return [apply](TObject* o, const Variant& v) { apply(static_cast<P*>(o), v); };
  };
  auto get = [](auto read) {
    return [read](TObject* o) { return Variant(read(static_cast<P*>(o))); };
  };
  RegisterProps<TPanelLike>({
      {.Name = "Height",
       .Kind = tkInteger,
       .Get = Getter(&P::height),
       .Set = set([](P* p, const Variant& v) { p->height = v.AsInteger(); })},
      {.Name = "Accel",
       .Kind = tkChar,
       .Get = get([](P* p) { return static_cast<int>(p->accel); }),
       .Set = set([](P* p, const Variant& v) { p->accel = static_cast<char>(v.AsInteger()); })},
      {.Name = "Align",
       .Kind = tkEnumeration,
       .Enum = &kAlignInfo,
       .Get = get([](P* p) { return static_cast<int>(p->align); }),
       .Set = set([](P* p, const Variant& v) { p->align = static_cast<TAlign>(v.AsInteger()); })},
      {.Name = "Ratio",
       .Kind = tkFloat,
       .FloatType = TFloatType::ftSingle,
       .Get = get([](P* p) { return static_cast<double>(p->ratio); }),
       .Set = set([](P* p, const Variant& v) { p->ratio = static_cast<float>(v.AsDouble()); })},
      {.Name = "Width",
       .Kind = tkFloat,
       .Get = Getter(&P::width),
       .Set = set([](P* p, const Variant& v) { p->width = v.AsDouble(); })},
      {.Name = "Extended",
       .Kind = tkFloat,
       .FloatType = TFloatType::ftExtended,
       .Get = get([](P* p) { return static_cast<double>(p->extended); }),
       .Set = set([](P* p, const Variant& v) { p->extended = v.AsDouble(); })},
      {.Name = "Comp",
       .Kind = tkFloat,
       .FloatType = TFloatType::ftComp,
       .Get = get([](P* p) { return static_cast<double>(p->comp); }),
       .Set = set([](P* p, const Variant& v) { p->comp = static_cast<int64_t>(v.AsDouble()); })},
      {.Name = "Money",
       .Kind = tkFloat,
       .FloatType = TFloatType::ftCurr,
       .Get = Getter(&P::money),
       .Set = set([](P* p, const Variant& v) { p->money = v.AsCurrency(); })},
      {.Name = "Caption",
       .Kind = tkLString,
       .Get = Getter(&P::caption),
       .Set = set([](P* p, const Variant& v) { p->caption = v.AsString(); })},
      {.Name = "Anchors",
       .Kind = tkSet,
       .Enum = &kAlignInfo,
       .Get = get([](P* p) { return static_cast<int64_t>(p->anchors.Bits()); }),
       .Set = set([](P* p, const Variant& v) {
         p->anchors = TSet<TAlign>::FromBits(static_cast<uint32_t>(v.AsInteger()));
       })},
      {.Name = "Lines",
       .Kind = tkClass,
       .GetObject = [](TObject* o) -> TObject* { return &static_cast<P*>(o)->lines; },
       .SetObject =
           [](TObject* o, TObject* v) {
             static_cast<P*>(o)->lines.Assign(dynamic_cast<TStrings*>(v));
           }},
      {.Name = "Link",
       .Kind = tkClass,
       .GetObject = [](TObject* o) -> TObject* { return static_cast<P*>(o)->link; },
       .SetObject = [](TObject* o,
                       TObject* v) { static_cast<P*>(o)->link = dynamic_cast<TComponent*>(v); }},
      {.Name = "TagValue",
       .Kind = tkVariant,
       .Get = Getter(&P::tag_value),
       .Set = set([](P* p, const Variant& v) { p->tag_value = v; })},
      {.Name = "OnClick", .Kind = tkMethod},
  });
  RegisterProps<TFancyPanel, TPanelLike>({
      {.Name = "Bevel",
       .Kind = tkInteger,
       .Get = Getter(&TFancyPanel::bevel),
       .Set = [](TObject* o,
                 const Variant& v) { static_cast<TFancyPanel*>(o)->bevel = v.AsInteger(); }},
  });
}

TTypeKinds AllButMethods() {
  TTypeKinds kinds;
  for (int k = tkInteger; k <= tkVariant; ++k) {
    if (k != tkMethod) kinds.Include(static_cast<TTypeKind>(k));
  }
  return kinds;
}

TEST(TypInfoTest, ListsInheritedPropertiesFilteredByKind) {
  RegisterAll();
  TUnregisteredPanel panel(nullptr);  // takes its registered base's list
  TPropInfoList all(&panel, AllButMethods());
  ASSERT_EQ(all.Count(), 14);
  EXPECT_EQ(all.Items(0).Name, "Height");
  EXPECT_EQ(all.Items(13).Name, "Bevel");
  EXPECT_EQ(all.Find("onclick"), nullptr);
  TPropInfoList floats(&panel, TTypeKinds{tkFloat});
  ASSERT_EQ(floats.Count(), 5);
  const TFloatType expected[] = {TFloatType::ftSingle, TFloatType::ftDouble, TFloatType::ftExtended,
                                 TFloatType::ftComp, TFloatType::ftCurr};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(floats.Items(i).FloatType, expected[i]);
  EXPECT_THROW(floats.Items(5), EListError);
  TPanelLike plain(nullptr);
  EXPECT_EQ(TPropInfoList(&plain, AllButMethods()).Count(), 13);
  EXPECT_EQ(TPropInfoList(nullptr, AllButMethods()).Count(), 0);
  TComponent unrelated(nullptr);
  EXPECT_EQ(TPropInfoList(&unrelated, AllButMethods()).Count(), 0);
}

TEST(TypInfoTest, AccessorsReadAndWriteEachKind) {
  RegisterAll();
  TFancyPanel panel(nullptr);
  TComponent other(nullptr);
  TPropInfoList props(&panel, AllButMethods());
  props.Find("HEIGHT")->Set(&panel, Variant(120));
  props.Find("accel")->Set(&panel, Variant(static_cast<int>('Z')));
  const TPropInfo* align = props.Find("Align");
  align->Set(&panel, Variant(3));
  props.Find("Money")->Set(&panel, Variant(Currency::FromRaw(15000)));
  props.Find("Caption")->Set(&panel, Variant("Donn\xE9"
                                             "es"));
  props.Find("Anchors")->Set(&panel, Variant((1 << alTop) | (1 << alClient)));
  props.Find("TagValue")->Set(&panel, Variant::Null());
  props.Find("Bevel")->Set(&panel, Variant(0));
  TStringList lines;
  lines.SetText("a\nb");
  props.Find("Lines")->SetObject(&panel, &lines);
  props.Find("Link")->SetObject(&panel, &other);

  EXPECT_EQ(panel.height, 120);
  EXPECT_EQ(panel.accel, 'Z');
  EXPECT_EQ(align->Enum->names[static_cast<size_t>(align->Get(&panel).AsInteger())], "alClient");
  EXPECT_EQ(props.Find("Money")->Get(&panel).AsCurrency(), Currency::FromRaw(15000));
  EXPECT_EQ(panel.caption,
            "Donn\xE9"
            "es");
  EXPECT_TRUE(panel.anchors.Contains(alTop));
  EXPECT_FALSE(panel.anchors.Contains(alBottom));
  EXPECT_EQ(props.Find("Anchors")->Get(&panel).AsInteger(), 10);
  EXPECT_TRUE(panel.tag_value.IsNull());
  EXPECT_EQ(panel.bevel, 0);
  EXPECT_EQ(panel.lines.Text(), "a\r\nb\r\n");
  EXPECT_NE(dynamic_cast<TStrings*>(props.Find("Lines")->GetObject(&panel)), nullptr);
  EXPECT_EQ(props.Find("Link")->GetObject(&panel), &other);
}

}  // namespace
}  // namespace cl
