#include "classlib/rtl/Loader.h"

#include <algorithm>

#include "classlib/rtl/AsciiText.h"

namespace cl {
namespace {

// Hands a component the stored properties meant for it, as it declares them.
class TReadingFiler : public TFiler {
 public:
  explicit TReadingFiler(std::vector<TStoredProperty*> properties)
      : properties_(std::move(properties)) {}

  void DefineProperty(const std::string& name, const TValueReader& read, const TValueWriter&,
                      bool) override {
    TStoredProperty* property = Take(name, false);
    if (property != nullptr && read) read(property->value);
  }

  void DefineBinaryProperty(const std::string& name, const TStreamProc& read, const TStreamProc&,
                            bool) override {
    TStoredProperty* property = Take(name, true);
    if (property == nullptr || !read) return;
    TMemoryStream stream;
    if (!property->bytes.empty()) {
      stream.WriteBuffer(property->bytes.data(), static_cast<int32_t>(property->bytes.size()));
    }
    stream.SetPosition(0);
    read(stream);
  }

  // The first stored property nobody declared, or nullptr.
  const TStoredProperty* Unclaimed() const {
    return properties_.empty() ? nullptr : properties_.front();
  }

 private:
  TStoredProperty* Take(const std::string& name, bool binary) {
    for (auto it = properties_.begin(); it != properties_.end(); ++it) {
      if ((*it)->binary == binary && SameAsciiText((*it)->name, name)) {
        TStoredProperty* property = *it;
        properties_.erase(it);
        return property;
      }
    }
    return nullptr;
  }

  std::vector<TStoredProperty*> properties_;
};

}  // namespace

TLoader::TLoader(TComponent* root) : root_(root) {
  root_->state_.Include(csLoading).Include(csReading);
  loaded_.push_back(root_);
}

TLoader::~TLoader() {
  if (!finished_) ClearFlags();
}

void TLoader::ClearFlags() {
  for (TComponent* c : loaded_) c->state_.Exclude(csLoading).Exclude(csReading);
}

void TLoader::Check(TComponent* component) const {
  if (std::find(loaded_.begin(), loaded_.end(), component) == loaded_.end()) {
    throw EReadError("Composant inconnu du chargement");
  }
}

void TLoader::DefineData(TComponent* component, const std::string& property,
                         std::vector<uint8_t> bytes) {
  Check(component);
  TStoredProperty stored;
  stored.name = property;
  stored.binary = true;
  stored.bytes = std::move(bytes);
  pending_.push_back(Pending{component, std::move(stored)});
}

void TLoader::DefineValue(TComponent* component, const std::string& property,
                          const Variant& value) {
  Check(component);
  TStoredProperty stored;
  stored.name = property;
  stored.value = value;
  pending_.push_back(Pending{component, std::move(stored)});
}

void TLoader::Finish() {
  if (finished_) return;
  for (TComponent* c : loaded_) {
    std::vector<TStoredProperty*> mine;
    for (Pending& p : pending_) {
      if (p.component == c) mine.push_back(&p.property);
    }
    if (mine.empty()) continue;
    TReadingFiler filer(std::move(mine));
    c->DefineProperties(filer);
    if (const TStoredProperty* unclaimed = filer.Unclaimed()) {
      throw EReadError("Erreur de lecture de " + c->Name() + "." + unclaimed->name +
                       " : la propri\xE9t\xE9 n'existe pas");
    }
  }
  pending_.clear();
  for (TComponent* c : loaded_) c->state_.Exclude(csReading);
  finished_ = true;
  for (TComponent* c : loaded_) c->Loaded();
}

}  // namespace cl
