#include "platform/registry_text.h"

#include "platform/machine_registry.h"

namespace velmora {
namespace {

void AppendHexByte(std::string& out, uint8_t byte) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  out += kDigits[byte >> 4];
  out += kDigits[byte & 0x0F];
}

std::string MultiStringToText(std::string_view bytes, const NarrowDecoder& narrowToUtf8) {
  std::string text;
  size_t start = 0;
  while (start < bytes.size()) {
    const size_t end = bytes.find('\0', start);
    if (end == start) break;  // the empty item that ends the list
    const size_t itemEnd = end == std::string_view::npos ? bytes.size() : end;
    text += narrowToUtf8(bytes.substr(start, itemEnd - start));
    text += "\r\n";
    start = itemEnd + 1;
  }
  return text;
}

}  // namespace

std::string RegistryValueToText(uint32_t type, std::string_view bytes,
                                const NarrowDecoder& narrowToUtf8) {
  std::string text;
  switch (type) {
    case kRegSz:
    case kRegExpandSz:
      if (bytes.size() > 1) text = narrowToUtf8(bytes.substr(0, bytes.size() - 1));
      break;
    case kRegDword:
      for (size_t i = bytes.size(); i-- > 0;) AppendHexByte(text, static_cast<uint8_t>(bytes[i]));
      break;
    case kRegMultiSz:
      text = MultiStringToText(bytes, narrowToUtf8);
      break;
    default:
      for (char byte : bytes) {
        AppendHexByte(text, static_cast<uint8_t>(byte));
        text += ' ';
      }
      break;
  }
  return text;
}

}  // namespace velmora
