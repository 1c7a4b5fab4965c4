#include "common/file_checksum.h"

namespace zl {
namespace {

// The line buffer of the reader: a piece holds at most kLineBuffer - 1
// characters, ending at a line feed, at the buffer's limit or at the end of
// the file (the behaviour of fgets on a buffer of this size).
constexpr std::size_t kLineBuffer = 2048;

// Reads the next piece into `piece` as a text-mode stream would give it: a
// carriage return directly before a line feed is dropped (also when the two
// would fall on either side of a piece boundary). Returns false at the end of
// the file (or on a read error) with nothing read.
bool ReadPiece(std::FILE* file, std::string* piece) {
  piece->clear();
  while (piece->size() < kLineBuffer - 1) {
    int c = std::getc(file);
    if (c == EOF) break;
    if (c == '\r') {
      const int next = std::getc(file);
      if (next == '\n') {
        c = '\n';
      } else if (next != EOF) {
        std::ungetc(next, file);
      }
    }
    piece->push_back(static_cast<char>(c));
    if (c == '\n') break;
  }
  return !piece->empty();
}

}  // namespace

std::string FileChecksum(std::FILE* file, long start_offset, const DigestState& initial) {
  if (file == nullptr) return std::string();
  const long saved = std::ftell(file);
  if (saved < 0) return std::string();
  if (std::fseek(file, start_offset, SEEK_SET) != 0) {
    std::fseek(file, saved, SEEK_SET);
    return std::string();
  }

  Digest digest(initial);
  std::string piece;
  piece.reserve(kLineBuffer);
  while (ReadPiece(file, &piece)) {
    if (piece[0] != '#') digest.Update(piece);
  }

  // Also clears the end-of-file indicator the read left set.
  std::fseek(file, saved, SEEK_SET);
  return digest.FinishHex();
}

}  // namespace zl
