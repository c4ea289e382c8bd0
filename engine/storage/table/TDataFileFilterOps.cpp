// TDataFile: the filter operations of the dataset layer (add, drop, activate, deactivate, replace
// an expression) and the filters of a clone.  The maps they build are TDataFileFilters.cpp's.
#include <algorithm>
#include <utility>

#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/expr/ExpressionChecker.h"
#include "engine/storage/table/FieldExpressionValues.h"
#include "engine/storage/table/TDataFile.h"

namespace tessera {

// ---- filter operations --------------------------------------------------------------------------

ExpressionNodePtr TDataFile::CheckedTree(std::span<const uint8_t> buffer) {
  ExpressionNodePtr tree = DecodeFilterBuffer(buffer, [this](ExpressionNode& column) {
    BindColumnNode(FindFieldDefinition(TFieldSet::kTable, column.column_name), column);
  });
  if (tree == nullptr) return nullptr;
  // Every column was bound by the decoder.
  CheckExpression("filter", *tree, [](ExpressionNode& column) { return column.field_number != 0; });
  return tree;
}

uint16_t TDataFile::AddFilter(std::span<const uint8_t> buffer, ExpressionNode* tree, bool owns_tree,
                              bool restrict_to_earlier, void* callback_data,
                              TFilterCallback callback, TFilter** handle) {
  auto filter = std::make_unique<TFilter>();
  // Taken first, so that a refused filter (or a buffer, which wins) frees a tree given to it.
  if (tree != nullptr) filter->SetExpression(tree, owns_tree);
  if (filters_.size() >= kMaxFilters) Fail(kErrTooManyFilters);
  if (!buffer.empty()) {
    ExpressionNodePtr decoded = CheckedTree(buffer);
    if (decoded == nullptr) return kErrInvalidFilterExpression;
    filter->SetExpression(decoded.release(), true);
  } else if (tree == nullptr) {
    if (!callback) return kErrInvalidFilterExpression;
    filter->is_callback = true;
    filter->callback = std::move(callback);
    filter->callback_data = callback_data;
  }
  filter->restrict_to_earlier = restrict_to_earlier;
  if (!filter->is_callback) {
    filter->evaluation_class = AnalyzeFilter(*filter->Expression());
  }
  if (handle != nullptr) *handle = filter.get();
  filters_.push_back(std::move(filter));
  return 0;
}

TFilter* TDataFile::FindFilter(TFilter* filter) const {
  for (const std::unique_ptr<TFilter>& f : filters_) {
    if (f.get() == filter) return filter;
  }
  return nullptr;
}

void TDataFile::AfterFilterChange() {
  UpdateMaps();
  Resync();
}

// A filter built with restrict-to-earlier lacks the records an earlier filter refused; when that
// filter goes or stops, its map is rebuilt in full.
void TDataFile::ForgetFilter(TFilter* filter) {
  if (RestrictsLater(filter)) {
    InvalidateMaps();
  } else if (maps_valid_) {
    ComputeVisible();
  }
}

bool TDataFile::RestrictsLater(TFilter* filter) const {
  bool after = false;
  for (const std::unique_ptr<TFilter>& f : filters_) {
    if (after && f->active && f->restrict_to_earlier) return true;
    if (f.get() == filter) after = true;
  }
  return false;
}

uint16_t TDataFile::DropFilter(TFilter* filter) {
  ReadScope scope(*this);
  if (filter == nullptr) {
    filters_.clear();
    if (maps_valid_) ComputeVisible();
  } else {
    if (FindFilter(filter) == nullptr) return kErrInvalidFilterHandle;
    const bool was_active = filter->active;
    filter->active = false;
    if (was_active) ForgetFilter(filter);
    std::erase_if(filters_, [filter](const auto& f) { return f.get() == filter; });
    if (maps_valid_) ComputeVisible();
  }
  AfterFilterChange();
  return 0;
}

uint16_t TDataFile::ActivateFilter(TFilter* filter) {
  ReadScope scope(*this);
  if (filter == nullptr) {
    for (const std::unique_ptr<TFilter>& f : filters_) f->active = true;
    InvalidateMaps();
  } else {
    if (FindFilter(filter) == nullptr) return kErrInvalidFilterHandle;
    filter->active = true;
    if (maps_valid_ && index_file_.Cursor().BitMapMode()) {
      BuildMaps(filter);
    } else {
      InvalidateMaps();
    }
  }
  AfterFilterChange();
  return 0;
}

uint16_t TDataFile::DeactivateFilter(TFilter* filter) {
  ReadScope scope(*this);
  if (filter == nullptr) {
    for (const std::unique_ptr<TFilter>& f : filters_) {
      f->active = false;
      f->map.clear();
    }
    if (maps_valid_) ComputeVisible();
  } else {
    if (FindFilter(filter) == nullptr) return kErrInvalidFilterHandle;
    filter->active = false;
    filter->map.clear();
    ForgetFilter(filter);
  }
  AfterFilterChange();
  return 0;
}

uint16_t TDataFile::ReplaceFilterExpression(TFilter* filter, std::span<const uint8_t> buffer,
                                            ExpressionNode* tree) {
  ReadScope scope(*this);
  if (FindFilter(filter) == nullptr || !filter->active) return kErrInvalidFilterHandle;
  if (!buffer.empty()) {
    ExpressionNodePtr decoded = CheckedTree(buffer);
    if (decoded == nullptr) return kErrInvalidFilterExpression;
    filter->SetExpression(decoded.release(), true);
  } else if (tree != nullptr) {
    filter->SetExpression(tree, false);
  } else {
    return kErrInvalidFilterExpression;
  }
  filter->is_callback = false;
  filter->callback = nullptr;
  filter->evaluation_class = AnalyzeFilter(*filter->Expression());
  if (maps_valid_ && index_file_.Cursor().BitMapMode() && !RestrictsLater(filter)) {
    BuildMaps(filter);
  } else {
    InvalidateMaps();
  }
  AfterFilterChange();
  return 0;
}

void TDataFile::CloneFiltersInto(TDataFile& clone) const {
  for (const std::unique_ptr<TFilter>& f : filters_) {
    TFilter* copy = nullptr;
    if (f->is_callback) {
      clone.AddFilter({}, nullptr, false, f->restrict_to_earlier, f->callback_data, f->callback,
                      &copy);
    } else {
      clone.AddFilter({}, CopyExpressionTree(f->Expression()).release(), true,
                      f->restrict_to_earlier, nullptr, nullptr, &copy);
    }
    copy->active = f->active;
  }
  clone.InvalidateMaps();
}

}  // namespace tessera
