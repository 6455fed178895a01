#include "tags/tag_value.h"

#include "platform/text_codec.h"

std::int64_t TagValue::AsInteger() const {
  const auto* number = std::get_if<std::int64_t>(&FValue);
  return number != nullptr ? *number : 0;
}

const std::string& TagValue::AsNarrow() const {
  static const std::string empty;
  const auto* text = std::get_if<std::string>(&FValue);
  return text != nullptr ? *text : empty;
}

const std::u16string& TagValue::AsWide() const {
  static const std::u16string empty;
  const auto* text = std::get_if<std::u16string>(&FValue);
  return text != nullptr ? *text : empty;
}

bool operator==(const TagValue& A, const TagValue& B) {
  using K = TagValue::TKind;
  const K a = A.Kind();
  const K b = B.Kind();
  if (a == K::Null || b == K::Null) return a == b;
  if (a == K::Integer || b == K::Integer) return a == b && A.AsInteger() == B.AsInteger();
  if (a == b) return a == K::Narrow ? A.AsNarrow() == B.AsNarrow() : A.AsWide() == B.AsWide();
  const std::u16string& wide = a == K::Wide ? A.AsWide() : B.AsWide();
  const std::string& narrow = a == K::Narrow ? A.AsNarrow() : B.AsNarrow();
  return platform::Cp1252ToUtf16(narrow) == wide;
}
