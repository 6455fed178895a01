#pragma once

#include <stdexcept>
#include <string>

// The root of the program's own errors: the audio engine raises it, the tag
// containers' EConvertError and the codecs' EAPEException derive from it,
// and the app core raises it for settings and conversion errors. It carries
// only its message (texts in platform/messages.h).
class EAuException : public std::runtime_error {
 public:
  explicit EAuException(const std::string& Message) : std::runtime_error(Message) {}
};
