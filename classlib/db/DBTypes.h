// The small types of the dataset model: field types and kinds, dataset states, the fetch modes
// and results of the record protocol, bookmark flags, data events and option sets.
//
// The order of every enumeration is part of the contract: the engine dataset stores bookmark
// flags by ordinal, dataset states are compared by range ("from edit through new value"), and
// field type names appear in messages.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "classlib/rtl/Classes.h"
#include "classlib/rtl/Exceptions.h"
#include "classlib/rtl/TSet.h"

namespace cl {

class TDataSet;
class TField;
class TObject;

enum TFieldType : uint8_t {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftWord,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftBCD,
  ftDate,
  ftTime,
  ftDateTime,
  ftBytes,
  ftVarBytes,
  ftAutoInc,
  ftBlob,
  ftMemo,
  ftGraphic,
  ftFmtMemo,
  ftTypedBinary,
  ftCursor,
};
inline constexpr int kFieldTypeCount = ftCursor + 1;

// The enumeration's own name ("ftBytes"); "ftUnknown" for a value out of range.
const char* FieldTypeName(TFieldType type);

enum TFieldKind : uint8_t { fkData, fkCalculated, fkLookup, fkInternalCalc };

// "fkData", "fkCalculated", ...
const char* FieldKindName(TFieldKind kind);

enum TDataSetState : uint8_t {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
};
using TDataSetStates = TSet<TDataSetState>;

// The states in which a record is being changed.
inline bool IsEditMode(TDataSetState state) {
  return state == dsEdit || state == dsInsert || state == dsSetKey;
}

enum TGetMode : uint8_t { gmCurrent, gmNext, gmPrior };
enum TGetResult : uint8_t { grOK, grBOF, grEOF, grError };

// Stored by ordinal in record buffers: 0 current, 1 before first, 2 after last, 3 inserted.
enum TBookmarkFlag : uint8_t { bfCurrent, bfBOF, bfEOF, bfInserted };

enum TDataAction : uint8_t { daFail, daAbort, daRetry };

enum TDataEvent : uint8_t {
  deFieldChange,
  deRecordChange,
  deDataSetChange,
  deDataSetScroll,
  deLayoutChange,
  deUpdateRecord,
  deUpdateState,
  deCheckBrowseMode,
  dePropertyChange,
  deFocusControl,
};

enum TResyncModeFlag : uint8_t { rmExact, rmCenter };
using TResyncMode = TSet<TResyncModeFlag>;

enum TLocateOption : uint8_t { loCaseInsensitive, loPartialKey };
using TLocateOptions = TSet<TLocateOption>;

enum TFilterOption : uint8_t { foCaseInsensitive, foNoPartialCompare };
using TFilterOptions = TSet<TFilterOption>;

enum TIndexOption : uint8_t { ixPrimary, ixUnique, ixDescending, ixCaseInsensitive, ixExpression };
using TIndexOptions = TSet<TIndexOption>;

enum TBlobStreamMode : uint8_t { bmRead, bmWrite, bmReadWrite };

enum TParamType : uint8_t { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };

// One record buffer of a dataset; its layout belongs to the descendant that allocated it.
using TRecordBuffer = uint8_t*;

// A record's position as the descendant encodes it (an index key, a record address...); an
// empty vector is the nil bookmark.
using TBookmark = std::vector<uint8_t>;

// Events.  An empty function is "not assigned".
using TDataSetNotifyEvent = std::function<void(TDataSet* dataset)>;
using TDataSetErrorEvent =
    std::function<void(TDataSet* dataset, EDatabaseError& e, TDataAction& action)>;
using TFilterRecordEvent = std::function<void(TDataSet* dataset, bool& accept)>;
using TFieldNotifyEvent = std::function<void(TField* field)>;
using TFieldGetTextEvent = std::function<void(TField* field, std::string& text, bool display_text)>;
using TFieldSetTextEvent = std::function<void(TField* field, const std::string& text)>;
using TDataChangeEvent = std::function<void(TObject* sender, TField* field)>;

}  // namespace cl
