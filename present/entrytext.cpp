#include "entrytext.h"

#include <array>
#include <cstdio>
#include <map>

namespace present {

namespace {

constexpr char32_t kParagraphSeparator = 0x2029;
constexpr char32_t kLastCodePoint = 0x10FFFF;

// Code page 1252 for bytes 0x80..0x9F; its five unassigned bytes keep their
// own code points so that the mapping stays one to one.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

const std::map<char32_t, unsigned char>& ReverseHighControls() {
  static const std::map<char32_t, unsigned char> reverse = [] {
    std::map<char32_t, unsigned char> m;
    for (std::size_t i = 0; i < kHighControls.size(); ++i) m[kHighControls[i]] = static_cast<unsigned char>(0x80 + i);
    return m;
  }();
  return reverse;
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// The code point that starts at data[i] and its length in bytes; 0 bytes for
// anything that is not well-formed UTF-8 (overlong forms, surrogates, values
// past U+10FFFF, cut-short sequences).
std::size_t DecodeUtf8At(const unsigned char* data, std::size_t size, std::size_t i, char32_t& c) {
  const unsigned char lead = data[i];
  if (lead < 0x80) {
    c = lead;
    return 1;
  }
  std::size_t length = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2, minimum = 0x80, c = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, minimum = 0x800, c = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, minimum = 0x10000, c = lead & 0x07;
  } else {
    return 0;
  }
  if (size - i < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((data[i + k] & 0xC0) != 0x80) return 0;
    c = (c << 6) | (data[i + k] & 0x3F);
  }
  if (c < minimum || c > kLastCodePoint || (c >= 0xD800 && c <= 0xDFFF)) return 0;
  return length;
}

// Calls each(c) for every code point of UTF-8 text; a byte that starts no
// well-formed sequence counts as the character of its Windows-1252 byte, so
// nothing handed in is ever skipped.
template <class Each>
void ForEachCodePoint(const std::string& text, Each each) {
  const auto* data = reinterpret_cast<const unsigned char*>(text.data());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    const std::size_t n = DecodeUtf8At(data, text.size(), i, c);
    each(n ? c : ByteToCodePoint(data[i]));
    i += n ? n : 1;
  }
}

const char* LineEndBytes(LineEnd end) {
  switch (end) {
    case LineEnd::CrLf:
      return "\r\n";
    case LineEnd::Cr:
      return "\r";
    case LineEnd::Lf:
    case LineEnd::ParagraphSeparator:
      break;
  }
  return "\n";
}

// New lines take the line end the entry uses most; CR LF for a text that had none.
LineEnd DominantLineEnd(const std::vector<LineEnd>& ends) {
  if (ends.empty()) return LineEnd::CrLf;
  std::map<LineEnd, int> counts;
  for (LineEnd e : ends) ++counts[e];
  LineEnd best = ends.front();
  for (const auto& [end, n] : counts)
    if (n > counts[best]) best = end;
  return best;
}

// Splits code points into the shown text and the line ends, the way the
// editor itself breaks lines: CR LF, a lone CR, LF, and U+2029 each end one line.
void CollectLines(const std::vector<char32_t>& chars, EntryText& out) {
  out.shown.reserve(chars.size());
  for (std::size_t i = 0; i < chars.size(); ++i) {
    const char32_t c = chars[i];
    if (c == U'\r') {
      const bool pair = i + 1 < chars.size() && chars[i + 1] == U'\n';
      out.lineEnds.push_back(pair ? LineEnd::CrLf : LineEnd::Cr);
      if (pair) ++i;
      out.shown += '\n';
    } else if (c == U'\n') {
      out.lineEnds.push_back(LineEnd::Lf);
      out.shown += '\n';
    } else if (c == kParagraphSeparator) {
      out.lineEnds.push_back(LineEnd::ParagraphSeparator);
      out.shown += '\n';
    } else {
      AppendUtf8(out.shown, c);
    }
  }
}

void AppendUnit(std::string& out, char32_t unit) {
  out += static_cast<char>(unit & 0xFF);
  out += static_cast<char>((unit >> 8) & 0xFF);
}

void AppendUtf16(std::string& out, char32_t c) {
  if (c < 0x10000) {
    AppendUnit(out, c);
    return;
  }
  c -= 0x10000;
  AppendUnit(out, 0xD800 + (c >> 10));
  AppendUnit(out, 0xDC00 + (c & 0x3FF));
}

std::vector<char32_t> Utf16Chars(const unsigned char* data, std::size_t units) {
  std::vector<char32_t> chars;
  chars.reserve(units);
  for (std::size_t i = 0; i < units; ++i) {
    const char32_t u = data[2 * i] | data[2 * i + 1] << 8;
    const char32_t next = i + 1 < units ? char32_t(data[2 * i + 2] | data[2 * i + 3] << 8) : 0;
    if (u >= 0xD800 && u <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF) {
      chars.push_back(0x10000 + ((u - 0xD800) << 10) + (next - 0xDC00));
      ++i;
    } else {
      chars.push_back(u);  // a lone surrogate stays what it is
    }
  }
  return chars;
}

bool HasMultiByte(const unsigned char* data, std::size_t size) {
  for (std::size_t i = 0; i < size; ++i)
    if (data[i] >= 0x80) return true;
  return false;
}

constexpr unsigned char kUtf8Mark[] = {0xEF, 0xBB, 0xBF};

bool StartsWithUtf8Mark(const unsigned char* data, std::size_t size) {
  return size >= 3 && data[0] == kUtf8Mark[0] && data[1] == kUtf8Mark[1] && data[2] == kUtf8Mark[2];
}

}  // namespace

char32_t ByteToCodePoint(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) return kHighControls[byte - 0x80];
  return byte;
}

int CodePointToByte(char32_t c) {
  if (c == 0) return -1;
  if (c < 0x80 || (c >= 0xA0 && c <= 0xFF)) return static_cast<int>(c);
  const auto& reverse = ReverseHighControls();
  const auto it = reverse.find(c);
  return it == reverse.end() ? -1 : it->second;
}

std::string EightBitToUtf8(const std::string& bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char b : bytes) AppendUtf8(out, ByteToCodePoint(static_cast<unsigned char>(b)));
  return out;
}

std::string EntryNameToUtf8(const std::string& bytes) {
  // Names packed from today's file systems are UTF-8; older tools wrote
  // single-byte names, which are never valid UTF-8 once they leave ASCII.
  return IsValidUtf8(bytes.data(), bytes.size()) ? bytes : EightBitToUtf8(bytes);
}

bool IsValidUtf8(const char* data, std::size_t size) {
  const auto* bytes = reinterpret_cast<const unsigned char*>(data);
  for (std::size_t i = 0; i < size;) {
    char32_t c = 0;
    const std::size_t n = DecodeUtf8At(bytes, size, i, c);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

bool IsUtf16Text(const unsigned char* data, std::size_t size) {
  return data && size > 2 && data[0] == 0xFF && data[1] == 0xFE;
}

EntryText DecodeEntryText(const unsigned char* data, std::size_t size) {
  EntryText out;
  if (!data || size == 0) return out;
  if (IsUtf16Text(data, size)) {
    out.encoding = TextEncoding::Utf16Le;
    const std::size_t units = (size - 2) / 2;
    std::size_t textUnits = 0;
    while (textUnits < units && (data[2 + 2 * textUnits] | data[3 + 2 * textUnits]) != 0) ++textUnits;
    const std::size_t tailStart = 2 + 2 * textUnits;
    out.tail.assign(reinterpret_cast<const char*>(data) + tailStart, size - tailStart);
    CollectLines(Utf16Chars(data + 2, textUnits), out);
    return out;
  }
  std::size_t textBytes = 0;
  while (textBytes < size && data[textBytes] != 0) ++textBytes;
  out.tail.assign(reinterpret_cast<const char*>(data) + textBytes, size - textBytes);
  const auto* text = reinterpret_cast<const char*>(data);
  // Plain ASCII reads the same either way; it stays the game's 8-bit text.
  const bool mark = StartsWithUtf8Mark(data, textBytes);
  if ((mark || HasMultiByte(data, textBytes)) && IsValidUtf8(text, textBytes)) {
    out.encoding = TextEncoding::Utf8;
    out.utf8Mark = mark;
    std::vector<char32_t> chars;
    chars.reserve(textBytes);
    ForEachCodePoint(std::string(text + (mark ? 3 : 0), textBytes - (mark ? 3 : 0)),
                     [&](char32_t c) { chars.push_back(c); });
    CollectLines(chars, out);
    return out;
  }
  std::vector<char32_t> chars(textBytes);
  for (std::size_t i = 0; i < textBytes; ++i) chars[i] = ByteToCodePoint(data[i]);
  CollectLines(chars, out);
  return out;
}

std::optional<char32_t> FirstUnstorable(const std::string& editorText, const EntryText& original) {
  std::optional<char32_t> first;
  ForEachCodePoint(editorText, [&](char32_t c) {
    if (first || c == U'\n' || c == kParagraphSeparator) return;
    if (c == 0 || (original.encoding == TextEncoding::EightBit && CodePointToByte(c) < 0)) first = c;
  });
  return first;
}

bool CanStoreAll(const std::string& editorText, const EntryText& original) {
  return !FirstUnstorable(editorText, original);
}

std::string DescribeCharacter(char32_t c) {
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
  if (c < 0x20 || c == 0x7F) return code;
  std::string out = "\"";
  AppendUtf8(out, c);
  return out + "\" (" + code + ")";
}

const char* EncodingName(TextEncoding encoding) {
  switch (encoding) {
    case TextEncoding::Utf8:
      return "UTF-8";
    case TextEncoding::Utf16Le:
      return "UTF-16";
    case TextEncoding::EightBit:
      break;
  }
  return "Windows-1252";
}

std::string EncodeEntryText(const std::string& editorText, const EntryText& original) {
  const TextEncoding encoding = original.encoding;
  const bool wide = encoding == TextEncoding::Utf16Le;
  const LineEnd fallback = DominantLineEnd(original.lineEnds);
  std::string out;
  out.reserve(editorText.size() * (wide ? 2 : 1) + original.tail.size() + 3);
  if (wide) out += "\xFF\xFE";
  if (encoding == TextEncoding::Utf8 && original.utf8Mark) out.append(reinterpret_cast<const char*>(kUtf8Mark), 3);
  std::size_t line = 0;
  ForEachCodePoint(editorText, [&](char32_t c) {
    if (c == U'\n' || c == kParagraphSeparator) {
      const LineEnd end = line < original.lineEnds.size() ? original.lineEnds[line] : fallback;
      ++line;
      if (wide && end == LineEnd::ParagraphSeparator) {
        AppendUnit(out, kParagraphSeparator);
      } else if (encoding == TextEncoding::Utf8 && end == LineEnd::ParagraphSeparator) {
        AppendUtf8(out, kParagraphSeparator);
      } else {
        for (const char* p = LineEndBytes(end); *p; ++p) wide ? AppendUnit(out, char32_t(*p)) : void(out += *p);
      }
      return;
    }
    if (c == 0) return;
    if (wide) {
      AppendUtf16(out, c);
    } else if (encoding == TextEncoding::Utf8) {
      AppendUtf8(out, c);
    } else if (const int byte = CodePointToByte(c); byte >= 0) {
      out += static_cast<char>(byte);
    }
  });
  out += original.tail;
  return out;
}

}  // namespace present
