#include "job/LineReader.h"

#include <algorithm>
#include <cstring>

namespace RazaDedeZuzev {
namespace {
constexpr std::size_t kChunk = 1 << 16;
}

LineReader::LineReader(platform::FileHandle file) : file(file), raw(kChunk) { text.reserve(kChunk + 1); }

bool LineReader::refill() {
  text.clear();
  position = 0;
  if (ended) return false;
  std::size_t got = 0;
  // A read error ends the file, as the end of the file does.
  if (platform::readFile(file, raw.data(), raw.size(), got)) got = 0;
  if (got == 0) {
    ended = true;
    if (heldBackCr) {  // a CR at the very end of the file stays a CR
      heldBackCr = false;
      text.push_back('\r');
      return true;
    }
    return false;
  }
  const char* in = raw.data();
  const char* end = in + got;
  if (heldBackCr) {
    if (*in != '\n') text.push_back('\r');
    heldBackCr = false;
  }
  // Most files have no CR at all: copy them whole.
  const char* cr = static_cast<const char*>(std::memchr(in, '\r', got));
  if (cr == nullptr) {
    text.insert(text.end(), in, end);
    return true;
  }
  text.insert(text.end(), in, cr);
  for (const char* p = cr; p < end; ++p) {
    if (*p != '\r') {
      text.push_back(*p);
    } else if (p + 1 == end) {
      heldBackCr = true;  // decided by the first byte of the next chunk
    } else if (p[1] != '\n') {
      text.push_back('\r');
    }
  }
  return !text.empty() || refill();
}

bool LineReader::NextPiece(std::string& piece) {
  piece.clear();
  while (piece.size() < kMaxPiece) {
    if (position == text.size() && !refill()) break;
    const std::size_t available = text.size() - position;
    const std::size_t wanted = std::min(available, kMaxPiece - piece.size());
    const char* start = text.data() + position;
    const char* lf = static_cast<const char*>(std::memchr(start, '\n', wanted));
    const std::size_t take = lf != nullptr ? static_cast<std::size_t>(lf - start) + 1 : wanted;
    piece.append(start, take);
    position += take;
    if (lf != nullptr) return true;
  }
  return !piece.empty();
}

}  // namespace RazaDedeZuzev
