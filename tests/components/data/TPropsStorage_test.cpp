#include "components/data/TPropsStorage.h"

#include <gtest/gtest.h>

#include <map>

#include "classlib/rtl/Application.h"
#include "classlib/rtl/TCollection.h"
#include "classlib/rtl/TStrings.h"

namespace comp {
namespace {

using cl::TObject;
using cl::TPropInfo;
using cl::Variant;

enum TAnchor { akLeft, akTop, akRight };
const cl::TEnumInfo kAnchorInfo{{"akLeft", "akTop", "akRight"}};
const cl::TEnumInfo kBoolInfo{{"False", "True"}};

class TFontLike : public cl::TPersistent {
 public:
  int size = 8;
};

class TColumn : public cl::TCollectionItem {
 public:
  using cl::TCollectionItem::TCollectionItem;
  std::string title;
};

// A collection item whose only values are those of a nested object.
class TStyle : public cl::TCollectionItem {
 public:
  using cl::TCollectionItem::TCollectionItem;
  TFontLike font;
};

class TStyledX : public cl::TComponent {
 public:
  using cl::TComponent::TComponent;
  cl::TCollection styles{cl::TCollection::ItemsOf<TStyle>()};
};

class TPanelX : public cl::TComponent {
 public:
  using cl::TComponent::TComponent;
  int height = 0;
  char accel = 'a';
  TAnchor align = akLeft;
  bool visible = false;
  float ratio = 0;
  double width = 0;
  std::string caption, empty_text;
  uint32_t anchors = 0;
  Variant tag_value;
  cl::TStringList lines, no_lines;
  cl::TCollection columns{cl::TCollection::ItemsOf<TColumn>()};
  TFontLike font;
  cl::TComponent* link = nullptr;
  cl::TComponent* other = nullptr;
};

template <class T, class F>
TPropInfo Prop(const char* name, cl::TTypeKind kind, F field, const cl::TEnumInfo* info = nullptr) {
  TPropInfo p{.Name = name, .Kind = kind, .Enum = info};
  p.Get = [field](TObject* o) { return Variant(field(static_cast<T*>(o))); };
  return p;
}

void RegisterTestClasses() {
  using P = TPanelX;
  auto with_set = [](TPropInfo p, auto set) {
    p.Set = [set](TObject* o, const Variant& v) { set(static_cast<P*>(o), v); };
    return p;
  };
  auto object = [](const char* name, auto get, auto set, bool ref) {
    return TPropInfo{.Name = name,
                     .Kind = cl::tkClass,
                     .GetObject = [get](TObject* o) { return get(static_cast<P*>(o)); },
                     .SetObject = [set](TObject* o, TObject* v) { set(static_cast<P*>(o), v); },
                     .ComponentRef = ref};
  };
  auto no_set = [](P*, TObject*) {};
  cl::RegisterProps<TPanelX>({
      with_set(Prop<P>("Height", cl::tkInteger, [](P* p) { return p->height; }),
               [](P* p, const Variant& v) { p->height = v.AsInteger(); }),
      with_set(Prop<P>("Accel", cl::tkChar, [](P* p) { return int(p->accel); }),
               [](P* p, const Variant& v) { p->accel = char(v.AsInteger()); }),
      with_set(Prop<P>(
                   "Align", cl::tkEnumeration, [](P* p) { return int(p->align); }, &kAnchorInfo),
               [](P* p, const Variant& v) { p->align = TAnchor(v.AsInteger()); }),
      with_set(Prop<P>(
                   "Visible", cl::tkEnumeration, [](P* p) { return int(p->visible); }, &kBoolInfo),
               [](P* p, const Variant& v) { p->visible = v.AsInteger() != 0; }),
      [&] {
        TPropInfo p = with_set(Prop<P>("Ratio", cl::tkFloat, [](P* p) { return double(p->ratio); }),
                               [](P* p, const Variant& v) { p->ratio = float(v.AsDouble()); });
        p.FloatType = cl::TFloatType::ftSingle;
        return p;
      }(),
      with_set(Prop<P>("Width", cl::tkFloat, [](P* p) { return p->width; }),
               [](P* p, const Variant& v) { p->width = v.AsDouble(); }),
      with_set(Prop<P>("Caption", cl::tkLString, [](P* p) { return p->caption; }),
               [](P* p, const Variant& v) { p->caption = v.AsString(); }),
      with_set(Prop<P>("EmptyText", cl::tkLString, [](P* p) { return p->empty_text; }),
               [](P* p, const Variant& v) { p->empty_text = v.AsString(); }),
      with_set(Prop<P>(
                   "Anchors", cl::tkSet, [](P* p) { return int32_t(p->anchors); }, &kAnchorInfo),
               [](P* p, const Variant& v) { p->anchors = uint32_t(v.AsInteger()); }),
      with_set(Prop<P>("TagValue", cl::tkVariant, [](P* p) { return p->tag_value; }),
               [](P* p, const Variant& v) { p->tag_value = v; }),
      object(
          "Lines", [](P* p) { return &p->lines; }, no_set, false),
      object(
          "NoLines", [](P* p) { return &p->no_lines; }, no_set, false),
      object(
          "Columns", [](P* p) { return &p->columns; }, no_set, false),
      object(
          "Font", [](P* p) { return &p->font; }, no_set, false),
      object(
          "Link", [](P* p) { return p->link; },
          [](P* p, TObject* v) { p->link = dynamic_cast<cl::TComponent*>(v); }, true),
      object(
          "Other", [](P* p) { return p->other; },
          [](P* p, TObject* v) { p->other = dynamic_cast<cl::TComponent*>(v); }, true),
  });
  cl::RegisterProps<TFontLike>({TPropInfo{
      .Name = "Size",
      .Kind = cl::tkInteger,
      .Get = [](TObject* o) { return Variant(static_cast<TFontLike*>(o)->size); },
      .Set = [](TObject* o,
                const Variant& v) { static_cast<TFontLike*>(o)->size = v.AsInteger(); }}});
  auto nested = [](const char* name, auto get) {
    return TPropInfo{
        .Name = name, .Kind = cl::tkClass, .GetObject = get, .SetObject = [](TObject*, TObject*) {
        }};
  };
  cl::RegisterProps<TStyle>(
      {nested("Font", [](TObject* o) -> TObject* { return &static_cast<TStyle*>(o)->font; })});
  cl::RegisterProps<TStyledX>({nested(
      "Styles", [](TObject* o) -> TObject* { return &static_cast<TStyledX*>(o)->styles; })});
  cl::RegisterProps<TColumn>(
      {TPropInfo{.Name = "Title",
                 .Kind = cl::tkLString,
                 .Get = [](TObject* o) { return Variant(static_cast<TColumn*>(o)->title); },
                 .Set = [](TObject* o,
                           const Variant& v) { static_cast<TColumn*>(o)->title = v.AsString(); }}});
}

class TPropsStorageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterTestClasses();
    form_.SetName("Form1");
    form2_.SetName("Form2");
    cl::Screen().AddForm(&form_);
    cl::Screen().AddForm(&form2_);
    panel_ = new TPanelX(&form_);
    panel_->SetName("PanelDonnees");
    target_ = new cl::TComponent(&form2_);
    target_->SetName("Comp");
    cl::TFormatSettings settings = cl::SystemFormatSettings();
    settings.DecimalSeparator = ',';
    cl::SetCurrentFormatSettings(settings);
    storage_.SetSection("Sect");
    storage_.SetOnWriteString([this](const std::string& s, const std::string& i,
                                     const std::string& v) { store_[s + "|" + i] = v; });
    storage_.SetOnEraseSection([this](const std::string& s) {
      erased_.push_back(s);
      std::erase_if(store_, [&](const auto& kv) { return kv.first.starts_with(s + "|"); });
    });
    storage_.SetOnReadString(
        [this](const std::string& s, const std::string& i, const std::string& d) {
          const auto it = store_.find(s + "|" + i);
          return it == store_.end() ? d : it->second;
        });
    for (const char* name :
         {"Height", "Accel", "Align", "Visible", "Ratio", "Width", "Caption", "EmptyText",
          "Anchors", "TagValue", "Lines", "NoLines", "Columns", "Font", "Link", "Other"}) {
      list_.Add(MakeStoredItem("PanelDonnees", name));
    }
    list_.Add("Missing.Height");
    list_.Add("NoDot");
    BindStoredList(&form_, list_, true);
  }
  void TearDown() override {
    cl::Screen().RemoveForm(&form_);
    cl::Screen().RemoveForm(&form2_);
    cl::SetCurrentFormatSettings(cl::SystemFormatSettings());
  }

  cl::TComponent form_{nullptr};
  cl::TComponent form2_{nullptr};
  TPanelX* panel_ = nullptr;
  cl::TComponent* target_ = nullptr;
  TPropsStorage storage_;
  cl::TStringList list_;
  std::map<std::string, std::string> store_;
  std::vector<std::string> erased_;
};

TEST_F(TPropsStorageTest, EveryKindRoundTripsThroughGoldenTexts) {
  EXPECT_EQ(list_.Count(), 16);  // the two lines that name no component are gone
  TPanelX& p = *panel_;
  p.height = 120;
  p.accel = 'k';
  p.align = akRight;
  p.visible = true;
  p.ratio = 1.5f;
  p.width = 0.1;
  p.caption =
      "  Donn\xE9"
      "es  ";
  p.anchors = (1u << akLeft) | (1u << akTop);
  p.tag_value = Variant(42);
  p.lines.Add("un");
  p.lines.Add("deux");
  static_cast<TColumn*>(p.columns.Add())->title = "Nom";
  static_cast<TColumn*>(p.columns.Add())->title = "Date";
  p.font.size = 10;
  p.link = target_;
  store_["Sect.PanelDonnees_NoLines|Count"] = "stale";
  storage_.StoreObjectsProperties(&form_, list_);

  const std::map<std::string, std::string> golden = {
      {"Sect|PanelDonnees_Height", "120"},
      {"Sect|PanelDonnees_Accel", "k"},
      {"Sect|PanelDonnees_Align", "akRight"},
      {"Sect|PanelDonnees_Visible", "True"},
      {"Sect|PanelDonnees_Ratio", "1.5"},
      {"Sect|PanelDonnees_Width", "0.1"},
      {"Sect|PanelDonnees_Caption",
       "Donn\xE9"
       "es"},
      {"Sect|PanelDonnees_EmptyText", ""},
      {"Sect|PanelDonnees_Anchors", "[akLeft,akTop]"},
      {"Sect|PanelDonnees_TagValue", "42"},
      {"Sect.PanelDonnees_Lines|Count", "2"},
      {"Sect.PanelDonnees_Lines|Item0", "un"},
      {"Sect.PanelDonnees_Lines|Item1", "deux"},
      {"Sect|PanelDonnees_Count", "2"},
      {"Sect.PanelDonnees_Columns|Item0_Title", "Nom"},
      {"Sect.PanelDonnees_Columns|Item1_Title", "Date"},
      {"Sect|PanelDonnees_FontSize", "10"},
      {"Sect|PanelDonnees_Link", "Form2.Comp"},
      {"Sect|PanelDonnees_Other", "(null)"},
  };
  EXPECT_EQ(store_, golden);
  EXPECT_NE(std::find(erased_.begin(), erased_.end(), "Sect.PanelDonnees_NoLines"), erased_.end());

  // Everything read back into a blank panel; the set in any spelling.
  store_["Sect|PanelDonnees_Anchors"] = " akTop  akleft ";
  store_["Sect|PanelDonnees_Other"] = "PanelDonnees";  // owned by the storage's owner
  p.height = 0, p.accel = 'a', p.align = akLeft, p.visible = false, p.ratio = 0, p.width = 0;
  p.caption.clear(), p.anchors = 0, p.tag_value = Variant("x"), p.lines.Clear(), p.columns.Clear();
  p.no_lines.Add("kept");
  p.font.size = 0, p.link = nullptr;
  storage_.LoadObjectsProperties(&form_, list_);
  EXPECT_EQ(p.height, 120);
  EXPECT_EQ(p.accel, 'k');
  EXPECT_EQ(p.align, akRight);
  EXPECT_TRUE(p.visible);
  EXPECT_EQ(p.ratio, 1.5f);
  EXPECT_EQ(p.width, 0.1);
  EXPECT_EQ(p.caption,
            "Donn\xE9"
            "es");
  EXPECT_EQ(p.anchors, (1u << akLeft) | (1u << akTop));
  EXPECT_EQ(p.tag_value.AsString(), "42");
  p.tag_value = Variant();
  storage_.LoadObjectsProperties(&form_, list_);
  EXPECT_TRUE(p.tag_value.IsEmpty());  // an empty variant has no default, so nothing is read
  EXPECT_EQ(p.lines.Text(), "un\r\ndeux\r\n");
  EXPECT_EQ(p.no_lines.Text(), "kept\r\n");  // no Count: left as it was
  ASSERT_EQ(p.columns.Count(), 2);
  EXPECT_EQ(static_cast<TColumn*>(p.columns.Items(1))->title, "Date");
  EXPECT_EQ(p.font.size, 10);
  EXPECT_EQ(p.link, target_);
  EXPECT_EQ(p.other, panel_);

  // A Count far beyond the lines stored (a damaged store) reads the lines there are, at once;
  // a stored empty line is a line.
  store_["Sect.PanelDonnees_Lines|Count"] = "2000000000";
  store_["Sect.PanelDonnees_Lines|Item2"] = "";
  store_["Sect|PanelDonnees_Count"] = "2000000000";  // the same for a collection
  storage_.LoadObjectsProperties(&form_, list_);
  EXPECT_EQ(p.lines.Text(), "un\r\ndeux\r\n\r\n");
  EXPECT_EQ(p.columns.Count(), 2);
}

TEST_F(TPropsStorageTest, AStoredCountOfNestedOnlyItemsIsCappedToo) {
  auto* styled = new TStyledX(&form_);
  styled->SetName("Styles1");
  cl::TStringList list;
  list.Add(MakeStoredItem("Styles1", "Styles"));
  BindStoredList(&form_, list, true);
  for (int size : {9, 11}) static_cast<TStyle*>(styled->styles.Add())->font.size = size;
  storage_.StoreObjectsProperties(&form_, list);
  styled->styles.Clear();
  store_["Sect|Styles1_Count"] = "1000";
  storage_.LoadObjectsProperties(&form_, list);
  ASSERT_EQ(styled->styles.Count(), 2);
  EXPECT_EQ(static_cast<TStyle*>(styled->styles.Items(1))->font.size, 11);
}

TEST_F(TPropsStorageTest, DamagedValuesLeaveTheirPropertiesAlone) {
  panel_->height = 300;
  panel_->align = akTop;
  panel_->ratio = 2;
  panel_->anchors = 1u << akRight;
  panel_->link = target_;
  store_ = {{"Sect|PanelDonnees_Height", "abc"},
            {"Sect|PanelDonnees_Align", "alNowhere"},
            {"Sect|PanelDonnees_Ratio", "1.2.3"},
            {"Sect|PanelDonnees_Anchors", "[bogus]"},
            {"Sect|PanelDonnees_Link", "Form2.Gone"}};
  storage_.LoadObjectsProperties(&form_, list_);
  EXPECT_EQ(panel_->height, 300);
  EXPECT_EQ(panel_->align, akTop);
  EXPECT_EQ(panel_->ratio, 2.0f);
  EXPECT_EQ(panel_->anchors, 0u);    // unknown words are ignored: the set read is empty
  EXPECT_EQ(panel_->link, nullptr);  // a component that no longer exists: none

  // A renamed component keeps its line; a freed one loses it.
  panel_->SetName("PanelReponse");
  BindStoredList(&form_, list_, false);
  EXPECT_EQ(list_.Get(0), "PanelReponse.Height");
  delete panel_;
  BindStoredList(&form_, list_, false);
  EXPECT_EQ(list_.Count(), 0);
}

TEST(StoredItemsTest, MakeSplitRename) {
  std::string c, p;
  EXPECT_EQ(MakeStoredItem("A", ""), "");
  EXPECT_TRUE(SplitStoredItem(" A . B.C ", c, p));
  EXPECT_EQ(c, "A");
  EXPECT_EQ(p, "B.C");
  EXPECT_FALSE(SplitStoredItem("A.", c, p));
  EXPECT_EQ(RenameStoredItem("A.Height", "B"), "B.Height");
  TPropsStorage bare;
  EXPECT_EQ(bare.ReadString("s", "i", "default"), "");
}

}  // namespace
}  // namespace comp
