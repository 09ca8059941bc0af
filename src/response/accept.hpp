// Whether a request's Accept header asks for a JSON answer.
//
// Accept (RFC 9110 12.5.1) lists media ranges separated by commas, each
// with optional parameters and a weight "q=" from 0 to 1 (at most three
// decimals; 1 without one). The answer is JSON when the header names
// application/json itself with a weight above 0 and ranks text/html no
// higher. Neither application/* nor */* names it: a browser's navigation
// and fetch()'s default ("*/*") keep the page. text/html ranks as the most
// specific range that matches it: text/html, else text/*, else */*, else 0
// (not acceptable). Of several ranges of one kind the first counts.
// Letters are compared without regard to case; parameters other than q
// are ignored; an element that can't be read (a bad weight) is skipped.
// One pass, no allocation, whatever the header holds.
#pragma once

#include <string_view>

namespace veltrano {

bool PrefersJson(std::string_view accept);

}  // namespace veltrano
