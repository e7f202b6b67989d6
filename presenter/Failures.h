#pragma once

#include "protocol/Messages.h"

// The error codes a command can fail with, each explained in docs/PROTOCOL.md.
namespace orbilatch::presenter::code {

inline constexpr const char* presentationEnded = protocol::presentationEnded.data();
inline constexpr const char* noReport = "NO_REPORT";
inline constexpr const char* atLastSlide = "AT_LAST_SLIDE";
inline constexpr const char* atFirstSlide = "AT_FIRST_SLIDE";
inline constexpr const char* notConfirmed = "NOT_CONFIRMED";
inline constexpr const char* notSupported = "NOT_SUPPORTED";
inline constexpr const char* programGone = "PROGRAM_GONE";
inline constexpr const char* focusElsewhere = "FOCUS_ELSEWHERE";
inline constexpr const char* notPaired = "NOT_PAIRED";
inline constexpr const char* keyInjectionFailed = "KEY_INJECTION_FAILED";
inline constexpr const char* keyNotOnKeyboard = "KEY_NOT_ON_KEYBOARD";
inline constexpr const char* unknownCommand = "UNKNOWN_COMMAND";

}  // namespace orbilatch::presenter::code
