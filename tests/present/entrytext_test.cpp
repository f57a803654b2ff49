// The text codec between an entry's bytes and the editor's UTF-8 text: every
// byte, every line end, UTF-8 and UTF-16 with their marks, and the bytes
// behind a zero.
#include <gtest/gtest.h>

#include <optional>

#include "entrytext.h"
#include "archivebytes.h"

using namespace present;
using testutil::Bytes;

namespace {
EntryText Decode(const std::string& bytes) {
  return DecodeEntryText(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}
std::string RoundTrip(const std::string& bytes) {
  const EntryText text = Decode(bytes);
  return EncodeEntryText(text.shown, text);
}
std::string Utf16(const std::u16string& text, bool mark = true) {
  std::string out = mark ? "\xFF\xFE" : "";
  for (char16_t c : text) {
    out += static_cast<char>(c & 0xFF);
    out += static_cast<char>(c >> 8);
  }
  return out;
}
}  // namespace

TEST(EntryText, EveryByteMapsToOneCharacterAndBack) {
  for (int byte = 1; byte < 256; ++byte) {
    const char32_t c = ByteToCodePoint(static_cast<unsigned char>(byte));
    EXPECT_EQ(CodePointToByte(c), byte) << "byte " << byte;
  }
  EXPECT_EQ(ByteToCodePoint(0x80), U'\u20AC') << "the euro sign of the 8-bit code page";
  EXPECT_EQ(ByteToCodePoint(0xE9), U'\u00E9');
  EXPECT_EQ(ByteToCodePoint(0x81), char32_t(0x81)) << "a byte the code page leaves out keeps its own code point";
  EXPECT_EQ(CodePointToByte(U'\u0416'), -1);
  EXPECT_EQ(CodePointToByte(0), -1);
}

TEST(EntryText, AllBytesOneToTwoHundredFiftyFiveRoundTrip) {
  std::string all;
  for (int byte = 1; byte < 256; ++byte) all += static_cast<char>(byte);
  EXPECT_EQ(RoundTrip(all), all);
  const EntryText text = Decode(all);
  EXPECT_EQ(text.encoding, TextEncoding::EightBit);
  EXPECT_EQ(text.lineEnds.size(), 2u) << "LF (10) and CR (13) each end a line";
}

TEST(EntryText, LineEndsAreRestoredLineByLine) {
  const std::string mixed = "one\r\ntwo\nthree\rfour\r\n\r\nsix";
  const EntryText text = Decode(mixed);
  EXPECT_EQ(text.shown, "one\ntwo\nthree\nfour\n\nsix");
  EXPECT_EQ(EncodeEntryText(text.shown, text), mixed);
  // The editor hands lines back separated by U+2029.
  std::string raw;
  for (char c : text.shown) raw += c == '\n' ? std::string("\u2029") : std::string(1, c);
  EXPECT_EQ(EncodeEntryText(raw, text), mixed);
}

TEST(EntryText, NewLinesTakeTheEntrysMostCommonLineEnd) {
  const EntryText lf = Decode("a\nb\nc\r\n");
  EXPECT_EQ(EncodeEntryText("a\nb\nc\nd\ne", lf), "a\nb\nc\r\nd\ne");
  const EntryText none = Decode("single line");
  EXPECT_EQ(EncodeEntryText("single line\nsecond", none), "single line\r\nsecond");
  const EntryText fewer = Decode("a\r\nb\nc");
  EXPECT_EQ(EncodeEntryText("ab", fewer), "ab");
}

TEST(EntryText, BytesFromTheFirstZeroStayOutOfTheEditorAndComeBack) {
  const std::string withZero("shown\r\n\0hidden\0tail", 19);
  const EntryText text = Decode(withZero);
  EXPECT_EQ(text.shown, "shown\n");
  EXPECT_EQ(text.tail, std::string("\0hidden\0tail", 12));
  EXPECT_EQ(EncodeEntryText(text.shown, text), withZero);
  EXPECT_EQ(EncodeEntryText("edited\n", text), std::string("edited\r\n\0hidden\0tail", 20));
}

TEST(EntryText, Utf16WithMarkShowsItsRealCharacters) {
  const std::string ab = Utf16(u"AB");
  EXPECT_EQ(ab, std::string("\xFF\xFE" "A\0B\0", 6));
  EXPECT_EQ(Decode(ab).shown, "AB");
  const std::string cyrillic = Utf16(u"\u0416\u00e9\r\n\u20ac\U0001F600");
  const EntryText text = Decode(cyrillic);
  EXPECT_EQ(text.encoding, TextEncoding::Utf16Le);
  EXPECT_EQ(text.shown, "\u0416\u00e9\n\u20ac\U0001F600");
  EXPECT_EQ(EncodeEntryText(text.shown, text), cyrillic) << "saved back as UTF-16 with its mark";
  EXPECT_EQ(EncodeEntryText("\u0416\nX", text), Utf16(u"\u0416\r\nX"));
}

TEST(EntryText, Utf16KeepsAZeroUnitAndAnOddByteBehindTheText) {
  std::string odd = Utf16(u"Hi") + std::string("\0\0Z\0", 4) + "!";
  const EntryText text = Decode(odd);
  EXPECT_EQ(text.shown, "Hi");
  EXPECT_EQ(EncodeEntryText(text.shown, text), odd);
  const std::string justOdd = Utf16(u"Hi") + "!";
  EXPECT_EQ(RoundTrip(justOdd), justOdd);
}

TEST(EntryText, TheMarkAloneIsEightBitText) {
  const EntryText mark = Decode("\xFF\xFE");
  EXPECT_EQ(mark.encoding, TextEncoding::EightBit);
  EXPECT_EQ(mark.shown, "\u00ff\u00fe");
  EXPECT_EQ(RoundTrip("\xFF\xFE"), "\xFF\xFE");
}

TEST(EntryText, TheFirstCharacterTheEncodingCannotHoldIsNamedNeverReplaced) {
  const EntryText text = Decode("x");
  EXPECT_EQ(FirstUnstorable("a\u20acb\u0416c\u0151", text), std::optional<char32_t>(U'\u0416'));
  EXPECT_EQ(DescribeCharacter(U'\u0416'), "\"\u0416\" (U+0416)");
  EXPECT_EQ(EncodeEntryText("a\u0416b\u20ac", text), "ab\x80") << "no '?' stands in for it";
}

TEST(EntryText, KnowsWhetherEveryCharacterCanBeStored) {
  const EntryText eight = Decode("x");
  EXPECT_TRUE(CanStoreAll("caf\u00e9 \u20ac\n\u2029tab\t", eight));
  EXPECT_FALSE(CanStoreAll("\u0416", eight));
  EXPECT_TRUE(CanStoreAll("\u0416", Decode(Utf16(u"A"))));
  EXPECT_TRUE(CanStoreAll("\u0416", Decode("Br\u00fccke")));
}

TEST(EntryText, EmptyAndNullEntries) {
  EXPECT_TRUE(DecodeEntryText(nullptr, 0).shown.empty());
  EXPECT_EQ(RoundTrip(""), "");
  EXPECT_EQ(RoundTrip(std::string("\0", 1)), std::string("\0", 1));
}

TEST(EntryText, NamesShowThroughTheSameMapping) {
  EXPECT_EQ(EightBitToUtf8("caf\xE9.con"), "caf\u00e9.con");
  EXPECT_EQ(EntryNameToUtf8("\u00d6lfeld_\u00dcbung.con"), "\u00d6lfeld_\u00dcbung.con") << "UTF-8 names stay";
  EXPECT_EQ(EntryNameToUtf8("\xD6lfeld.con"), "\u00d6lfeld.con");
}

TEST(EntryText, Utf8TextIsShownAsUtf8AndSavedBackAsUtf8) {
  const std::string bytes = "Br\u00fccke \u2026 Stra\u00dfe\r\n";
  const EntryText text = Decode(bytes);
  EXPECT_EQ(text.encoding, TextEncoding::Utf8);
  EXPECT_EQ(text.shown, "Br\u00fccke \u2026 Stra\u00dfe\n");
  EXPECT_EQ(EncodeEntryText(text.shown, text), bytes);
  EXPECT_EQ(EncodeEntryText("\u0151\n", text), "\u0151\r\n") << "any character fits in UTF-8";
  const std::string marked = "\xEF\xBB\xBFok";
  EXPECT_EQ(Decode(marked).shown, "ok");
  EXPECT_EQ(RoundTrip(marked), marked) << "the mark is kept";
}

TEST(EntryText, TextThatIsNotUtf8OrOnlyAsciiIsWindows1252) {
  for (const std::string& bytes : {std::string("Br\xFC" "cke"), std::string("\xC3(")}) {
    EXPECT_EQ(Decode(bytes).encoding, TextEncoding::EightBit) << bytes;
    EXPECT_EQ(RoundTrip(bytes), bytes);
  }
  EXPECT_EQ(Decode("plain").encoding, TextEncoding::EightBit);
}
