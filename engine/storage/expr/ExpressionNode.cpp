#include "engine/storage/expr/ExpressionNode.h"

#include <cstring>
#include <utility>
#include <vector>

#include "classlib/rtl/Coding.h"

namespace tessera {

std::string_view ExpressionNodeFields::StringValue() const {
  const char* p = reinterpret_cast<const char*>(value.data());
  const void* nul = std::memchr(p, 0, value.size());
  size_t n = nul ? static_cast<size_t>(static_cast<const char*>(nul) - p) : value.size();
  return std::string_view(p, n);
}

void ExpressionNodeFields::SetString(std::string_view s) {
  size_t n = s.size() < kMaxStringValueLength ? s.size() : kMaxStringValueLength;
  std::memcpy(value.data(), s.data(), n);
  value[n] = 0;
}

int16_t ExpressionNodeFields::Int16Value() const { return cl::GetI16LE(value.data()); }
void ExpressionNodeFields::SetInt16(int16_t v) { cl::PutI16LE(value.data(), v); }
uint16_t ExpressionNodeFields::WordValue() const { return cl::GetU16LE(value.data()); }
void ExpressionNodeFields::SetWord(uint16_t v) { cl::PutU16LE(value.data(), v); }
int32_t ExpressionNodeFields::Int32Value() const { return cl::GetI32LE(value.data()); }
void ExpressionNodeFields::SetInt32(int32_t v) { cl::PutI32LE(value.data(), v); }
uint32_t ExpressionNodeFields::UInt32Value() const { return cl::GetU32LE(value.data()); }
void ExpressionNodeFields::SetUInt32(uint32_t v) { cl::PutU32LE(value.data(), v); }
int64_t ExpressionNodeFields::Int64Value() const { return cl::GetI64LE(value.data()); }
void ExpressionNodeFields::SetInt64(int64_t v) { cl::PutI64LE(value.data(), v); }
double ExpressionNodeFields::FloatValue() const { return cl::GetF64LE(value.data()); }
void ExpressionNodeFields::SetFloat(double v) { cl::PutF64LE(value.data(), v); }

ExpressionNode::~ExpressionNode() {
  // Detach the subtrees onto a worklist so that each node is destroyed with no children left.
  std::vector<ExpressionNodePtr> pending;
  if (first) pending.push_back(std::move(first));
  if (second) pending.push_back(std::move(second));
  if (next) pending.push_back(std::move(next));
  while (!pending.empty()) {
    ExpressionNodePtr node = std::move(pending.back());
    pending.pop_back();
    if (node->first) pending.push_back(std::move(node->first));
    if (node->second) pending.push_back(std::move(node->second));
    if (node->next) pending.push_back(std::move(node->next));
  }
}

ExpressionNodePtr CopyExpressionTree(const ExpressionNode* node) {
  if (node == nullptr) return nullptr;
  auto root = std::make_unique<ExpressionNode>();
  // Each entry: a source node and the copy whose fields and children are still to be filled.
  std::vector<std::pair<const ExpressionNode*, ExpressionNode*>> pending;
  pending.emplace_back(node, root.get());
  while (!pending.empty()) {
    auto [from, to] = pending.back();
    pending.pop_back();
    to->Fields() = from->Fields();
    if (from->first) {
      to->first = std::make_unique<ExpressionNode>();
      pending.emplace_back(from->first.get(), to->first.get());
    }
    if (from->second) {
      to->second = std::make_unique<ExpressionNode>();
      pending.emplace_back(from->second.get(), to->second.get());
    }
    if (from->next) {
      to->next = std::make_unique<ExpressionNode>();
      pending.emplace_back(from->next.get(), to->next.get());
    }
  }
  return root;
}

ExpressionNodePtr MakeExpressionNode(uint32_t kind, uint32_t code, std::string_view text,
                                     uint8_t type) {
  auto node = std::make_unique<ExpressionNode>();
  node->kind = kind;
  node->code = code;
  node->text = std::string(text.substr(0, kMaxNodeTextLength));
  node->type = type;
  node->size = type == kExprTypeNone ? 0 : ValueSizeOfType(type);
  return node;
}

void FreeExpressionTree(ExpressionNodePtr& root) { root.reset(); }

void FreeExpression(ExpressionNodePtr& root) { root.reset(); }

uint8_t ValueSizeOfType(uint8_t type) {
  switch (type) {
    case kExprTypeBoolean:
    case kExprTypeInt16:
    case kExprTypeWord:
      return 2;
    case kExprTypeDate:
    case kExprTypeInt32:
    case kExprTypeTime:
    case kExprTypeBlob:
      return 4;
    case kExprTypeFloat:
    case kExprTypeMoney:
    case kExprTypeTimestamp:
      return 8;
    default:
      return static_cast<uint8_t>(kValueAreaSize);
  }
}

}  // namespace tessera
