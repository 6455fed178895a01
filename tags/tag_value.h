// One value of a tag container: nothing, an integer, narrow (Windows-1252)
// text or wide (UTF-16) text.
#pragma once

#include <concepts>
#include <cstdint>
#include <string>
#include <variant>

class TagValue {
 public:
  enum class TKind { Null, Integer, Narrow, Wide };

  TagValue() = default;
  template <std::integral T>
    requires(!std::same_as<T, bool> && !std::same_as<T, char> && !std::same_as<T, char16_t>)
  TagValue(T Number) : FValue(static_cast<std::int64_t>(Number)) {}
  TagValue(std::string Narrow) : FValue(std::move(Narrow)) {}
  TagValue(const char* Narrow) : FValue(std::string(Narrow)) {}
  TagValue(std::u16string Wide) : FValue(std::move(Wide)) {}
  TagValue(const char16_t* Wide) : FValue(std::u16string(Wide)) {}

  TKind Kind() const { return static_cast<TKind>(FValue.index()); }
  bool IsNull() const { return Kind() == TKind::Null; }

  // The content of the matching kind; the others yield 0 or empty text.
  std::int64_t AsInteger() const;
  const std::string& AsNarrow() const;
  const std::u16string& AsWide() const;

  // Nulls are equal to each other only; integers compare by number; texts
  // compare by their characters whatever their width; an integer never
  // equals a text.
  friend bool operator==(const TagValue& A, const TagValue& B);

 private:
  std::variant<std::monostate, std::int64_t, std::string, std::u16string> FValue;
};
