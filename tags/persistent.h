// The copyable-object base of the tag containers: Assign/AssignTo with the
// conversion error for objects that cannot be copied into each other.
#pragma once

#include <string>

#include "pipeline/au_exception.h"
#include "platform/messages.h"

// Raised when a value cannot be converted or an object cannot be copied into
// another one (kFmtCannotAssign).
class EConvertError : public EAuException {
 public:
  using EAuException::EAuException;
};


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
