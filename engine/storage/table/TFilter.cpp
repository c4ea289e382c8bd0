#include "engine/storage/table/TFilter.h"

#include <cstring>
#include <string>

#include "classlib/rtl/Coding.h"

namespace tessera {

void TFilter::SetExpression(ExpressionNode* tree, bool owns) {
  ReleaseExpression();
  expression_ = tree;
  owns_expression_ = owns;
}

void TFilter::ReleaseExpression() {
  if (owns_expression_) delete expression_;
  expression_ = nullptr;
  owns_expression_ = false;
}

namespace {

// The operator as a filter text writes it, for the checker's messages.
const char* OperatorText(uint32_t code) {
  switch (code) {
    case kOpIsNull:
      return "= NULL";
    case kOpIsNotNull:
      return "<> NULL";
    case kOpEqual:
      return "=";
    case kOpNotEqual:
      return "<>";
    case kOpGreater:
      return ">";
    case kOpLess:
      return "<";
    case kOpGreaterEqual:
      return ">=";
    case kOpLessEqual:
      return "<=";
    case kOpNot:
      return "NOT";
    case kOpAnd:
      return "AND";
    case kOpOr:
      return "OR";
    default:
      return "?";
  }
}

class BufferDecoder {
 public:
  BufferDecoder(std::span<const uint8_t> bytes, const TFilterFieldResolver& resolve)
      : bytes_(bytes), resolve_(resolve) {}

  ExpressionNodePtr Decode() {
    if (bytes_.size() < kFilterBufferHeaderSize) return nullptr;
    const size_t total = cl::GetU16LE(&bytes_[2]);
    nodes_ = cl::GetU16LE(&bytes_[6]);
    literals_ = cl::GetU16LE(&bytes_[8]);
    if (total > bytes_.size() || total < kFilterBufferHeaderSize) return nullptr;
    if (cl::GetU16LE(&bytes_[4]) != 0xFFFF) return nullptr;
    if (nodes_ < kFilterBufferHeaderSize || literals_ < nodes_ || literals_ > total) {
      return nullptr;
    }
    end_ = total;
    seen_.assign(literals_ - nodes_, false);
    return Node(0);
  }

 private:
  uint16_t U16(size_t at) const { return cl::GetU16LE(&bytes_[at]); }

  // The node at `offset` of the node area; nullptr when it lies outside, was reached before
  // (a cycle or a shared node) or is malformed.
  ExpressionNodePtr Node(uint16_t offset) {
    const size_t at = nodes_ + size_t{offset};
    if (at + kFilterNodeSize > literals_ || seen_[offset]) return nullptr;
    seen_[offset] = true;
    const uint32_t kind = cl::GetU32LE(&bytes_[at]);
    auto node = std::make_unique<ExpressionNode>();
    node->code = cl::GetU32LE(&bytes_[at + 4]);
    if (kind != kFilterNodeField && kind != kFilterNodeConstant)
      node->text = OperatorText(node->code);
    switch (kind) {
      case kFilterNodeUnary:
        node->kind = kNodeUnary;
        return Operand(U16(at + 8), node->first) ? std::move(node) : nullptr;
      case kFilterNodeBinary:
        node->kind = kNodeBinary;
        if (!Operand(U16(at + 8), node->first) || !Operand(U16(at + 10), node->second)) {
          return nullptr;
        }
        return node;
      case kFilterNodeCompare:
        node->kind = kNodePrefixCompare;
        node->case_insensitive = U16(at + 8) != 0 ? 1 : 0;
        node->prefix_length = static_cast<uint8_t>(U16(at + 10) & 0xFF);
        if (!Operand(U16(at + 12), node->first) || !Operand(U16(at + 14), node->second)) {
          return nullptr;
        }
        if (node->first->kind != kNodeColumn || node->second->kind != kNodeConstant) {
          return nullptr;
        }
        return node;
      case kFilterNodeField:
        return Field(U16(at + 10), std::move(node));
      case kFilterNodeConstant:
        return Constant(U16(at + 8), U16(at + 10), U16(at + 12), std::move(node));
      default:
        return nullptr;
    }
  }

  // An operand must be present: 0 is the root, never an operand.
  bool Operand(uint16_t offset, ExpressionNodePtr& slot) {
    if (offset == 0) return false;
    slot = Node(offset);
    return slot != nullptr;
  }

  ExpressionNodePtr Field(uint16_t name_offset, ExpressionNodePtr node) {
    const size_t at = literals_ + size_t{name_offset};
    if (at >= end_) return nullptr;
    const void* nul = std::memchr(&bytes_[at], 0, end_ - at);
    if (nul == nullptr) return nullptr;
    const size_t length = static_cast<size_t>(static_cast<const uint8_t*>(nul) - &bytes_[at]);
    if (length == 0 || length > kMaxNodeTextLength) return nullptr;
    node->kind = kNodeColumn;
    node->column_name.assign(reinterpret_cast<const char*>(&bytes_[at]), length);
    node->text = node->column_name;
    resolve_(*node);
    return node;
  }

  ExpressionNodePtr Constant(uint16_t type, uint16_t size, uint16_t value_offset,
                             ExpressionNodePtr node) {
    node->kind = kNodeConstant;
    node->code = 0;
    if (type == kExprTypeString && size == 1) {
      node->is_null = 1;
      return node;
    }
    switch (type) {
      case kExprTypeString:
      case kExprTypeDate:
      case kExprTypeBoolean:
      case kExprTypeInt16:
      case kExprTypeInt32:
      case kExprTypeFloat:
      case kExprTypeMoney:
      case kExprTypeTime:
      case kExprTypeTimestamp:
      case kExprTypeWord:
        break;
      default:
        return nullptr;
    }
    const size_t at = literals_ + size_t{value_offset};
    // A string keeps room for its terminator in the value area.
    const size_t room = type == kExprTypeString ? kMaxStringValueLength : kValueAreaSize;
    if (size == 0 || size > room || at + size > end_) return nullptr;
    std::memcpy(node->value.data(), &bytes_[at], size);
    node->type = static_cast<uint8_t>(type);
    node->size = type == kExprTypeString ? static_cast<uint8_t>(node->StringValue().size() + 1)
                                         : static_cast<uint8_t>(size);
    return node;
  }

  std::span<const uint8_t> bytes_;
  const TFilterFieldResolver& resolve_;
  size_t nodes_ = 0;
  size_t literals_ = 0;
  size_t end_ = 0;
  std::vector<bool> seen_;
};

}  // namespace

ExpressionNodePtr DecodeFilterBuffer(std::span<const uint8_t> buffer,
                                     const TFilterFieldResolver& resolve) {
  return BufferDecoder(buffer, resolve).Decode();
}

}  // namespace tessera
