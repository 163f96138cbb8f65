// The system registry below HKEY_CLASSES_ROOT: a process-wide tree of keys, each with a
// default text value and subkeys. Key names compare without regard to the case of Latin
// letters; "\" separates the parts of a path; subkeys enumerate in name order.
//
// Registering a COM class (activation.h) writes its keys here, as a real registration
// does; a test or host may also write keys of its own (for example broken registrations).
// The calls take and answer what the system's own registry functions do. Texts are UTF-8.
#pragma once

#include <cstdint>

#include "platform/com/types.h"

using LONG = int32_t;

// An open key. Every handle a call hands out is closed with RegCloseKey.
struct RegKeyHandle;
using HKEY = RegKeyHandle*;
// The predefined root; it is always open (closing it does nothing).
extern HKEY const HKEY_CLASSES_ROOT;

constexpr LONG ERROR_SUCCESS = 0;
constexpr LONG ERROR_FILE_NOT_FOUND = 2;
constexpr LONG ERROR_INVALID_HANDLE = 6;
constexpr LONG ERROR_INVALID_PARAMETER = 87;
constexpr LONG ERROR_MORE_DATA = 234;
constexpr LONG ERROR_NO_MORE_ITEMS = 259;

// Opens the key `sub_key` below `key` (null or empty: `key` itself again); *result
// receives a new handle. ERROR_FILE_NOT_FOUND when it does not exist.
LONG RegOpenKey(HKEY key, const char* sub_key, HKEY* result);
// Like RegOpenKey, creating the missing keys on the way.
LONG RegCreateKey(HKEY key, const char* sub_key, HKEY* result);
LONG RegCloseKey(HKEY key);
// The name of the subkey number `index` (from 0) into `name`, a buffer of `name_size`
// bytes, zero-terminated. ERROR_NO_MORE_ITEMS past the last subkey; ERROR_MORE_DATA when
// the name and its terminator do not fit.
LONG RegEnumKey(HKEY key, DWORD index, char* name, DWORD name_size);
// The default value of `sub_key` below `key` (null or empty: `key` itself). With `data`
// null, *data_size receives the size it needs (terminator included); otherwise the value
// is copied into `data` (*data_size bytes) and *data_size receives the size used.
// ERROR_FILE_NOT_FOUND when the key does not exist, ERROR_MORE_DATA when it does not fit.
// A key without a value answers the empty text.
LONG RegQueryValue(HKEY key, const char* sub_key, char* data, LONG* data_size);
// Sets the default value of `sub_key` below `key`, creating the keys on the way.
LONG RegSetValue(HKEY key, const char* sub_key, const char* data);
// Deletes `sub_key` below `key` with everything below it. Handles still open on a
// deleted key stay valid and see the detached keys.
LONG RegDeleteTree(HKEY key, const char* sub_key);

// Number of handles handed out and not yet closed (for leak checks in tests).
int64_t RegOpenHandleCount();
