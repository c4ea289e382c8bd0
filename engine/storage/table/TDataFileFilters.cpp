// TDataFile: filters and record bit maps.
//
// The maps hold one bit per physical record number (next record number - 1 of them):
//   live     records not deleted: from the "Sys Deleted" keys, or, in a table that never reuses
//            slots (and so keeps no such keys), from each slot's deleted byte;
//   range    records whose key lies in the cursor's range (only while a range is active);
//   filter   per active filter: the candidates (range AND live, and with restrict-to-earlier the
//            maps of the active filters before it) that the filter accepts;
//   visible  the index cursor's: live AND range AND every active filter; the record count is its
//            bit count.
// They are built when the first filter is activated, or again after another process's change, a
// new index or a new range (InvalidateMaps), and then kept by each insert, modify and delete of
// this handle (UpdateMapsFor), every map grown first to the physical count.
//
// A condition that an index can answer (a column or UPPER of a column compared with constants,
// IN, BETWEEN, a prefix compare, is-blank) becomes a set of ordinal spans of an index led by the
// column and is marked from the index alone, walking whichever side of the spans is smaller; the
// rest is evaluated record by record over the records still set.  Both paths follow the
// evaluator's rules exactly, since maintenance evaluates per record what a build took from an
// index: a blank value is never ordered (an ordering comparison, BETWEEN, with a blank side is
// false), so ordering spans leave out the blank keys; "=" and "<>" with NULL are the blank test.
// A constant that a key cannot hold exactly (out of the field's range, a money value finer than
// its decimals, a string too long, empty or ending in a blank) is evaluated record by record.
//
// A build that sees another process's change (a record fetch or a page read re-reads the change
// counters and lands in InvalidateMaps) starts again from the base maps; the re-entrancy flag
// keeps that change from starting a second build inside the first.
#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

#include "classlib/rtl/Coding.h"
#include "engine/storage/core/EngineErrors.h"
#include "engine/storage/expr/ExpressionEvaluator.h"
#include "engine/storage/expr/ExpressionOperators.h"
#include "engine/storage/expr/ExpressionTypes.h"
#include "engine/storage/expr/IndexAnalysis.h"
#include "engine/storage/index/RecordBitMap.h"
#include "engine/storage/table/FieldExpressionValues.h"
#include "engine/storage/table/TDataFile.h"
#include "engine/storage/values/TextCompare.h"

namespace tessera {
namespace {

constexpr int kForward = 1;

// Ordinal positions of an index, inclusive; sorted and disjoint in a Spans.
using Span = std::pair<uint32_t, uint32_t>;
using Spans = std::vector<Span>;

Spans Normalize(Spans s) {
  std::erase_if(s, [](const Span& x) { return x.first > x.second; });
  std::sort(s.begin(), s.end());
  Spans out;
  for (const Span& x : s) {
    if (!out.empty() && uint64_t{x.first} <= uint64_t{out.back().second} + 1) {
      out.back().second = std::max(out.back().second, x.second);
    } else {
      out.push_back(x);
    }
  }
  return out;
}

Spans Complement(const Spans& s, uint32_t keys) {
  Spans out;
  uint64_t next = 1;
  for (const Span& x : s) {
    if (x.first > next) out.push_back({static_cast<uint32_t>(next), x.first - 1});
    next = uint64_t{x.second} + 1;
  }
  if (next <= keys) out.push_back({static_cast<uint32_t>(next), keys});
  return out;
}

Spans Intersect(const Spans& a, const Spans& b) {
  Spans out;
  for (const Span& x : a) {
    for (const Span& y : b) {
      out.push_back({std::max(x.first, y.first), std::min(x.second, y.second)});
    }
  }
  return Normalize(std::move(out));
}

Spans Unite(Spans a, const Spans& b) {
  a.insert(a.end(), b.begin(), b.end());
  return Normalize(std::move(a));
}

uint64_t Count(const Spans& s) {
  uint64_t n = 0;
  for (const Span& x : s) n += uint64_t{x.second} - x.first + 1;
  return n;
}

bool IsConstant(const ExpressionNode* n) { return n != nullptr && n->kind == kNodeConstant; }

// The column a condition ranges over, and whether it is seen through UPPER.
const ExpressionNode* KeyColumn(const ExpressionNode* side, bool& upper) {
  upper = false;
  if (side != nullptr && side->kind == kNodeFunction && side->code == kFnUpper) {
    upper = true;
    side = side->first.get();
  }
  if (side == nullptr || side->kind != kNodeColumn || side->field_number == 0) return nullptr;
  return side;
}

// Puts the index file back on the slot it had.
class IndexSwitch {
 public:
  IndexSwitch(TIndexFile& file, uint8_t slot) : file_(file), saved_(file.CurrentSlot()) {
    file_.SelectIndex(slot);
  }
  // A slot that was current is always accepted again.
  ~IndexSwitch() { file_.SelectIndex(saved_); }
  IndexSwitch(const IndexSwitch&) = delete;
  IndexSwitch& operator=(const IndexSwitch&) = delete;

 private:
  TIndexFile& file_;
  uint8_t saved_;
};

size_t MapSize(uint32_t physical) { return physical / 8 + 1; }

constexpr int kRestartsBeforeHeldRead = 3;

// Bits past the physical count (set by an inversion) would show a record appended later as
// visible before any filter saw it.
void ClearPast(uint32_t physical, std::vector<uint8_t>& map) {
  for (uint64_t n = uint64_t{physical} + 1; n <= uint64_t{map.size()} * 8; ++n) {
    ClearBit(static_cast<uint32_t>(n), map);
  }
}

void SetOrClear(uint32_t n, bool on, std::vector<uint8_t>& map) {
  on ? SetBit(n, map) : ClearBit(n, map);
}

}  // namespace

// One build, count or test of filter conditions on a table; also the index analysis's view of
// the table.
class TDataFile::FilterBuild : public IndexAnalysisHost {
 public:
  explicit FilterBuild(TDataFile& table)
      : t_(table), file_(table.index_file_), blob_sizes_(table.OpenBlobSizes()) {}

  uint8_t Analyze(ExpressionNode& tree) { return AnalyzeFilterForIndex(*this, 0, tree, true); }

  // ---- IndexAnalysisHost ----

  bool HasIndexLedBy(uint16_t field_number, bool case_insensitive) override {
    uint8_t slot = 0;
    return ChooseIndex(field_number, case_insensitive, false, slot);
  }

  uint32_t CountConditionKeys(const ExpressionNode& condition) override {
    uint8_t slot = 0;
    Spans spans;
    // A condition no key can hold counts as selecting everything: it is tested per record.
    if (!Positions(condition, slot, spans)) return UINT32_MAX;
    return static_cast<uint32_t>(std::min<uint64_t>(Count(spans), UINT32_MAX));
  }

  uint32_t CurrentRangeKeyCount() override {
    TIndexCursor& cursor = file_.Cursor();
    if (file_.InRecordOrder()) return t_.PhysicalRecordCount();
    const uint32_t first = cursor.RangeFirst(), last = cursor.RangeLast();
    return last >= first ? last - first + 1 : 0;
  }

  uint32_t SaveCurrentIndex() override { return file_.CurrentSlot(); }
  void RestoreCurrentIndex(uint32_t saved) override {
    file_.SelectIndex(static_cast<uint8_t>(saved));
  }

  // ---- maps ----

  // Range and live maps for the current physical record count.
  void BuildBaseMaps() {
    const uint32_t physical = t_.PhysicalRecordCount();
    const size_t size = MapSize(physical);
    t_.live_map_.assign(size, 0);
    if (t_.NeverReusesSlots()) {
      ScanLiveSlots(physical);
    } else {
      SetAllBits(t_.live_map_);
      IndexSwitch sys(file_, kSysDeletedSlot);
      const uint8_t deleted_flag = 1;
      // Live keys (flag 0) come first.
      const uint32_t live = file_.Tree().LowerBound(&deleted_flag, 1).position - 1;
      MarkSpans(kSysDeletedSlot, {{1, live}}, t_.live_map_);
      ClearPast(physical, t_.live_map_);
    }
    t_.range_map_.clear();
    TIndexCursor& cursor = file_.Cursor();
    if (!file_.InRecordOrder() && cursor.RangeActive()) {
      t_.range_map_.assign(size, 0);
      SetAllBits(t_.range_map_);
      MarkSpans(file_.CurrentSlot(), {{cursor.RangeFirst(), cursor.RangeLast()}}, t_.range_map_);
      ClearPast(physical, t_.range_map_);
    }
  }

  std::vector<uint8_t> Candidates() const {
    std::vector<uint8_t> map = t_.live_map_;
    if (!t_.range_map_.empty()) AndBitMaps(t_.range_map_, map);
    return map;
  }

  // The filter's map: the candidates it accepts.
  void EvaluateFilter(TFilter& filter, const std::vector<uint8_t>& candidates) {
    filter.map = candidates;
    if (filter.is_callback) {
      PerRecord(filter.map, [&](const uint8_t* record, uint32_t n) {
        return filter.callback(filter.callback_data, record, n);
      });
    } else {
      Evaluate(*filter.Expression(), filter.map);
    }
  }

  bool Accepts(TFilter& filter, const uint8_t* record, uint32_t n) {
    if (filter.is_callback) return filter.callback(filter.callback_data, record, n);
    return Holds(*filter.Expression(), record);
  }

  // Whether `record` lies inside the cursor's range (its key's ordinal between the range's).
  bool InRange(const uint8_t* record) {
    uint8_t key[kMaxKeyLength] = {};
    t_.BuildKey(record, key);
    TIndexCursor& cursor = file_.Cursor();
    const TTreeSpot spot = file_.Tree().LowerBound(key, t_.GetCurrentKeyLength());
    return spot.leaf != 0 && spot.position >= cursor.RangeFirst() &&
           spot.position <= cursor.RangeLast();
  }

 private:
  void ScanLiveSlots(uint32_t physical) {
    const uint32_t per_read = std::max<uint32_t>(1, t_.PerReadMaximum());
    const size_t record_size = t_.header_.RecordSize();
    std::vector<uint8_t> images(static_cast<size_t>(per_read) * record_size);
    for (uint32_t first = 1; first <= physical; first += per_read) {
      const uint32_t n = std::min(per_read, physical - first + 1);
      const uint32_t got = t_.ReadRecordImages(first, n, images.data());
      for (uint32_t i = 0; i < n; ++i) {
        // Records an exclusive handle has not written yet are in the cache.
        const TRecord* cached = t_.record_cache_.Peek(first + i);
        const bool deleted =
            cached != nullptr ? cached->Deleted() : (i >= got || images[i * record_size] != 0);
        if (!deleted) SetBit(first + i, t_.live_map_);
      }
    }
  }

  // map &= the records whose keys in `slot` lie in `spans`, walking the smaller side.
  void MarkSpans(uint8_t slot, const Spans& given, std::vector<uint8_t>& map) {
    IndexSwitch use(file_, slot);
    TIndexTree& tree = file_.Tree();
    const uint32_t keys = tree.KeyCount();
    const Spans spans = Intersect(Normalize(given), {{1, keys}});
    std::vector<uint8_t> marks(map.size(), 0);
    const bool inside = Count(spans) <= keys / 2;
    for (const Span& s : inside ? spans : Complement(spans, keys)) {
      TTreeSpot spot = tree.AtPosition(s.first);
      for (uint64_t p = s.first; p <= s.second && spot.leaf != 0; ++p) {
        SetBit(tree.RecordNumberAt(spot), marks);
        spot = tree.Step(spot, true);
      }
    }
    if (!inside) NotBitMap(marks, marks);
    AndBitMaps(marks, map);
  }

  // The first index (from the primary on) led by the field: for strings with the case rule asked
  // for, unless `any_case`.
  bool ChooseIndex(uint16_t field_number, bool case_insensitive, bool any_case, uint8_t& slot) {
    if (field_number == 0 || field_number > t_.table_fields_.size()) return false;
    const bool text = t_.table_fields_[field_number - 1].type == kFieldString;
    for (int s = file_.NoPrimaryFields() ? 1 : 0; s <= file_.SecondaryCount(); ++s) {
      const TIndexDescriptor d = file_.GetIndexDescriptor(s);
      if (d.field_count == 0 || d.field_numbers[0] != field_number) continue;
      if (text && !any_case && (d.case_insensitive != 0) != case_insensitive) continue;
      slot = static_cast<uint8_t>(s);
      return true;
    }
    return false;
  }

  // The key part (null byte and value, as BuildKey lays it out) of `constant` for the first
  // field of `slot`; false when a key cannot hold it exactly.
  bool KeyPart(uint8_t slot, const TFieldDefinition& field, const ExpressionNode& constant,
               bool upper, uint8_t* part) {
    uint8_t stored[kMaxDeclaredSize + 2];
    if (!ExpressionValueToStored(constant, field, true, stored)) return false;
    if (upper) {
      // UPPER(column) equals only upper-case texts; an index would fold the constant too.
      const std::string_view s = constant.StringValue();
      if (UpperCaseText(t_.GetLanguageId(), t_.GetSortId(), s) != s) return false;
    }
    std::vector<uint8_t> record(t_.GetRecordBufferSize(), 0);
    tessera::PutFieldValue(field, true, stored, record.data(), blob_sizes_);
    uint8_t key[kMaxKeyLength] = {};
    t_.BuildKey(record.data(), key, slot);
    std::memcpy(part, key, field.stored_size + 1u);
    return true;
  }

  // The keys of `slot` (on a table with a language) whose value holds the prefix comparison `n`
  // ("=").  The collation orders whole values by their base characters before case and accents
  // ("Sm1th" < "sm2" < "Sm3"), so the values with a given character prefix lie scattered and no
  // key range holds exactly them.  Each of them lies, though, in the one run of keys whose
  // primary weights begin with the prefix's, and none sorts before the prefix itself (past the
  // prefix's characters it holds only weightless ones, or more base characters).  So the run is walked from the prefix's
  // place on, and each key's value is tested as the evaluator tests it: the key holds the whole
  // value, as a case-insensitive index's upper case, which UPPER(column) or a comparison that
  // ignores case sees alike.  False when a key cannot hold the prefix.
  bool CollatedPrefixPositions(const ExpressionNode& n, uint8_t slot, const TFieldDefinition& field,
                               bool upper, Spans& out) {
    const ExpressionNode& constant = *n.second;
    ExpressionNode prefix;
    static_cast<ExpressionNodeFields&>(prefix) = constant;
    prefix.SetString(constant.StringValue().substr(0, n.prefix_length));
    prefix.size = static_cast<uint8_t>(prefix.StringValue().size() + 1);
    uint8_t part[kMaxKeyLength] = {};
    if (!KeyPart(slot, field, prefix, upper, part)) return false;

    const uint16_t language = t_.GetLanguageId(), sort = t_.GetSortId();
    const TIndexDescriptor d = file_.GetIndexDescriptor(slot);
    const bool inverted = d.field_descending[0] != 0 && d.descending == 0;
    const bool reversed = d.descending != 0 || d.field_descending[0] != 0;
    std::string value;
    KeyFieldText(part, field.stored_size, inverted, value);
    const std::string run = PrimaryWeights(language, sort, value, cl::TSortMode::kString);

    TIndexTree& tree = file_.Tree();
    const size_t whole = field.stored_size + 1u;
    TTreeSpot spot = reversed ? tree.LastNotAbove(part, whole) : tree.LowerBound(part, whole);
    uint8_t key[kMaxKeyLength];
    out.clear();
    for (; spot.leaf != 0; spot = tree.Step(spot, !reversed)) {
      tree.ReadEntry(spot, key);
      if (!KeyFieldText(key, field.stored_size, inverted, value) ||
          !PrimaryWeights(language, sort, value, cl::TSortMode::kString).starts_with(run)) {
        break;
      }
      ExpressionNode left, result;
      left.type = kExprTypeString;
      left.SetString(value);
      left.size = static_cast<uint8_t>(value.size() + 1);
      EvaluatePrefixCompare(kOpEqual, n.prefix_length, n.case_insensitive != 0, left, constant,
                            result, language, sort);
      if (!result.BooleanValue()) continue;
      if (!out.empty() && out.back().second + 1 == spot.position) {
        ++out.back().second;
      } else if (!out.empty() && out.back().first == spot.position + 1) {
        --out.back().first;
      } else {
        out.push_back({spot.position, spot.position});
      }
    }
    out = Normalize(std::move(out));
    return true;
  }

  // The ordinal spans of the keys a condition selects, in the index it chose.  False when the
  // condition is not one an index answers, or a constant no key can hold.
  bool Positions(const ExpressionNode& n, uint8_t& slot, Spans& out) {
    bool upper = false;
    const ExpressionNode* column = nullptr;
    bool any_case = false;
    bool case_insensitive = false;
    if (n.kind == kNodeUnary && (n.code == kOpIsNull || n.code == kOpIsNotNull)) {
      column = n.first && n.first->kind == kNodeColumn ? n.first.get() : nullptr;
      any_case = true;
    } else if (n.kind == kNodeBinary && IsComparisonCode(n.code) && IsConstant(n.second.get())) {
      column = KeyColumn(n.first.get(), upper);
      case_insensitive = upper;
    } else if (n.kind == kNodePrefixCompare && IsConstant(n.second.get()) &&
               (n.code == kOpEqual || n.code == kOpNotEqual)) {
      column = KeyColumn(n.first.get(), upper);
      case_insensitive = upper || n.case_insensitive != 0;
      upper = upper && n.case_insensitive == 0;
    } else if (n.kind == kNodePredicate &&
               (n.code == kOpIn || n.code == kOpNotIn || n.code == kOpBetween ||
                n.code == kOpNotBetween) &&
               n.second != nullptr) {
      for (const ExpressionNode* v = n.second.get(); v != nullptr; v = v->next.get()) {
        if (!IsConstant(v)) return false;
      }
      column = KeyColumn(n.first.get(), upper);
      case_insensitive = upper;
    }
    if (column == nullptr || column->field_number == 0) return false;
    if (!ChooseIndex(column->field_number, case_insensitive, any_case, slot)) return false;
    const TFieldDefinition& field = t_.table_fields_[column->field_number - 1];
    IndexSwitch use(file_, slot);
    TIndexTree& tree = file_.Tree();
    const uint32_t keys = tree.KeyCount();
    const TIndexDescriptor d = file_.GetIndexDescriptor(slot);
    const bool reversed = d.descending != 0 || d.field_descending[0] != 0;
    const size_t whole = field.stored_size + 1u;

    // Blank keys: those whose first byte is a blank null byte.
    Spans blank;
    {
      std::vector<uint8_t> record(t_.GetRecordBufferSize(), 0);
      uint8_t key[kMaxKeyLength] = {};
      t_.BuildKey(record.data(), key, slot);
      blank = Normalize({{tree.LowerBound(key, 1).position, tree.LastNotAbove(key, 1).position}});
    }
    const Spans present = Complement(blank, keys);
    auto equal = [&](const ExpressionNode& c, size_t length, Spans& s) {
      if (c.is_null) {
        s = blank;
        return true;
      }
      uint8_t part[kMaxKeyLength] = {};
      if (!KeyPart(slot, field, c, upper, part)) return false;
      s = Normalize(
          {{tree.LowerBound(part, length).position, tree.LastNotAbove(part, length).position}});
      return true;
    };
    auto ordered = [&](uint32_t code, const ExpressionNode& c, Spans& s) {
      s.clear();
      if (c.is_null) return true;  // nothing is ordered against NULL
      uint8_t part[kMaxKeyLength] = {};
      if (!KeyPart(slot, field, c, upper, part)) return false;
      const uint32_t lo = tree.LowerBound(part, whole).position;
      const uint32_t hi = tree.LastNotAbove(part, whole).position;
      if (reversed) {
        code = code == kOpLess           ? kOpGreater
               : code == kOpGreater      ? kOpLess
               : code == kOpLessEqual    ? kOpGreaterEqual
               : code == kOpGreaterEqual ? kOpLessEqual
                                         : code;
      }
      switch (code) {
        case kOpLess:
          s = {{1, lo - 1}};
          break;
        case kOpLessEqual:
          s = {{1, hi}};
          break;
        case kOpGreater:
          s = {{hi + 1, keys}};
          break;
        default:
          s = {{lo, keys}};
          break;
      }
      s = Intersect(Normalize(s), present);
      return true;
    };

    const ExpressionNode* c = n.second.get();
    switch (n.kind) {
      case kNodeUnary:
        out = n.code == kOpIsNull ? blank : present;
        return true;
      case kNodeBinary:
        if (n.code == kOpEqual || n.code == kOpNotEqual) {
          if (!equal(*c, whole, out)) return false;
          if (n.code == kOpNotEqual) out = Complement(out, keys);
          return true;
        }
        return ordered(n.code, *c, out);
      case kNodePrefixCompare: {
        const bool partial = n.prefix_length > 0 && n.prefix_length + 1u < whole;
        if (partial && !c->is_null && t_.GetLanguageId() != 0) {
          if (!CollatedPrefixPositions(n, slot, field, upper, out)) return false;
        } else if (!equal(*c, partial ? n.prefix_length + 1u : whole, out)) {
          return false;
        }
        if (n.code == kOpNotEqual) out = Complement(out, keys);
        return true;
      }
      default:
        break;
    }
    out.clear();
    if (n.code == kOpIn || n.code == kOpNotIn) {
      for (const ExpressionNode* v = c; v != nullptr; v = v->next.get()) {
        Spans one;
        if (!equal(*v, whole, one)) return false;
        out = Unite(std::move(out), one);
      }
    } else {
      Spans low, high = present;
      if (!ordered(kOpGreaterEqual, *c, low)) return false;
      if (c->next != nullptr && !ordered(kOpLessEqual, *c->next, high)) return false;
      out = Intersect(low, high);
    }
    if (n.code == kOpNotIn || n.code == kOpNotBetween) out = Complement(out, keys);
    return true;
  }

  // map &= the records for which `n` holds.
  void Evaluate(ExpressionNode& n, std::vector<uint8_t>& map) {
    if (t_.maps_moved_) return;
    if (n.index_verdict != kVerdictPerRecord) {
      if (n.kind == kNodeBinary && n.code == kOpAnd && n.first && n.second) {
        // The analysis put the better side first: it narrows what the other side tests.
        Evaluate(*n.first, map);
        Evaluate(*n.second, map);
        return;
      }
      if (n.kind == kNodeBinary && n.code == kOpOr && n.first && n.second) {
        std::vector<uint8_t> right = map;
        Evaluate(*n.first, map);
        Evaluate(*n.second, right);
        OrBitMaps(right, map);
        return;
      }
      if (n.kind == kNodeUnary && n.code == kOpNot && n.first) {
        std::vector<uint8_t> inner = map;
        Evaluate(*n.first, inner);
        NotBitMap(inner, inner);
        AndBitMaps(inner, map);
        return;
      }
      uint8_t slot = 0;
      Spans spans;
      if (Positions(n, slot, spans)) {
        MarkSpans(slot, spans, map);
        return;
      }
    }
    if (ColumnCompare::Fits(t_, n)) {
      ColumnCompare compare(t_, n);
      PerRecord(
          map, [&](const uint8_t* record, uint32_t) { return compare.Holds(record, blob_sizes_); });
      return;
    }
    PerRecord(map, [&](const uint8_t* record, uint32_t) { return Holds(n, record); });
  }

  // A column compared with a constant, the commonest condition that every record is tested for:
  // the field, the constant's value and the nodes are set up once, and each record costs the
  // evaluator's own comparison (so the answers are Holds') without a walk of the tree.
  class ColumnCompare {
   public:
    static bool Fits(const TDataFile& t, const ExpressionNode& n) {
      return n.kind == kNodeBinary && IsComparisonCode(n.code) && n.first && n.second &&
             n.first->kind == kNodeColumn && n.first->column_name != "*" &&
             n.first->field_number >= 1 && n.first->field_number <= t.GetFieldCount() &&
             n.second->kind == kNodeConstant;
    }
    ColumnCompare(const TDataFile& t, const ExpressionNode& n)
        : n_(n),
          field_(t.GetFieldDefinition(TFieldSet::kTable, n.first->field_number)),
          language_(t.GetLanguageId()),
          sort_(t.GetSortId()) {
      EvaluateExpression(*n.second, constant_, language_, sort_, {});
    }
    bool Holds(const uint8_t* record, const TOpenBlobSize& blob_sizes) {
      uint8_t value[kMaxDeclaredSize + 2] = {};
      const bool blank = tessera::GetFieldValue(field_, record, value, blob_sizes);
      column_.Fields() = n_.first->Fields();
      StoredToExpressionValue(field_, value, blank, column_);
      column_.kind = kNodeConstant;
      result_.Fields() = n_.Fields();
      EvaluateBinaryOperator(n_.code, column_, constant_, result_, language_, sort_);
      return result_.type == kExprTypeBoolean && !result_.is_null && result_.BooleanValue();
    }

   private:
    const ExpressionNode& n_;
    const TFieldDefinition& field_;
    uint16_t language_;
    uint16_t sort_;
    ExpressionNode constant_;
    ExpressionNode column_;
    ExpressionNode result_;
  };

  // Fetches every record set in `map` and clears those that `keep` refuses.  Records the cache
  // lacks come straight from runs of disk images: passing each through the cache would evict and
  // refill an entry per record for records seen once.
  template <class Keep>
  void PerRecord(std::vector<uint8_t>& map, Keep&& keep) {
    if (t_.HasComputedFields()) {
      PerCachedRecord(map, keep);
      return;
    }
    const uint32_t physical = t_.PhysicalRecordCount();
    const size_t record_size = t_.header_.RecordSize();
    const uint32_t per_read = std::max<uint32_t>(1, t_.PerReadMaximum());
    std::vector<uint8_t> images;
    std::vector<uint8_t> record(t_.GetRecordBufferSize(), 0);
    uint32_t first = 0, got = 0;  // the images read: records first .. first + got - 1
    uint32_t n = 0;
    while (!t_.maps_moved_ && FindNextBit(map, physical, n)) {
      if (const TRecord* cached = t_.record_cache_.Peek(n)) {
        // A copy: `keep` may call back into the table and recycle the entry.
        std::memcpy(record.data(), cached->buffer.data(),
                    std::min(record.size(), cached->buffer.size()));
      } else {
        if (n < first || n - first >= got) {
          if (!t_.strict_change_detection_ && t_.TakeReadLevel()) {
            t_.maps_moved_ = true;
            return;
          }
          const uint32_t count = std::min(per_read, physical - n + 1);
          images.resize(static_cast<size_t>(count) * record_size);
          first = n;
          got = t_.ReadRecordImages(n, count, images.data());
          if (got == 0) t_.Fail(kErrRecordBufferCorrupt);
        }
        std::memcpy(record.data(), images.data() + static_cast<size_t>(n - first) * record_size,
                    record_size);
        if (record[0] == 0) cl::PutU32LE(record.data() + kRecLink, n);
      }
      ++t_.filter_fetches_;
      if (record[0] != 0 || !keep(record.data(), n)) ClearBit(n, map);
    }
  }

  // PerRecord through the cache, which computes the computed fields the conditions may read.
  template <class Keep>
  void PerCachedRecord(std::vector<uint8_t>& map, Keep&& keep) {
    const uint32_t physical = t_.PhysicalRecordCount();
    uint32_t n = 0;
    while (!t_.maps_moved_ && FindNextBit(map, physical, n)) {
      bool retry = false;
      TRecord* r = t_.GetRecord(n, true, kForward, false, retry);
      if (retry) {
        t_.maps_moved_ = true;
        return;
      }
      ++t_.filter_fetches_;
      struct Unpin {
        TRecord* r;
        ~Unpin() { TRecordCache::Unpin(r); }
      } unpin{r};
      if (r == nullptr || r->Deleted() || !keep(r->buffer.data(), n)) ClearBit(n, map);
    }
  }

  // The condition is true (not false, not unknown) for `record`.
  bool Holds(const ExpressionNode& n, const uint8_t* record) {
    ExpressionNode result;
    EvaluateExpression(n, result, t_.GetLanguageId(), t_.GetSortId(), [&](ExpressionNode& column) {
      const TFieldDefinition& f = t_.GetFieldDefinition(TFieldSet::kTable, column.field_number);
      uint8_t value[kMaxDeclaredSize + 2] = {};
      const bool blank = tessera::GetFieldValue(f, record, value, blob_sizes_);
      StoredToExpressionValue(f, value, blank, column);
    });
    return result.type == kExprTypeBoolean && !result.is_null && result.BooleanValue();
  }

  TDataFile& t_;
  TIndexFile& file_;
  TOpenBlobSize blob_sizes_;
};

// ---- maps ---------------------------------------------------------------------------------------

void TDataFile::InvalidateMaps() {
  maps_valid_ = false;
  if (building_maps_) maps_moved_ = true;
}

void TDataFile::ReleaseMaps() {
  TIndexCursor& cursor = index_file_.Cursor();
  cursor.SetBitMapMode(false);
  cursor.VisibleMap().clear();
  cursor.VisibleMap().shrink_to_fit();
  cursor.SetVisibleCount(0);
  range_map_.clear();
  range_map_.shrink_to_fit();
  live_map_.clear();
  live_map_.shrink_to_fit();
  maps_valid_ = false;
}

namespace {

// Sets and clears the re-entrancy flag of a build.
class BuildFlag {
 public:
  explicit BuildFlag(bool& flag) : flag_(flag) { flag_ = true; }
  ~BuildFlag() { flag_ = false; }
  BuildFlag(const BuildFlag&) = delete;
  BuildFlag& operator=(const BuildFlag&) = delete;

 private:
  bool& flag_;
};

}  // namespace

void TDataFile::UpdateMaps() {
  TIndexCursor& cursor = index_file_.Cursor();
  const bool any_active =
      std::any_of(filters_.begin(), filters_.end(), [](const auto& f) { return f->active; });
  if (!any_active && !index_file_.InRecordOrder()) {
    if (cursor.BitMapMode() || !live_map_.empty()) ReleaseMaps();
    return;
  }
  if ((maps_valid_ && cursor.BitMapMode()) || building_maps_) return;
  BuildMaps(nullptr);
}

// With `only` (maps valid): that filter's map alone, from the base maps and, with its
// restrict-to-earlier flag, the maps of the active filters before it.  Otherwise every active
// filter's, from the base maps.
void TDataFile::BuildMaps(TFilter* only) {
  BuildFlag flag(building_maps_);
  FilterBuild build(*this);
  // Writers that never pause could restart a long build for ever: after a few restarts it holds
  // the read level, and writers wait for one build at most.
  struct HeldRead {
    TDataFile* table = nullptr;
    ~HeldRead() {
      try {
        if (table != nullptr) table->UnlockRead();
      } catch (...) {
        // A refused release keeps the reader bytes until close, which gives them back; the maps
        // are complete either way.
      }
    }
  } held;
  int restarts = 0;
  do {
    if (restarts++ == kRestartsBeforeHeldRead && !held_read_ && !WithoutLocks()) {
      LockRead();
      held.table = this;
    }
    maps_moved_ = false;
    build.BuildBaseMaps();
    const std::vector<uint8_t> candidates = build.Candidates();
    for (const std::unique_ptr<TFilter>& f : filters_) {
      if (maps_moved_) break;
      if (!f->active || (only != nullptr && f.get() != only)) continue;
      std::vector<uint8_t> start = candidates;
      if (only != nullptr && f->restrict_to_earlier) {
        for (const std::unique_ptr<TFilter>& e : filters_) {
          if (e == f) break;
          if (!e->active) continue;
          e->map.resize(start.size(), 0);
          AndBitMaps(e->map, start);
        }
      }
      build.EvaluateFilter(*f, start);
    }
  } while (maps_moved_);
  ComputeVisible();
}

void TDataFile::ComputeVisible() {
  const uint32_t physical = PhysicalRecordCount();
  const size_t size = MapSize(physical);
  TIndexCursor& cursor = index_file_.Cursor();
  std::vector<uint8_t>& visible = cursor.VisibleMap();
  live_map_.resize(size, 0);
  visible = live_map_;
  if (!range_map_.empty()) {
    range_map_.resize(size, 0);
    AndBitMaps(range_map_, visible);
  }
  for (const std::unique_ptr<TFilter>& f : filters_) {
    if (!f->active) continue;
    f->map.resize(size, 0);
    AndBitMaps(f->map, visible);
  }
  cursor.SetVisibleCount(CountBits(visible, physical));
  cursor.SetBitMapMode(true);
  maps_valid_ = true;
}

void TDataFile::UpdateMapsFor(uint32_t number, const uint8_t* record, bool update_filters) {
  TIndexCursor& cursor = index_file_.Cursor();
  if (!maps_valid_ || !cursor.BitMapMode()) return;
  // Appends of this handle grow the file past the maps' size: every map grows before a bit of
  // the new record is touched.
  const size_t size = MapSize(PhysicalRecordCount());
  std::vector<uint8_t>& visible = cursor.VisibleMap();
  auto grow = [size](std::vector<uint8_t>& map) {
    if (map.size() < size) map.resize(size, 0);
  };
  grow(visible);
  grow(live_map_);
  if (!range_map_.empty()) grow(range_map_);
  for (const std::unique_ptr<TFilter>& f : filters_) {
    if (f->active) grow(f->map);
  }
  const bool was_visible = TestBit(number, visible);
  bool now_visible = record != nullptr;
  FilterBuild build(*this);
  SetOrClear(number, record != nullptr, live_map_);
  if (!range_map_.empty()) {
    const bool in_range = record != nullptr && build.InRange(record);
    SetOrClear(number, in_range, range_map_);
    now_visible = now_visible && in_range;
  }
  for (const std::unique_ptr<TFilter>& f : filters_) {
    if (!f->active) continue;
    if (record == nullptr) {
      ClearBit(number, f->map);
    } else if (update_filters) {
      SetOrClear(number, build.Accepts(*f, record, number), f->map);
    }
    now_visible = now_visible && TestBit(number, f->map);
  }
  // The count follows the bit: a record that was not visible (a new record its filter refuses,
  // then deleted) leaves it as it was.
  SetOrClear(number, now_visible, visible);
  if (now_visible != was_visible) {
    cursor.SetVisibleCount(cursor.VisibleCount() + (now_visible ? 1 : -1));
  }
}

uint8_t TDataFile::AnalyzeFilter(ExpressionNode& tree) { return FilterBuild(*this).Analyze(tree); }

}  // namespace tessera
