// The translatable texts of the three windows, keyed as in a language file
// ("MFile.Caption", "tbConvert.Hint", "FormSettings.Caption", ...). The table
// holds the current text of every key; applying a language file replaces each
// text by the file's value, with the current text as the default, so a missing
// file or key leaves the text as it was.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>


inline constexpr const char* kLanguageSection = "Interface";

class TLanguageTable {
 public:
  // Starts with the built-in English texts.
  TLanguageTable();

  // The keys in the order they are applied: the windows' own, then the
  // labels and groups of format settings that the format catalog declares
  // beyond them.
  static const std::vector<std::string>& Keys();
  // The built-in text of a key ("" for unknown keys and for the two message
  // texts, which have none).
  static std::string BuiltIn(std::string_view key);

  const std::string& Text(std::string_view key) const;
  void SetText(std::string_view key, std::string text);

  // Reads every key from the section "Interface" of the file, in key order,
  // with the current text as the default. A missing file changes nothing.
  void Apply(const std::filesystem::path& languageFile);

  // <dir>/<name>.ini
  static std::filesystem::path FileFor(const std::filesystem::path& dir, std::string_view name);

 private:
  std::vector<std::string> texts_;
};

