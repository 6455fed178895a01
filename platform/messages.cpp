#include "platform/messages.h"

std::string TMessageArg::Text(int Width, bool ZeroPad) const {
  std::string text;
  if (const auto* number = std::get_if<int64_t>(&FValue)) {
    const bool negative = *number < 0;
    text = std::to_string(negative ? -static_cast<uint64_t>(*number) : static_cast<uint64_t>(*number));
    if (ZeroPad && static_cast<int>(text.size()) + (negative ? 1 : 0) < Width)
      text.insert(0, static_cast<std::size_t>(Width - static_cast<int>(text.size()) - (negative ? 1 : 0)), '0');
    if (negative) text.insert(0, 1, '-');
  } else {
    text = std::get<std::string_view>(FValue);
  }
  if (static_cast<int>(text.size()) < Width) text.insert(0, static_cast<std::size_t>(Width) - text.size(), ' ');
  return text;
}

std::string FormatMessage(std::string_view Pattern, std::initializer_list<TMessageArg> Args) {
  std::string out;
  out.reserve(Pattern.size() + 32);
  const TMessageArg* next = Args.begin();
  for (std::size_t i = 0; i < Pattern.size(); ++i) {
    const char c = Pattern[i];
    if (c != '%' || i + 1 >= Pattern.size()) {
      out += c;
      continue;
    }
    if (Pattern[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    // %[0][width](s|d)
    std::size_t j = i + 1;
    const bool zeroPad = Pattern[j] == '0';
    if (zeroPad) ++j;
    int width = 0;
    while (j < Pattern.size() && Pattern[j] >= '0' && Pattern[j] <= '9' && width < 100) width = width * 10 + (Pattern[j++] - '0');
    if (j >= Pattern.size() || (Pattern[j] != 's' && Pattern[j] != 'd')) {
      out += c;
      continue;
    }
    if (next != Args.end()) out += (next++)->Text(width, zeroPad);
    i = j;
  }
  return out;
}
