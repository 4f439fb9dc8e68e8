// What a fuzz target asserts: a broken invariant ends the run as a crash, with
// the condition and its place, in the libFuzzer program and the replay alike.
#pragma once

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                \
  do {                                                                                       \
    if (!(condition)) {                                                                      \
      std::fprintf(stderr, "%s:%d: invariant broken: %s\n", __FILE__, __LINE__, #condition); \
      std::abort();                                                                          \
    }                                                                                        \
  } while (0)

// Reads the fuzzer's bytes front to back as the fields of a case; past the end
// every field reads as zero, so any input is a case.
class FuzzInput {
 public:
  FuzzInput(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}

  std::size_t Left() const { return size_ - at_; }

  unsigned long long Take(std::size_t bytes) {
    unsigned long long value = 0;
    for (std::size_t i = 0; i < bytes; ++i) value |= static_cast<unsigned long long>(Byte()) << (8 * i);
    return value;
  }
  unsigned char Byte() { return at_ < size_ ? data_[at_++] : 0; }
  unsigned Le16() { return static_cast<unsigned>(Take(2)); }
  unsigned Le32() { return static_cast<unsigned>(Take(4)); }

  // The next `count` bytes (fewer at the end) as a pointer into the input.
  const unsigned char* Bytes(std::size_t count, std::size_t* got) {
    *got = count < Left() ? count : Left();
    const unsigned char* at = data_ + at_;
    at_ += *got;
    return at;
  }

 private:
  const unsigned char* data_;
  std::size_t size_;
  std::size_t at_ = 0;
};
