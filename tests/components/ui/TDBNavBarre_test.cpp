#include "components/ui/TDBNavBarre.h"

#include <gtest/gtest.h>

#include "classlib/db/TFields.h"
#include "classlib/forms/Dialogs.h"
#include "classlib/forms/Forms.h"
#include "components/data/TVirtualDataSet.h"

namespace comp {
namespace {

TEST(NavBarLayoutTest, Table) {
  const struct {
    int w, h, n;
    TNavLayout layout;
    std::vector<cl::TRect> expected;
  } cases[] = {
      // Spacing 2, margins 3: five buttons of (519 - 8 - 6) / 5 = 101 x 34 from (3, 3).
      {519,
       40,
       5,
       {-1, -1, 2, 3, 3},
       {cl::Bounds(3, 3, 101, 34), cl::Bounds(106, 3, 101, 34), cl::Bounds(209, 3, 101, 34),
        cl::Bounds(312, 3, 101, 34), cl::Bounds(415, 3, 101, 34)}},
      // All automatic: width W / n, gaps (W - n w) / (n + 1), the last widened to the margin.
      {381,
       30,
       5,
       {},
       {cl::Bounds(0, 0, 76, 30), cl::Bounds(76, 0, 76, 30), cl::Bounds(152, 0, 76, 30),
        cl::Bounds(228, 0, 76, 30), cl::Bounds(304, 0, 77, 30)}},
      // Three buttons (edit, post, cancel) with automatic values share the width.
      {300,
       30,
       3,
       {},
       {cl::Bounds(0, 0, 100, 30), cl::Bounds(100, 0, 100, 30), cl::Bounds(200, 0, 100, 30)}},
      // Only a spacing: the pair is centred, the last widened by the remainder.
      {101, 20, 2, {-1, -1, 10, -1, -1}, {cl::Bounds(0, 0, 45, 20), cl::Bounds(55, 0, 46, 20)}},
      // A given width and automatic margin/spacing: (W - n w) / (n + 1) on each side.
      {100, 20, 2, {20, 10, -1, -1, -1}, {cl::Bounds(20, 5, 20, 10), cl::Bounds(60, 5, 20, 10)}},
      // One button with a margin and automatic spacing: no division by zero.
      {100, 20, 1, {-1, -1, -1, 4, -1}, {cl::Bounds(4, 0, 92, 20)}},
      // A tiny bar: sizes clamp at 0.
      {5, 4, 2, {-1, -1, 10, 3, 3}, {cl::Bounds(3, 3, 0, 0), cl::Bounds(13, 3, 0, 0)}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(NavBarLayout(c.w, c.h, c.n, c.layout), c.expected)
        << c.w << "x" << c.h << " n=" << c.n;
  }
}

class NavBarTest : public ::testing::Test {
 protected:
  NavBarTest() {
    form_.SetBounds(0, 0, 600, 400);
    ds_ = new TVirtualDataSet(&form_);
    auto* field = new cl::TIntegerField(&form_);
    field->SetFieldName("Ident");
    field->SetDataSet(ds_);
    source_ = new cl::TDataSource(&form_);
    source_->SetDataSet(ds_);
    bar_ = new TDBNavBarre(&form_);
    bar_->SetParent(&form_);
    bar_->SetDataSource(source_);
    cl::SetMessageDlgResponder([this](const cl::TMessageDlgRequest& r) {
      boxes_.push_back(r.text);
      return answer_;
    });
  }
  ~NavBarTest() override { cl::SetMessageDlgResponder(nullptr); }

  std::string Enabled() {
    std::string s;
    for (int i = 0; i < kNavButtonCount; ++i) {
      s += bar_->Button(static_cast<TNavButtons>(i))->Enabled() ? '1' : '0';
    }
    return s;
  }

  cl::TForm form_{nullptr};
  TVirtualDataSet* ds_;
  cl::TDataSource* source_;
  TDBNavBarre* bar_;
  std::vector<std::string> boxes_;
  int answer_ = cl::mrOk;
  bool veto_ = false;
};

TEST_F(NavBarTest, ConstructionCaptionsAndVisibleButtons) {
  EXPECT_EQ(bar_->Width(), 381);
  EXPECT_EQ(bar_->Button(navInsert)->Name(), "AjouterBtn");
  EXPECT_EQ(bar_->Button(navCancel)->Name(), "AnnulerBtn");
  EXPECT_EQ(bar_->Button(navDelete)->Caption(), "&Effacer");
  EXPECT_EQ(bar_->Button(navPost)->Hint(), "Sauver les modifications");
  EXPECT_EQ(bar_->Button(navEdit)->NumGlyphs(), 2);
  EXPECT_EQ(bar_->DeleteMessage(), "Effacer l'enregistrement ?");
  EXPECT_EQ(Enabled(), "00000") << "dataset closed";

  TDBNavManager manager(nullptr);
  manager.SetDeleteLabel("Su&pprimer");
  bar_->SetBtnLabels({"", "", "", "&Enregistrer"});
  EXPECT_EQ(bar_->Button(navDelete)->Caption(), "Su&pprimer");
  EXPECT_EQ(bar_->Button(navPost)->Caption(), "&Enregistrer");
  EXPECT_EQ(bar_->Button(navInsert)->Caption(), "&Nouveau");
  manager.SetDeleteLabel("&Effacer");

  bar_->SetVisibleBtn({navEdit, navPost, navCancel});
  EXPECT_EQ(bar_->VisibleCount(), 3);
  EXPECT_EQ(bar_->Button(navInsert)->Top(), -100);
  EXPECT_EQ(bar_->Button(navEdit)->Left(), 0);
  EXPECT_EQ(bar_->Button(navPost)->Left(), bar_->Width() / 3);
  bar_->SetVisibleBtn({});
  EXPECT_EQ(bar_->VisibleCount(), 3) << "an empty set is ignored";
  ds_->Open();
  ds_->AppendRecord({cl::Variant(1)});
  EXPECT_EQ(Enabled(), "01000") << "hidden buttons are never enabled";
}

TEST_F(NavBarTest, EnablingAndActions) {
  ds_->Open();
  EXPECT_EQ(Enabled(), "11000") << "empty: no delete";
  std::vector<std::string> events;
  bar_->SetBeforeAction([&](cl::TObject*, TNavButtons b, bool& allow) {
    events.push_back("before " + std::to_string(b));
    if (b == navDelete && veto_) allow = false;
  });
  bar_->SetAfterAction(
      [&](cl::TObject*, TNavButtons b) { events.push_back("after " + std::to_string(b)); });

  bar_->Button(navInsert)->Click();
  EXPECT_EQ(ds_->State(), cl::dsInsert);
  EXPECT_EQ(Enabled(), "10011");
  ds_->FieldByName("Ident")->SetAsInteger(7);
  bar_->Button(navPost)->Click();
  EXPECT_EQ(ds_->RecordCount(), 1);
  EXPECT_EQ(Enabled(), "11100");
  EXPECT_EQ(events, (std::vector<std::string>{"before 0", "after 0", "before 3", "after 3"}));

  // A declined confirmation fires neither event; a vetoed delete fires no AfterAction.
  events.clear();
  answer_ = cl::mrCancel;
  bar_->BtnClick(navDelete);
  EXPECT_TRUE(events.empty());
  EXPECT_EQ(boxes_, std::vector<std::string>{"Effacer l'enregistrement ?"});
  answer_ = cl::mrOk;
  veto_ = true;
  bar_->BtnClick(navDelete);
  EXPECT_EQ(events, std::vector<std::string>{"before 2"});
  EXPECT_EQ(ds_->RecordCount(), 1);
  veto_ = false;
  events.clear();
  bar_->BtnClick(navDelete);
  EXPECT_EQ(ds_->RecordCount(), 0);
  EXPECT_EQ(events, (std::vector<std::string>{"before 2", "after 2"}));

  // Insert while inserting is ignored; cancel goes back.
  bar_->BtnClick(navInsert);
  events.clear();
  bar_->BtnClick(navInsert);
  EXPECT_TRUE(events.empty());
  bar_->BtnClick(navCancel);
  EXPECT_EQ(ds_->State(), cl::dsBrowse);
}

TEST_F(NavBarTest, MultiModePostsEveryEditingDataset) {
  auto* other = new TVirtualDataSet(&form_);
  auto* field = new cl::TIntegerField(&form_);
  field->SetFieldName("N");
  field->SetDataSet(other);
  auto* other_source = new cl::TDataSource(&form_);
  other_source->SetDataSet(other);
  ds_->Open();
  other->Open();
  bar_->SetNavMode(nmMultiDatasource);
  EXPECT_EQ(Enabled(), "11000");
  other->Append();
  EXPECT_EQ(Enabled(), "11011") << "another source edits";
  // A source added later is linked on first use.
  auto* late = new TVirtualDataSet(&form_);
  auto* late_field = new cl::TIntegerField(&form_);
  late_field->SetFieldName("L");
  late_field->SetDataSet(late);
  auto* late_source = cl::Create<cl::TDataSource>(&form_);
  late_source->SetDataSet(late);
  late->Open();
  late->Append();
  ds_->Append();
  bar_->BtnClick(navPost);
  EXPECT_EQ(ds_->State(), cl::dsBrowse);
  EXPECT_EQ(other->State(), cl::dsBrowse);
  EXPECT_EQ(late->State(), cl::dsBrowse);
  EXPECT_EQ(other->RecordCount(), 1);
  EXPECT_EQ(late->RecordCount(), 1);
  delete other_source;  // its link goes with it
  other->Append();
  bar_->BtnClick(navCancel);
  EXPECT_EQ(other->State(), cl::dsInsert) << "no longer linked";
  other->Cancel();
  bar_->SetNavMode(nmSingleDatasource);
}

}  // namespace
}  // namespace comp
