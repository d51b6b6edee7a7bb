#pragma once

// How digests appear in the program's words: the 32 lowercase hex digits of
// a result line, and the message that names the crypto service's call that
// failed ("MD5_Update failed: " + the service's text + "\n").

#include <string>

#include "platform/Md5.h"

namespace RazaDedeZuzev {

std::string digestAsHex(const platform::Md5Digest& digest);

void reportDigestFailure(const platform::DigestError& error);

}  // namespace RazaDedeZuzev
