// corpora.h - the benchmark corpora of the codec benchmarks: script-like text and
// mixed binary (level-like records, a noisy waveform and stretches of text),
// and a second pair built differently (cue-sheet text, fixed-size records).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
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

// A second pair, built differently, so that no figure is tuned to one
// corpus: cue-sheet script text (numbered cues with speakers, quoted
// lines of invented dialogue, stage directions and timing values) ...
inline Bytes CueScript(std::size_t n, unsigned seed) {
  static const char* const kSpeakers[] = {"WARDEN_OSK", "PILOT_MIRA", "CLERK", "TOWER", "OLD_FERRYMAN", "NARRATOR"};
  static const char* const kWords[] = {"the", "gate", "is", "shut", "tonight", "we", "wait", "for", "tide", "and",
                                       "lanterns", "north", "ridge", "signal", "again", "no", "one", "crossed",
                                       "bring", "rope", "salt", "quiet", "now", "listen", "bells", "far"};
  static const char* const kActions[] = {"cam.pan", "sfx.play", "light.fade", "actor.walk", "wait", "ui.hint"};
  std::mt19937 rng(seed);
  std::uniform_int_distribution<int> pick(0, 1 << 20);
  Bytes out;
  out.reserve(n + 256);
  auto put = [&out](const std::string& text) { out.insert(out.end(), text.begin(), text.end()); };
  for (unsigned cue = 1; out.size() < n; ++cue) {
    put("[cue " + std::to_string(cue) + "] at " + std::to_string(pick(rng) % 600) + "." +
        std::to_string(pick(rng) % 100) + "s\r\n");
    const int lines = 1 + pick(rng) % 4;
    for (int l = 0; l < lines; ++l) {
      put(std::string("  ") + kSpeakers[pick(rng) % std::size(kSpeakers)] + ": \"");
      const int words = 3 + pick(rng) % 9;
      for (int w = 0; w < words; ++w) put(std::string(w ? " " : "") + kWords[pick(rng) % std::size(kWords)]);
      put(pick(rng) % 3 ? ".\"\r\n" : "?\"\r\n");
    }
    if (pick(rng) % 2)
      put(std::string("  > ") + kActions[pick(rng) % std::size(kActions)] + "(" + std::to_string(pick(rng) % 4096) +
          ", " + std::to_string((pick(rng) % 200) / 10.0).substr(0, 4) + ")\r\n");
  }
  out.resize(n);
  return out;
}

// ... and a binary file of fixed 48-byte records (ids, float positions,
// flags, a short zero-padded name) with a string table and a block of
// 16-bit samples between runs of records.
inline Bytes RecordFile(std::size_t n, unsigned seed) {
  static const char* const kNames[] = {"crate", "barrel", "lamp_post", "bench", "sign_a", "sign_b", "rock_l"};
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(n + 65536);
  uint32_t id = 1000;
  while (out.size() < n) {
    const unsigned kind = rng() % 4;
    if (kind < 2) {
      const unsigned count = 8 + rng() % 200;
      float x = float(rng() % 4000), y = float(rng() % 4000);
      for (unsigned r = 0; r < count; ++r) {
        unsigned char record[48] = {};
        id += 1 + rng() % 3;
        x += float(int(rng() % 64) - 32) * 0.25f;
        y += float(int(rng() % 64) - 32) * 0.25f;
        const float z = float(rng() % 8) * 0.5f;
        const uint16_t flags = static_cast<uint16_t>(rng() % 4 == 0 ? 0x8001 : 0x0001);
        std::memcpy(record, &id, 4);
        std::memcpy(record + 4, &x, 4);
        std::memcpy(record + 8, &y, 4);
        std::memcpy(record + 12, &z, 4);
        std::memcpy(record + 16, &flags, 2);
        const char* name = kNames[rng() % std::size(kNames)];
        std::memcpy(record + 20, name, std::strlen(name));
        out.insert(out.end(), record, record + sizeof record);
      }
    } else if (kind == 2) {
      const unsigned count = 16 + rng() % 64;
      for (unsigned s = 0; s < count; ++s) {
        std::string entry = std::string("res/") + kNames[rng() % std::size(kNames)] + "_" + std::to_string(rng() % 50) +
                            (rng() % 2 ? ".mdl" : ".tex");
        out.insert(out.end(), entry.begin(), entry.end());
        out.push_back(0);
      }
    } else {
      const unsigned count = 256 + rng() % 2048;
      double phase = 0, step = 0.01 + (rng() % 100) * 0.002;
      for (unsigned s = 0; s < count; ++s) {
        phase += step;
        const int16_t v = static_cast<int16_t>(int((phase - int(phase)) * 20000) - 10000 + int(rng() % 256) - 128);
        out.push_back(static_cast<unsigned char>(v & 0xFF));
        out.push_back(static_cast<unsigned char>(v >> 8));
      }
    }
  }
  out.resize(n);
  return out;
}

}  // namespace corpora
