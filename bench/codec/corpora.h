// corpora.h - the benchmark corpora of the codec benchmarks: script-like text and
// mixed binary (level-like records, a noisy waveform and stretches of text).
#pragma once

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace corpora {

using Bytes = std::vector<unsigned char>;

inline Bytes ScriptText(std::size_t n, unsigned seed) {
  static const char* const kWords[] = {"intend", "being", "iftally", "phase", "ifnearer", "hatch", "growto",
                                       "motion", "roam", "ai", "else", "{", "}", "done", "keepval", "flags",
                                       "// the lamp cart rolls toward the quay", "1024", "0", "32", "LAMPSTEADY",
                                       "ifodd", "harborchime", "tintfor", "addlampoil", "unmake"};
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(n + 64);
  int indent = 0;
  while (out.size() < n) {
    out.insert(out.end(), static_cast<std::size_t>(indent), '\t');
    const int words = 1 + static_cast<int>(rng() % 6);
    for (int w = 0; w < words; ++w) {
      const std::string word = kWords[rng() % std::size(kWords)];
      out.insert(out.end(), word.begin(), word.end());
      out.push_back(' ');
    }
    out.back() = '\n';
    indent = static_cast<int>(rng() % 4);
  }
  out.resize(n);
  return out;
}

// Level-like records, sound-like noise and stretches of text, one after the other.
inline Bytes MixedBinary(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(n + 8192);
  while (out.size() < n) {
    const std::size_t piece = 512 + rng() % 8192;
    switch (rng() % 3) {
      case 0: {  // records of slowly changing 32-bit fields
        uint32_t x = rng() % 1000;
        for (std::size_t i = 0; i < piece; i += 12) {
          x += rng() % 32;
          const uint32_t fields[3] = {x, x / 3, static_cast<uint32_t>(rng() % 8)};
          const auto* bytes = reinterpret_cast<const unsigned char*>(fields);
          out.insert(out.end(), bytes, bytes + sizeof fields);
        }
        break;
      }
      case 1: {  // a noisy waveform
        int v = 0;
        for (std::size_t i = 0; i < piece; ++i) {
          v = std::clamp(v + static_cast<int>(rng() % 17) - 8, -128, 127);
          out.push_back(static_cast<unsigned char>(v));
        }
        break;
      }
      default: {
        const Bytes text = ScriptText(piece, static_cast<unsigned>(rng()));
        out.insert(out.end(), text.begin(), text.end());
      }
    }
  }
  out.resize(n);
  return out;
}

}  // namespace corpora
