#include "classlib/rtl/Loader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "classlib/rtl/Application.h"
#include "classlib/rtl/Coding.h"
#include "classlib/rtl/DataModule.h"
#include "classlib/rtl/Filer.h"

namespace cl {
namespace {

std::vector<std::string>* g_journal = nullptr;

void Note(const std::string& line) { g_journal->push_back(line); }

// A dataset-like component: Active set while loading only records the wish.
class FakeDataSet : public TComponent {
 public:
  explicit FakeDataSet(TComponent* owner) : TComponent(owner) {
    if (ComponentState().Contains(csLoading)) Note("born loading");
  }
  void SetActive(bool active) {
    if (ComponentState().Contains(csLoading)) {
      streamed_active_ = active;
      Note(Name() + ".Active stored");
      return;
    }
    open_ = active;
  }
  bool IsOpen() const { return open_; }

  // The "RawData" of an in-memory dataset: 4-byte size, then the bytes.
  std::vector<uint8_t> raw;

  void DefineProperties(TFiler& filer) override {
    filer.DefineBinaryProperty(
        "RawData",
        [this](TStream& s) {
          uint8_t size[4];
          s.ReadBuffer(size, 4);
          raw.resize(GetU32LE(size));
          if (!raw.empty()) s.ReadBuffer(raw.data(), static_cast<int32_t>(raw.size()));
          Note(Name() + " read RawData");
        },
        [this](TStream& s) {
          uint8_t size[4];
          PutU32LE(size, static_cast<uint32_t>(raw.size()));
          s.WriteBuffer(size, 4);
          if (!raw.empty()) s.WriteBuffer(raw.data(), static_cast<int32_t>(raw.size()));
        },
        true);
  }

 protected:
  void Loaded() override {
    TComponent::Loaded();
    Note(Name() + ".Loaded");
    if (streamed_active_) open_ = true;
  }

 private:
  bool streamed_active_ = false;
  bool open_ = false;
};

// The tray icon's list: count, then per entry a size and the icon bytes.
class FakeTrayIcon : public TComponent {
 public:
  using TComponent::TComponent;
  std::vector<std::vector<uint8_t>> icons;
  bool is_form = false;

  void DefineProperties(TFiler& filer) override {
    filer.DefineBinaryProperty(
        "Icons",
        [this](TStream& s) {
          uint8_t word[4];
          s.ReadBuffer(word, 4);
          icons.assign(GetU32LE(word), {});
          for (auto& icon : icons) {
            s.ReadBuffer(word, 4);
            icon.resize(GetU32LE(word));
            if (!icon.empty()) s.ReadBuffer(icon.data(), static_cast<int32_t>(icon.size()));
          }
          Note(Name() + " read Icons");
        },
        [this](TStream& s) {
          uint8_t word[4];
          PutU32LE(word, static_cast<uint32_t>(icons.size()));
          s.WriteBuffer(word, 4);
          for (const auto& icon : icons) {
            PutU32LE(word, static_cast<uint32_t>(icon.size()));
            s.WriteBuffer(word, 4);
            if (!icon.empty()) s.WriteBuffer(icon.data(), static_cast<int32_t>(icon.size()));
          }
        },
        !icons.empty());
    filer.DefineProperty(
        "IsForm", [this](const Variant& v) { is_form = v.AsBoolean(); },
        [this] { return Variant(is_form); }, is_form);
  }

 protected:
  void Loaded() override {
    TComponent::Loaded();
    Note(Name() + ".Loaded");
  }
};

class TDMTest : public TDataModule {
 public:
  explicit TDMTest(TComponent* owner, bool fail_on_create = false) : TDataModule(owner) {
    TLoader loader(this);
    SetName("DMTest");
    Table = loader.Create<FakeDataSet>(this, "TableMessages");
    Table->SetActive(true);
    Tray = loader.Create<FakeTrayIcon>(this, "TrayIcon");
    loader.DefineData(Table, "RawData", {4, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF});
    loader.DefineData(Tray, "icons", {1, 0, 0, 0, 2, 0, 0, 0, 7, 8});
    loader.DefineValue(Tray, "IsForm", Variant(true));
    SetOnCreate([this, fail_on_create](TObject*) {
      Note("OnCreate " + std::string(Table->IsOpen() ? "open" : "closed"));
      if (fail_on_create) throw EDatabaseError("no database");
    });
    loader.Finish();
  }
  ~TDMTest() override { Note("~TDMTest"); }

  FakeDataSet* Table;
  FakeTrayIcon* Tray;

 protected:
  void Loaded() override {
    TDataModule::Loaded();
    Note("DMTest.Loaded");
  }
};

class LoaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_journal = &journal_;
    saved_ = Application().OnException();
  }
  void TearDown() override {
    Application().SetOnException(saved_);
    g_journal = nullptr;
  }

  std::vector<std::string> journal_;
  TExceptionEvent saved_;
};

TEST_F(LoaderTest, PropertiesThenBinaryDataThenLoadedInCreationOrderThenOnCreate) {
  TDMTest* dm = Create<TDMTest>(nullptr);
  EXPECT_EQ(journal_, (std::vector<std::string>{"born loading", "TableMessages.Active stored",
                                                "TableMessages read RawData", "TrayIcon read Icons",
                                                "DMTest.Loaded", "TableMessages.Loaded",
                                                "TrayIcon.Loaded", "OnCreate open"}));
  dm->Free();
}

TEST_F(LoaderTest, OnCreateFailureReachesTheHandlerAndTheModuleLivesOn) {
  std::vector<std::string> errors;
  Application().SetOnException([&](TObject* sender, Exception& e) {
    errors.push_back(dynamic_cast<TComponent*>(sender)->Name() + ": " + e.Message());
  });
  TDMTest* dm = Create<TDMTest>(nullptr, true);
  EXPECT_EQ(errors, std::vector<std::string>{"DMTest: no database"});
  ASSERT_EQ(Screen().DataModuleCount(), 1);
  EXPECT_EQ(Screen().DataModules(0), dm);
  EXPECT_FALSE(dm->ComponentState().Contains(csLoading));
  EXPECT_FALSE(dm->Table->ComponentState().Contains(csReading));
  EXPECT_TRUE(dm->Table->IsOpen());
  EXPECT_EQ(dm->Tray->icons, (std::vector<std::vector<uint8_t>>{{7, 8}}));
  EXPECT_TRUE(dm->Tray->is_form);
  journal_.clear();
  dm->SetOnDestroy([&](TObject*) {
    Note(std::string("OnDestroy, table ") + (dm->Table != nullptr ? "still here" : "gone"));
  });
  dm->Free();
  EXPECT_EQ(journal_, (std::vector<std::string>{"OnDestroy, table still here", "~TDMTest"}));
  EXPECT_EQ(Screen().DataModuleCount(), 0);
}

TEST_F(LoaderTest, BinaryPropertiesSurviveWriterAndLoader) {
  TComponent source_form(nullptr);
  auto* source_table = Create<FakeDataSet>(&source_form);
  auto* source_tray = Create<FakeTrayIcon>(&source_form);
  source_tray->icons = {std::vector<uint8_t>(766, 0x11), {}, std::vector<uint8_t>(766, 0x22)};

  // An empty dataset's records are just the end marker.
  source_table->raw = {0xFF, 0xFF, 0xFF, 0xFF};
  const auto table_props = TPropertyWriter::Collect(*source_table);
  ASSERT_EQ(table_props.size(), 1u);
  const auto table_bytes = table_props[0].bytes;
  EXPECT_EQ(table_bytes, (std::vector<uint8_t>{4, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));

  const auto tray_props = TPropertyWriter::Collect(*source_tray);
  ASSERT_EQ(tray_props.size(), 1u) << "IsForm without data is not written";
  EXPECT_EQ(tray_props[0].name, "Icons");
  EXPECT_EQ(tray_props[0].bytes.size(), 4u + (4 + 766) + 4 + (4 + 766));

  TComponent root(nullptr);
  TLoader loader(&root);
  auto* table = loader.Create<FakeDataSet>(&root, "T");
  auto* tray = loader.Create<FakeTrayIcon>(&root, "I");
  loader.DefineData(table, "RawData", table_bytes);
  loader.DefineData(tray, "Icons", tray_props[0].bytes);
  loader.Finish();
  EXPECT_EQ(table->raw, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_EQ(tray->icons, source_tray->icons);
  EXPECT_EQ(TPropertyWriter::Collect(*tray)[0].bytes, tray_props[0].bytes);
}

TEST_F(LoaderTest, UndeclaredPropertyAndForeignComponentAreRefused) {
  TComponent root(nullptr);
  TComponent stranger(nullptr);
  {
    TLoader loader(&root);
    auto* table = loader.Create<FakeDataSet>(&root, "T");
    EXPECT_THROW(loader.DefineData(&stranger, "RawData", {}), EReadError);
    loader.DefineValue(table, "Nonsense", Variant(1));
    try {
      loader.Finish();
      FAIL() << "undeclared property accepted";
    } catch (const EReadError& e) {
      EXPECT_EQ(e.Message(), "Erreur de lecture de T.Nonsense : la propri\xE9t\xE9 n'existe pas");
    }
    EXPECT_TRUE(table->ComponentState().Contains(csLoading));
  }
  // The failed load leaves no component in the loading state, and no Loaded ran.
  EXPECT_FALSE(root.ComponentState().Contains(csLoading));
  EXPECT_FALSE(root.Components(0)->ComponentState().Contains(csLoading));
  EXPECT_TRUE(journal_.empty() || journal_.back() != "T.Loaded");
}

}  // namespace
}  // namespace cl
