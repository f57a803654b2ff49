// entrytext.h - how a text entry's bytes become the editor's text and come
// back byte for byte. The editor's text is UTF-8 here; a window converts it
// to and from its toolkit's strings.
//
// A text that is valid UTF-8 and holds at least one multi-byte character (or
// starts with the UTF-8 mark) is shown as UTF-8 and written back as UTF-8.
// Any other 8-bit text is Windows-1252: every byte 1..255 maps to one
// character and back (the code page's character where it has one, the
// byte's own code point for its five unassigned bytes), so no byte is lost.
// Texts that start with the UTF-16 little-endian mark are shown with their
// characters and written back as UTF-16 little-endian with the mark. The
// editor knows one kind of line break; the line ends the entry had (CR LF,
// LF, CR) are remembered line by line and restored. Bytes from the first
// zero on are not text: they stay out of the editor and are put back behind
// the text.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace present {

enum class TextEncoding { EightBit, Utf8, Utf16Le };
enum class LineEnd { Lf, CrLf, Cr, ParagraphSeparator };

struct EntryText {
  TextEncoding encoding = TextEncoding::EightBit;
  bool utf8Mark = false;          // a UTF-8 text that began with EF BB BF (kept on save)
  std::string shown;              // UTF-8, lines joined by '\n'
  std::vector<LineEnd> lineEnds;  // the stored line end after each line, in order
  std::string tail;               // bytes from the first zero on, kept as they are
};

// One byte of Windows-1252 text as a code point, and back (-1 for a code
// point that has no byte; byte 0 has no character).
char32_t ByteToCodePoint(unsigned char byte);
int CodePointToByte(char32_t c);
// A whole Windows-1252 string (an old entry name, say) as UTF-8.
std::string EightBitToUtf8(const std::string& bytes);
// An entry name for display, as UTF-8: the name itself when it is valid
// UTF-8, else read as Windows-1252. The name's bytes themselves never change.
std::string EntryNameToUtf8(const std::string& bytes);

bool IsValidUtf8(const char* data, std::size_t size);
bool IsUtf16Text(const unsigned char* data, std::size_t size);
EntryText DecodeEntryText(const unsigned char* data, std::size_t size);

// The first character of the editor's text that the entry's encoding cannot
// store (for Windows-1252 text: any but its 255 characters; for every
// encoding: U+0000, which would end the text), or nothing when all fit.
std::optional<char32_t> FirstUnstorable(const std::string& editorText, const EntryText& original);
bool CanStoreAll(const std::string& editorText, const EntryText& original);

// A character for a message: the character in quotes and its code point,
// as in "ő" (U+0151).
std::string DescribeCharacter(char32_t c);
// The encoding's name for a message: "Windows-1252", "UTF-8", "UTF-16".
const char* EncodingName(TextEncoding encoding);

// The editor's text (lines split at '\n' or U+2029) in the form of the entry
// it was loaded from. Only text that CanStoreAll accepts is stored exactly;
// a character an encoding cannot hold is left out.
std::string EncodeEntryText(const std::string& editorText, const EntryText& original);

}  // namespace present
