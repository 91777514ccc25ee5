// What the error box says for an error: portable, so that the rule is tested on every platform.
#pragma once

#include <string>

#include "net/errors.h"

namespace vanto::app {

// The error's message, or the message of the innermost error it wraps when that one is not empty;
// then WithClosingPeriod.
std::u16string ErrorBoxText(const vanto::Error& error);

// Appends "." to a non-empty text whose last UTF-16 unit lies above "." (U+002E): letters,
// digits, Hangul and ":" get one; ".", a space, "!", ",", "-", ")" and line breaks do not.
std::u16string WithClosingPeriod(std::u16string text);

}  // namespace vanto::app
