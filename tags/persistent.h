// The copyable-object base of the tag containers: Assign/AssignTo with the
// conversion error for objects that cannot be copied into each other.
#pragma once

#include <stdexcept>
#include <string>

// Raised when a value cannot be converted or an object cannot be copied into
// another one.
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// "Cannot assign a %s to a %s": source class name (or nil), destination class name.
inline constexpr const char* kCannotAssignMessage = "Cannot assign a %s to a %s";

class TPersistent {
 public:
  virtual ~TPersistent() = default;

  virtual std::string ClassName() const = 0;

  // Copies Source into this object. The base asks Source to copy itself
  // (AssignTo); a null Source raises the conversion error.
  virtual void Assign(const TPersistent* Source);

  // Copies this object into Dest. The base cannot, so it raises the
  // conversion error naming this class and Dest's.
  virtual void AssignTo(TPersistent* Dest) const;

 protected:
  // The conversion error for copying Source (may be null) into Dest.
  [[noreturn]] static void AssignError(const TPersistent* Source, const TPersistent& Dest);
};
