#include "tags/persistent.h"

namespace {

std::string FormatAssignError(const std::string& source, const std::string& dest) {
  return FormatMessage(kFmtCannotAssign, {source, dest});
}

}  // namespace

void TPersistent::Assign(const TPersistent* Source) {
  if (Source == nullptr) AssignError(nullptr, *this);
  Source->AssignTo(this);
}

void TPersistent::AssignTo(TPersistent* Dest) const {
  throw EConvertError(FormatAssignError(ClassName(), Dest != nullptr ? Dest->ClassName() : "nil"));
}

void TPersistent::AssignError(const TPersistent* Source, const TPersistent& Dest) {
  throw EConvertError(FormatAssignError(Source != nullptr ? Source->ClassName() : "nil", Dest.ClassName()));
}
