// Mail bodies, from template text to the bytes of the SMTP DATA phase.
//
// PrepareMessageBody expands the MSGBODY text (placeholders, no escaping)
// and gives every line end as LF, whatever a submitted value brought: CR LF,
// a lone CR and LF all become LF. That is the form PGP encrypts and the form
// every other step may still look at.
//
// PrepareBodyForWire is the one conversion to the wire. Every body, whether
// the main body, the address-file copy, a response body or PGP armour,
// passes through it exactly once, when the SMTP client sends it: CR LF, a
// lone LF and a lone CR each become CR LF, and every line that begins with
// "." gets one more "." (first and last lines too), so no line of a body
// can end the DATA phase early or lose its dot at the server. No line end is
// added at the end; the client frames the body. There are no length limits
// here: the expansion's own limit applies before.
#pragma once

#include <string>
#include <string_view>

#include "driver/request_context.hpp"

namespace veltrano {

std::string PrepareMessageBody(const RequestContext& ctx, std::string_view body);

std::string PrepareBodyForWire(std::string_view body);

// Every CR LF and every lone CR in `text` as LF.
std::string NormalizeLineEnds(std::string_view text);

}  // namespace veltrano
