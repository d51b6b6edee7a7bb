#pragma once

// The line with which the store modes name a record whose copy failed, after
// the copy command's own message about the cause.

#include <string>

#include "app/Logger.h"
#include "copy/TextEncoding.h"

namespace RazaDedeZuzev {

// what + ": (from " + source + ", to " + destination + ")\n", paths in UTF-8.
inline void reportCopyFailure(const char* what, std::u16string_view source,
                              std::u16string_view destination) {
  Logger::GetInstance() << what << ": (from " << toMultiByteString(source, kCodePageUtf8)
                        << ", to " << toMultiByteString(destination, kCodePageUtf8) << ")\n";
}

}  // namespace RazaDedeZuzev
