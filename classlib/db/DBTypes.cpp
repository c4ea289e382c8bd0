#include "classlib/db/DBTypes.h"

namespace cl {
namespace {

constexpr const char* kFieldTypeNames[kFieldTypeCount] = {
    "ftUnknown", "ftString",      "ftSmallint", "ftInteger", "ftWord", "ftBoolean",
    "ftFloat",   "ftCurrency",    "ftBCD",      "ftDate",    "ftTime", "ftDateTime",
    "ftBytes",   "ftVarBytes",    "ftAutoInc",  "ftBlob",    "ftMemo", "ftGraphic",
    "ftFmtMemo", "ftTypedBinary", "ftCursor"};

constexpr const char* kFieldKindNames[] = {"fkData", "fkCalculated", "fkLookup", "fkInternalCalc"};

}  // namespace

const char* FieldTypeName(TFieldType type) {
  return type < kFieldTypeCount ? kFieldTypeNames[type] : kFieldTypeNames[ftUnknown];
}

const char* FieldKindName(TFieldKind kind) {
  return kind <= fkInternalCalc ? kFieldKindNames[kind] : kFieldKindNames[fkData];
}

}  // namespace cl
