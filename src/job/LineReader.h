#pragma once

// Reads a job file line by line the way the program has always read it: in
// pieces of at most 1023 bytes (a longer line is handed out in several
// pieces), with CR LF taken as LF as a text-mode stream does, so that files
// with either line end read alike. A piece keeps its LF; the caller cuts it.

#include <cstddef>
#include <string>
#include <vector>

#include "platform/File.h"

namespace RazaDedeZuzev {

class LineReader {
 public:
  static constexpr std::size_t kMaxPiece = 1023;  // a 1024-byte line buffer

  // Reads from `file`, which the caller keeps open for the reader's life.
  explicit LineReader(platform::FileHandle file);

  // The next piece, or false at the end of the file or on a read error.
  bool NextPiece(std::string& piece);

 private:
  bool refill();

  platform::FileHandle file;
  std::vector<char> raw;
  std::vector<char> text;  // raw bytes with every CR LF turned into LF
  std::size_t position = 0;
  bool heldBackCr = false;  // a CR at the end of a chunk, its LF not yet seen
  bool ended = false;
};

}  // namespace RazaDedeZuzev
