#include "text/address.hpp"

namespace veltrano {

namespace {

// RFC 5322 3.2.3 atext: a letter, a digit, or one of the listed specials.
bool IsAtext(char c) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
  return std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

// Atoms of atext joined by single dots: no dot first, last or twice in a row.
bool IsDotAtom(std::string_view text) {
  if (text.empty() || text.front() == '.' || text.back() == '.') return false;
  char previous = '\0';
  for (char c : text) {
    if (c == '.' ? previous == '.' : !IsAtext(c)) return false;
    previous = c;
  }
  return true;
}

}  // namespace

bool IsPlainAddress(std::string_view address) {
  if (IsOverlongAddress(address)) return false;
  const std::size_t at = address.find('@');
  if (at == std::string_view::npos) return false;
  // A second '@' is no atext, so the domain's check refuses it.
  return IsDotAtom(address.substr(0, at)) && IsDotAtom(address.substr(at + 1));
}

bool RoutesOn(std::string_view plainAddress) {
  return plainAddress.substr(0, plainAddress.find('@')).find_first_of("%!") !=
         std::string_view::npos;
}

bool IsUsableSender(std::string_view address) {
  return address.empty() || IsPlainAddress(address);
}

bool IsUsableReplyTo(std::string_view address) {
  return IsPlainAddress(address) && !RoutesOn(address);
}

bool IsOverlongAddress(std::string_view address) {
  if (address.size() > kMaxAddressLength) return true;
  const std::size_t at = address.rfind('@');
  return (at == std::string_view::npos ? address.size() : at) > kMaxLocalPartLength;
}

bool IsUnsafeAddress(std::string_view address) {
  for (char c : address) {
    unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20 || b >= 0x7F || c == '<' || c == '>') return true;
  }
  return false;
}

}  // namespace veltrano
