#pragma once

#include <stdexcept>
#include <string>

// The one exception class of the audio engine; it carries only its message.
class EAuException : public std::runtime_error {
 public:
  explicit EAuException(const std::string& Message) : std::runtime_error(Message) {}
};
