#include "store/content_hash.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/memory_file.h"

namespace phonebook {
namespace {

std::uint64_t hashInPieces(const std::string& bytes, std::size_t piece) {
  ContentHash hash;
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    hash.add(bytes.data() + at, std::min(piece, bytes.size() - at));
  }
  return hash.value();
}

// The hash tells the file's bytes whatever pieces the reads brought them
// in, and tells apart files that differ in one byte, its place or its
// length.
TEST(ContentHashTest, SameBytesInAnyPiecesAgreeAndAnyChangeDiffers) {
  std::string book;
  for (int i = 0; i < 40; ++i)
    book += "Kim" + std::to_string(i) + " 010-" + std::to_string(i) + "\r\n";
  const std::uint64_t whole = hashInPieces(book, book.size());
  for (std::size_t piece : {1, 3, 31, 32, 33, 64, 100}) {
    EXPECT_EQ(hashInPieces(book, piece), whole) << piece;
  }
  std::string swapped = book;
  std::swap(swapped[5], swapped[6]);
  for (const std::string& other : {swapped, book + " ", book.substr(1), std::string()}) {
    EXPECT_NE(hashInPieces(other, 7), whole);
  }
  // A bit changed anywhere: every byte of every stripe counts.
  for (std::size_t at = 0; at < book.size(); ++at) {
    std::string flipped = book;
    flipped[at] ^= 1;
    EXPECT_NE(hashInPieces(flipped, 7), whole) << at;
  }
}

// A second reading from the start (a file taken for UTF-8 on a guess) is
// hashed anew.
TEST(ContentHashTest, AHashingFileHashesWhatWasReadSinceTheStart) {
  testing::MemoryFile file("Ahn 1\r\nLee 2\r\n");
  HashingFile hashing(file);
  char buffer[64];
  ASSERT_EQ(hashing.read(buffer, 5), 5);
  ASSERT_TRUE(hashing.rewind());
  ASSERT_EQ(hashing.read(buffer, sizeof buffer), 14);
  EXPECT_EQ(hashing.hash(), hashInPieces("Ahn 1\r\nLee 2\r\n", 14));
}

}  // namespace
}  // namespace phonebook
