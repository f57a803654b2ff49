#include "entrytext.h"

#include <QStringDecoder>

#include <array>
#include <map>

namespace toolset {

namespace {

constexpr char16_t kParagraphSeparator = 0x2029;

// Code page 1252 for bytes 0x80..0x9F; its five unassigned bytes keep their
// own code points so that the mapping stays one to one.
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

const std::map<char16_t, unsigned char>& ReverseHighControls() {
  static const std::map<char16_t, unsigned char> reverse = [] {
    std::map<char16_t, unsigned char> m;
    for (std::size_t i = 0; i < kHighControls.size(); ++i) m[kHighControls[i]] = static_cast<unsigned char>(0x80 + i);
    return m;
  }();
  return reverse;
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

// Splits characters into the shown text and the line ends, the way the editor
// itself breaks lines: CR LF, a lone CR, LF, and U+2029 each end one line.
template <class NextChar>
void CollectLines(std::size_t count, NextChar charAt, EntryText& out) {
  out.shown.reserve(static_cast<qsizetype>(count));
  for (std::size_t i = 0; i < count; ++i) {
    const char16_t c = charAt(i);
    if (c == u'\r') {
      const bool pair = i + 1 < count && charAt(i + 1) == u'\n';
      out.lineEnds.push_back(pair ? LineEnd::CrLf : LineEnd::Cr);
      if (pair) ++i;
      out.shown += QChar(u'\n');
    } else if (c == u'\n') {
      out.lineEnds.push_back(LineEnd::Lf);
      out.shown += QChar(u'\n');
    } else if (c == kParagraphSeparator) {
      out.lineEnds.push_back(LineEnd::ParagraphSeparator);
      out.shown += QChar(u'\n');
    } else {
      out.shown += QChar(c);
    }
  }
}

void AppendUnit(std::string& out, char16_t unit) {
  out += static_cast<char>(unit & 0xFF);
  out += static_cast<char>(unit >> 8);
}

}  // namespace

QChar ByteToChar(unsigned char byte) {
  if (byte >= 0x80 && byte < 0xA0) return QChar(kHighControls[byte - 0x80]);
  return QChar(static_cast<char16_t>(byte));
}

int CharToByte(QChar c) {
  const char16_t u = c.unicode();
  if (u == 0) return -1;
  if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return u;
  const auto& reverse = ReverseHighControls();
  const auto it = reverse.find(u);
  return it == reverse.end() ? -1 : it->second;
}

QString EightBitToQt(const std::string& bytes) {
  QString out;
  out.reserve(static_cast<qsizetype>(bytes.size()));
  for (char b : bytes) out += ByteToChar(static_cast<unsigned char>(b));
  return out;
}

QString EntryNameToQt(const std::string& bytes) {
  // Names packed from today's file systems are UTF-8; older tools wrote
  // single-byte names, which are never valid UTF-8 once they leave ASCII.
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
  const QString decoded = utf8(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
  return utf8.hasError() ? EightBitToQt(bytes) : decoded;
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
    CollectLines(textUnits, [&](std::size_t i) {
      return static_cast<char16_t>(data[2 + 2 * i] | data[3 + 2 * i] << 8);
    }, out);
    return out;
  }
  std::size_t textBytes = 0;
  while (textBytes < size && data[textBytes] != 0) ++textBytes;
  out.tail.assign(reinterpret_cast<const char*>(data) + textBytes, size - textBytes);
  CollectLines(textBytes, [&](std::size_t i) { return ByteToChar(data[i]).unicode(); }, out);
  return out;
}

bool CanStoreAll(const QString& editorText, const EntryText& original) {
  if (original.encoding == TextEncoding::Utf16Le) return true;
  for (QChar c : editorText) {
    const char16_t u = c.unicode();
    if (u != u'\n' && u != kParagraphSeparator && CharToByte(c) < 0) return false;
  }
  return true;
}

std::string EncodeEntryText(const QString& editorText, const EntryText& original) {
  const bool wide = original.encoding == TextEncoding::Utf16Le;
  const LineEnd fallback = DominantLineEnd(original.lineEnds);
  std::string out;
  out.reserve(static_cast<std::size_t>(editorText.size()) * (wide ? 2 : 1) + original.tail.size() + 2);
  if (wide) out += "\xFF\xFE";
  std::size_t line = 0;
  for (QChar c : editorText) {
    const char16_t u = c.unicode();
    if (u == u'\n' || u == kParagraphSeparator) {
      const LineEnd end = line < original.lineEnds.size() ? original.lineEnds[line] : fallback;
      ++line;
      if (wide && end == LineEnd::ParagraphSeparator) {
        AppendUnit(out, kParagraphSeparator);
      } else {
        for (const char* p = LineEndBytes(end); *p; ++p) {
          if (wide)
            AppendUnit(out, static_cast<char16_t>(*p));
          else
            out += *p;
        }
      }
    } else if (wide) {
      AppendUnit(out, u);
    } else {
      const int byte = CharToByte(c);
      out += byte < 0 ? '?' : static_cast<char>(byte);
    }
  }
  out += original.tail;
  return out;
}

}  // namespace toolset
