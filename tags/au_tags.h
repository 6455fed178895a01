// The keyed tag store every tag format derives from. Keys are fixed by the
// constructor of the format class and kept sorted without regard to case;
// each key holds one TagValue.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tags/persistent.h"
#include "tags/tag_value.h"

// The platform's invalid file handle.
inline constexpr int kInvalidFileHandle = -1;

class TAuTags : public TPersistent {
 public:
  TAuTags() = default;
  TAuTags(const TAuTags&) = delete;
  TAuTags& operator=(const TAuTags&) = delete;

  std::string ClassName() const override { return "TAuTags"; }

  int Count() const { return static_cast<int>(Values.size()); }
  // Key at Index of the sorted list; empty text outside 0..Count-1.
  std::string KeyAt(int Index) const;
  // Whether Key (compared without regard to case) is one of the container's keys.
  bool HasKey(std::string_view Key) const { return IndexOf(Key) < Values.size(); }

  // A copy of the key's value; null for a key that is not registered.
  TagValue GetValue(std::string_view Key) const;
  // Stores Value under a registered key; an unknown key or an equal value
  // changes nothing, any other store clears Empty.
  void SetValue(std::string_view Key, const TagValue& Value);

  // Integer: the number; text: the number when the whole text is one, else 0.
  std::int64_t GetInteger(std::string_view Key) const;
  // Integer: decimal text; text: converted to Windows-1252.
  std::string GetString(std::string_view Key) const;
  // Integer: decimal text; text: as UTF-16.
  std::u16string GetWideString(std::string_view Key) const;

  // Registers Key with a copy of Initial. False only for an empty key; a key
  // already present keeps its value.
  bool AddKey(std::string_view Key, const TagValue& Initial = TagValue());

  void Clear();
  bool Empty() const { return FEmpty; }

  // A tag container Source: Clear, then every key of Source that this
  // container also has is copied by SetValue.
  void Assign(const TPersistent* Source) override;
  // A tag container Dest: Dest is cleared and receives this container's keys.
  void AssignTo(TPersistent* Dest) const override;

  // The file operations of a format. FileHandle is an open file descriptor;
  // they report failure by returning false and never raise for file errors.
  virtual bool HasTag(int FileHandle);
  virtual bool ReadFromFile(int FileHandle);
  virtual bool WriteToFile(int FileHandle, bool Unicode);

 private:
  // Position of Key in Values, or of the place it would be inserted.
  std::size_t LowerBound(std::string_view Key) const;
  // Position of Key in Values, or Values.size() when it is not registered.
  std::size_t IndexOf(std::string_view Key) const;

  std::vector<std::pair<std::string, TagValue>> Values;
  bool FEmpty = true;
};
