// entrytext.h - how a text entry's bytes become the editor's text and come
// back byte for byte.
//
// 8-bit texts map every byte 1..255 to one character and back (the Windows
// code page 1252 characters where it has them, the byte's own code point
// where it has none), so no byte is lost to a text encoding. Texts that start
// with the UTF-16 little-endian mark are shown with their real characters and
// written back as UTF-16 little-endian with the mark. The editor knows only
// one kind of line break; the line ends the entry had (CR LF, LF, CR) are
// remembered line by line and restored. Bytes from the first zero on are not
// text: they stay out of the editor and are put back behind the text.
#pragma once

#include <QChar>
#include <QString>
#include <cstdint>
#include <string>
#include <vector>

namespace toolset {

enum class TextEncoding { EightBit, Utf16Le };
enum class LineEnd { Lf, CrLf, Cr, ParagraphSeparator };

struct EntryText {
  TextEncoding encoding = TextEncoding::EightBit;
  QString shown;                  // lines joined by '\n'
  std::vector<LineEnd> lineEnds;  // the stored line end after each line, in order
  std::string tail;               // bytes from the first zero on, kept as they are
};

// One byte of 8-bit text as a character, and back (-1 for a character that
// has no byte; byte 0 has no character).
QChar ByteToChar(unsigned char byte);
int CharToByte(QChar c);
// A whole 8-bit string (an entry name, say) for display.
QString EightBitToQt(const std::string& bytes);
// An entry name for display: as UTF-8 when it is valid UTF-8, else byte for
// byte as EightBitToQt shows it. The name's bytes themselves never change.
QString EntryNameToQt(const std::string& bytes);

bool IsUtf16Text(const unsigned char* data, std::size_t size);
EntryText DecodeEntryText(const unsigned char* data, std::size_t size);

// True when every character of the editor's text has a place in the entry's
// encoding (always for UTF-16; for 8-bit text, the 255 mapped characters).
bool CanStoreAll(const QString& editorText, const EntryText& original);

// The editor's text (lines split at '\n' or U+2029) in the form of the entry it
// was loaded from. Characters that 8-bit text cannot hold become '?'.
std::string EncodeEntryText(const QString& editorText, const EntryText& original);

}  // namespace toolset
