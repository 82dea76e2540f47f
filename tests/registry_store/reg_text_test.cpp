#include "agent/platform/posix/registry_store/reg_text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/util/coding.h"

namespace pelko::reg_text {
namespace {

std::string Bytes(const char* text, std::size_t size) { return std::string(text, size); }

TEST(RegText, EveryKindOfValueComesBackAsItWent) {
  KeyFile file;
  file.hasHeader = true;
  file.keyPath = "HKEY_LOCAL_MACHINE\\Software\\Pelko\\odd%\x01name";
  file.values = {
      {"Path", kRegSz, Bytes("C:\\Pelko \"quoted\"\0", 18)},
      {"Tab\there", kRegExpandSz, Bytes("%PATH%\n\0", 8)},
      {"", kRegDword, Bytes("\x01\x02\x03\x04", 4)},
      {"Big", kRegQword, Bytes("\x01\x02\x03\x04\x05\x06\x07\x08", 8)},
      {"List", kRegMultiSz, Bytes("a\0b,c\0\0", 7)},
      {"Empty list", kRegMultiSz, Bytes("\0\0", 2)},
      {"Blob", kRegBinary, Bytes("\0\xff\x7f", 3)},
      {"Odd dword", kRegDword, Bytes("\x01\x02", 2)},
      {"Unterminated", kRegSz, "no nul"},
      {"Own type", 0x1234, "x"},
  };
  KeyFile read;
  ParseKeyFile(FormatKeyFile(file), &read);
  EXPECT_TRUE(read.hasHeader);
  EXPECT_EQ(read.keyPath, file.keyPath);
  ASSERT_EQ(read.values.size(), file.values.size());
  for (std::size_t i = 0; i < file.values.size(); ++i) {
    EXPECT_EQ(read.values[i].name, file.values[i].name) << i;
    EXPECT_EQ(read.values[i].type, file.values[i].type) << file.values[i].name;
    EXPECT_EQ(read.values[i].data, file.values[i].data) << file.values[i].name;
  }
}

TEST(RegText, DamagedOrHandEditedTextIsReadLineByLine) {
  const std::string text =
      "; a comment\r\n"
      "  [HKEY_LOCAL_MACHINE\\Software\\Pelko]  \r\n"
      "\"nPrinters\"=dword:00000003\n"
      "\"Broken\"=dword:xyz\n"
      "garbage without an equals sign\n"
      "\"Unclosed=\"text\n"
      "\"NPRINTERS\"=dword:00000005\n"
      "[HKEY_LOCAL_MACHINE\\Somewhere\\Else]\n"
      "\"Path\"=\"C:\\\\Pelko\"";
  KeyFile read;
  ParseKeyFile(text, &read);
  EXPECT_EQ(read.keyPath, "HKEY_LOCAL_MACHINE\\Software\\Pelko") << "the first header counts";
  ASSERT_EQ(read.values.size(), 2u);
  EXPECT_EQ(read.values[0].name, "nPrinters") << "a later line wins but keeps the first spelling";
  EXPECT_EQ(read.values[0].data, Bytes("\x05\0\0\0", 4));
  EXPECT_EQ(read.values[1].name, "Path");
  EXPECT_EQ(HeaderKeyPath(text), "HKEY_LOCAL_MACHINE\\Software\\Pelko");
  EXPECT_EQ(LastPart(HeaderKeyPath(text)), "Pelko");
}

TEST(RegText, NamesIgnoreTheCaseOfAsciiLettersOnly) {
  EXPECT_TRUE(SameName("AppIsRunning", "APPISRUNNING"));
  EXPECT_FALSE(SameName("\xc4pfel", "\xe4pfel"));
  EXPECT_EQ(AsciiLowered("Pelko\xC4"), "pelko\xC4");
  std::string escaped;
  AppendPercent(&escaped, 0x0a);
  EXPECT_EQ(escaped, "%0A");
  EXPECT_EQ(PercentDecode("a%0Ab%zz%4"), "a\nb%zz%4");
}

}  // namespace
}  // namespace pelko::reg_text
