// What a mail address may look like where a visitor supplies it.
//
// A plain address is one mailbox written the simplest way: local@domain,
// both parts dot-atoms (RFC 5322 3.2.3: runs of letters, digits and
// ! # $ % & ' * + - / = ? ^ _ ` { | } ~, joined by single dots), the local
// part at most kMaxLocalPartLength octets and the whole at most
// kMaxAddressLength. Quoted local parts, comments, display names, lists,
// source routes, domain literals, white space, a second '@' and bytes of
// 0x80 or above are not plain: mail servers read such text in ways a simple
// comparison of the part after the '@' can't foresee (they relay
// "x@evil"@dom to evil). Octets are counted; nothing here depends on the
// locale.
//
// Wherever an address is sent, whoever supplied it, it must also be safe:
// IsUnsafeAddress finds the bytes that would let it break out of an SMTP
// command or a header line, and those an envelope can't carry: without
// SMTPUTF8 (RFC 6531), which a HELO session never has, an envelope address
// is ASCII. An internationalised domain goes in its ASCII form (xn--...).
#pragma once

#include <cstddef>
#include <string_view>

namespace veltrano {

// RFC 5321 4.5.3.1.1: the longest local part a server must accept.
inline constexpr std::size_t kMaxLocalPartLength = 64;
// RFC 5321 4.5.3.1.3: a path is at most 256 octets, the angle brackets
// around the address included.
inline constexpr std::size_t kMaxAddressLength = 254;

bool IsPlainAddress(std::string_view address);

// True when the local part of a plain address holds '%' or '!': mail
// servers route "x%evil@dom" and "x!evil@dom" on to evil.
bool RoutesOn(std::string_view plainAddress);

// The sender of every mail (MAIL FROM and From): empty (the null sender,
// "MAIL FROM:<>") or one plain address.
bool IsUsableSender(std::string_view address);

// A Reply-To address, where a reader's answer goes: one plain address that
// routes nowhere else.
bool IsUsableReplyTo(std::string_view address);

// True for an address longer than kMaxAddressLength, or whose local part
// (the text before the last '@'; the whole text without one) is longer than
// kMaxLocalPartLength. Such an address makes command and header lines
// longer than servers must take, whatever else it holds.
bool IsOverlongAddress(std::string_view address);

// True for an address that could break out of its command or header line
// (one holding CR, LF, another byte below 0x20, DEL, '<' or '>') or is not
// ASCII (a byte of 0x80 or above).
bool IsUnsafeAddress(std::string_view address);

}  // namespace veltrano
