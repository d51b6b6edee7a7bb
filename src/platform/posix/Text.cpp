#include "platform/Text.h"

#include <iconv.h>

#include <string>
#include <vector>

#include "platform/Utf.h"

namespace RazaDedeZuzev::platform {
namespace {

ConversionError refusedEmptyText() {
  return {ConversionError::Step::SizeQuery, std::make_error_code(std::errc::invalid_argument)};
}

// Shift_JIS through iconv, character by character, so that one that the
// code page lacks becomes '?' and the rest of the text still comes through.
void appendAsCodePage932(std::u16string_view text, std::string& out) {
  iconv_t converter = ::iconv_open("CP932", "UTF-8");
  if (converter == reinterpret_cast<iconv_t>(-1)) {
    appendUtf16AsUtf8(text, out);
    return;
  }
  std::size_t i = 0;
  while (i < text.size()) {
    const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() &&
                      text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    const std::size_t units = pair ? 2 : 1;
    std::string utf8 = utf16ToUtf8(text.substr(i, units));
    i += units;
    char buffer[16];
    char* input = utf8.data();
    std::size_t inputLeft = utf8.size();
    char* output = buffer;
    std::size_t outputLeft = sizeof buffer;
    if (::iconv(converter, &input, &inputLeft, &output, &outputLeft) == static_cast<std::size_t>(-1)) {
      out.push_back('?');
      ::iconv(converter, nullptr, nullptr, nullptr, nullptr);  // reset the shift state
    } else {
      out.append(buffer, static_cast<std::size_t>(output - buffer));
    }
  }
  ::iconv_close(converter);
}

}  // namespace

ConversionError appendUtf8AsWide(std::string_view bytes, std::u16string& out) {
  if (bytes.empty()) return refusedEmptyText();
  appendUtf8AsUtf16(bytes, out);
  return {};
}

ConversionError appendWideAsCodePage(std::u16string_view text, std::uint32_t codePage,
                                     std::string& out) {
  if (text.empty()) return refusedEmptyText();
  if (codePage == kCodePageShiftJis) {
    appendAsCodePage932(text, out);
  } else {
    appendUtf16AsUtf8(text, out);
  }
  return {};
}

struct CodePageDecoder::State {
  iconv_t converter = reinterpret_cast<iconv_t>(-1);
  ~State() {
    if (converter != reinterpret_cast<iconv_t>(-1)) ::iconv_close(converter);
  }
};

namespace {

// Windows numbers that the C library knows by a name other than "CP" or
// "IBM" + the number.
struct NamedCodePages {
  std::uint32_t first, last;
  const char* name;    // the name; where base is not 0, followed by
  std::uint32_t base;  // the code page's number minus base
};
constexpr NamedCodePages kNamedCodePages[] = {
    {kCodePageUtf8, kCodePageUtf8, "UTF-8", 0}, {20866, 20866, "KOI8-R", 0}, {21866, 21866, "KOI8-U", 0},
    {28591, 28606, "ISO-8859-", 28590},  {20273, 20905, "IBM", 20000},    {20924, 20924, "IBM1047", 0},
    {10000, 10000, "MACINTOSH", 0},      {10007, 10007, "MACCYRILLIC", 0}, {10029, 10029, "MAC-CENTRALEUROPE", 0},
    {10079, 10079, "MAC-IS", 0},         {20127, 20127, "ASCII", 0},       {20932, 20932, "EUC-JP", 0},
    {51932, 51932, "EUC-JP", 0},         {51949, 51949, "EUC-KR", 0},      {54936, 54936, "GB18030", 0},
    {20936, 20936, "GB2312", 0},         {51936, 51936, "EUC-CN", 0},      {50220, 50222, "ISO-2022-JP", 0},
    {50225, 50225, "ISO-2022-KR", 0}};

// The names the C library may know a code page number by, most likely first.
std::vector<std::string> namesOfCodePage(std::uint32_t codePage) {
  std::string number = std::to_string(codePage);
  std::vector<std::string> names;
  for (const NamedCodePages& named : kNamedCodePages) {
    if (codePage < named.first || codePage > named.last) continue;
    names.emplace_back(named.name);
    if (named.base != 0) names.back() += std::to_string(codePage - named.base);
  }
  names.push_back("CP" + number);
  if (number.size() < 3) number.insert(0, 3 - number.size(), '0');  // EBCDIC 37 is IBM037
  names.push_back("IBM" + number);
  return names;
}

}  // namespace

CodePageDecoder::CodePageDecoder(std::uint32_t codePage) : state(std::make_unique<State>()) {
  for (const std::string& name : namesOfCodePage(codePage)) {
    state->converter = ::iconv_open("UTF-8", name.c_str());
    if (IsKnown()) return;
  }
}

CodePageDecoder::~CodePageDecoder() = default;

bool CodePageDecoder::IsKnown() const { return state->converter != reinterpret_cast<iconv_t>(-1); }

bool CodePageDecoder::Decode(std::string_view bytes, std::string& utf8) {
  utf8.clear();
  if (!IsKnown()) return false;
  ::iconv(state->converter, nullptr, nullptr, nullptr, nullptr);  // a fresh shift state
  // A byte of a legacy code page is at most three bytes of UTF-8.
  utf8.resize(bytes.size() * 3 + 8);
  char* input = const_cast<char*>(bytes.data());
  std::size_t inputLeft = bytes.size();
  char* output = utf8.data();
  std::size_t outputLeft = utf8.size();
  const bool whole = ::iconv(state->converter, &input, &inputLeft, &output, &outputLeft) != static_cast<std::size_t>(-1) &&
                     ::iconv(state->converter, nullptr, nullptr, &output, &outputLeft) != static_cast<std::size_t>(-1);
  utf8.resize(utf8.size() - outputLeft);
  return whole && inputLeft == 0;
}

std::uint32_t defaultLegacyCodePage() { return 437; }

}  // namespace RazaDedeZuzev::platform
