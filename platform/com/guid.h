// GUID text conversion and generation, as the system's COM functions do them.
#pragma once

#include <string>

#include "platform/com/types.h"
#include "platform/com/widestring.h"

// Braced, upper-case, 38 characters: "{90F3F42C-0F88-478D-A234-101D4F85F9CA}".
std::string GUIDToString(const GUID& g);
WideString GUIDToWide(const GUID& g);

// Parses braced GUID text (38 characters, hexadecimal in either case). Answers S_OK, or
// CO_E_CLASSSTRING for anything else (wrong length, no braces, bad digits, trailing text);
// on failure `out` is left unchanged.
HRESULT CLSIDFromString(const WideString& text, GUID* out);
HRESULT CLSIDFromString(std::string_view text, GUID* out);

// Parses braced GUID text; raises EOleSysError(CO_E_CLASSSTRING) when malformed.
GUID StringToGUID(std::string_view text);

// A fresh random (version 4) GUID. Answers S_OK, or E_FAIL when the system has no
// randomness to offer.
HRESULT CoCreateGuid(GUID* out);
