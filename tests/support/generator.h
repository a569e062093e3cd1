// A small deterministic generator (splitmix64), so that generated test tables are the same on
// every platform.
#pragma once

#include <cstdint>

namespace testing_support {

class Generator {
 public:
  explicit Generator(std::uint64_t seed) : state_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (state_ += 0x9e3779b97f4a7c15u);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9u;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebu;
    return z ^ (z >> 31);
  }
  // A number in [0, n).
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint64_t>(n)); }
  // True with the given chance, in percent.
  bool chance(int percent) { return below(100) < percent; }
  // A decimal digit character.
  char digit() { return static_cast<char>('0' + below(10)); }

 private:
  std::uint64_t state_;
};

}  // namespace testing_support
