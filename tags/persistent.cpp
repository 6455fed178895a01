#include "tags/persistent.h"

namespace {

std::string FormatAssignError(const std::string& source, const std::string& dest) {
  std::string message = kCannotAssignMessage;
  const auto first = message.find("%s");
  message.replace(first, 2, source);
  message.replace(message.find("%s", first + source.size()), 2, dest);
  return message;
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
