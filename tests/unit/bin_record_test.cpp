#include "image/bin_record.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <memory>

#include "app/update_app.h"
#include "support/fakes.h"
#include "unit/image_test_files.h"

namespace portflash {
namespace {

using testing::Bytes;
using testing::Product;
using testing::Record;
using testing::Stream;

const char* const kCorrupt = "Unable to get agent record\nCorrupt BIN file?";
const char* const kUnknown = "Unknown Firmware record\nCheck for a new version of this Utility";

TEST(ReadBinRecord, EmptyPayloadNeedsCheckByteFE) {
  BinPayload payload{};
  std::uint8_t length = 99;
  EXPECT_EQ(ReadBinRecord(Stream(Bytes({0x01, 0xFE})).get(), &length, payload), 0);
  EXPECT_EQ(length, 0);
  length = 99;
  EXPECT_EQ(ReadBinRecord(Stream(Bytes({0x01, 0xFF})).get(), &length, payload), -1);
  EXPECT_EQ(length, 99) << "the length is only written for a good record";
}

TEST(ReadBinRecord, LengthZeroCarries255BytesCheckedAlone) {
  std::string data(255, '\0');
  unsigned sum = 0;
  for (std::size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<char>(i * 7 + 3);
    sum += static_cast<std::uint8_t>(data[i]);
  }
  std::string record = Bytes({0x00}) + data + Bytes({static_cast<int>(~sum & 0xFF)});
  BinPayload payload{};
  std::uint8_t length = 0;
  auto file = Stream(record + "X");
  ASSERT_EQ(ReadBinRecord(file.get(), &length, payload), 0);
  EXPECT_EQ(length, 255);
  EXPECT_EQ(std::string(payload.begin(), payload.begin() + 255), data);
  EXPECT_EQ(std::fgetc(file.get()), 'X') << "the record ends after its check byte";
  // The same bytes with L = 0 counted in the sum would be wrong if L were not 0.
  record.back() = static_cast<char>(record.back() ^ 0x01);
  EXPECT_EQ(ReadBinRecord(Stream(record).get(), &length, payload), -1);
}

TEST(ReadBinRecord, FileEndingInsideTheRecordFails) {
  std::string good = Record('C', "abc").substr(1);  // without its type byte
  BinPayload payload{};
  std::uint8_t length = 0;
  ASSERT_EQ(ReadBinRecord(Stream(good).get(), &length, payload), 0);
  EXPECT_EQ(length, 3);
  for (std::size_t cut = 0; cut < good.size(); ++cut) {
    EXPECT_EQ(ReadBinRecord(Stream(good.substr(0, cut)).get(), &length, payload), -1)
        << "cut after " << cut << " bytes";
  }
}

TEST(IsBinRecordType, OnlyTheSevenLetters) {
  for (int byte = 0; byte < 256; ++byte) {
    bool expected = byte == 'C' || byte == 'D' || byte == 'E' || byte == 'I' || byte == 'P' ||
                    byte == 'S' || byte == 'i';
    EXPECT_EQ(IsBinRecordType(byte), expected) << byte;
  }
  EXPECT_FALSE(IsBinRecordType(EOF));
}

// CheckProducts against a loader listing ALPHA and BETA (run together: "ALPHABETA").
class ProductCheck : public ::testing::Test {
 protected:
  ProductCheck() {
    loader_ = dir_.Write("kvr.ldr", testing::MarkedLoader({"ALPHA", "BETA"}));
    app_.SetLoaderPath(loader_.c_str());
  }

  int Check(const std::string& agentBytes) {
    std::string agent = dir_.Write("kvr-agent.bin", agentBytes);
    return CheckAgentAt(agent);
  }
  int CheckAgentAt(const std::string& agent) {
    profile_.WriteString("Last Bin File", "Filename", agent);
    app_.LoadLastAgentPath();
    app_.ResolveAgentPrefix();
    return app_.CheckProducts();
  }
  std::string List() const { return app_.GetProductList() ? app_.GetProductList() : "<null>"; }

  testing::TempDir dir_;
  testing::MapProfile profile_;
  testing::RecordingDialogs dialogs_;
  CUpdateApp app_{profile_, dialogs_};
  std::string loader_;
};

TEST_F(ProductCheck, EmptyAgentPassesWithoutList) {
  EXPECT_EQ(Check(""), 1);
  EXPECT_EQ(List(), "<null>");
  EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(ProductCheck, ProductsBeforeImageRecordAllCommit) {
  std::string records = Record('C', "(c) Tarvex") + Product("ALPHA") + Record('D', "2024") +
                        Product("BETA") + Record('E', "") + Record('S', "xyz") + Record('I', "1");
  EXPECT_EQ(Check(records + Bytes({0x00, 0x00}) + "body that is never read"), 1);
  EXPECT_EQ(List(), "ALPHA BETA ");
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_EQ(app_.GetLoaderSkip(), 4u + 2 + 5 + 1 + 2 + 4 + 1 + 1) << "set by the loader read";
}

TEST_F(ProductCheck, ImageRecordFirstCommitsAtTheFirstProduct) {
  // The byte after ALPHA would be an error if it were read.
  EXPECT_EQ(Check(Record('I', "") + Product("ALPHA") + Bytes({0x00}) + Product("BETA")), 1);
  EXPECT_EQ(List(), "ALPHA ");
  EXPECT_TRUE(dialogs_.messages.empty());
}

TEST_F(ProductCheck, OccurrenceTestsAreSubstringSearches) {
  // ALPH lies inside the listed ALPHA; HABE spans the loader's ALPHA|BETA boundary;
  // GAMMA is not supported at all.
  EXPECT_EQ(Check(Product("ALPHA") + Product("ALPH") + Product("GAMMA") + Product("HABE") +
                  Record('I', "")),
            1);
  EXPECT_EQ(List(), "ALPHA HABE ");
}

TEST_F(ProductCheck, NameIsTheWholePayloadWithoutNul) {
  EXPECT_EQ(Check(Record('P', "BETA") + Record('I', "")), 1);
  EXPECT_EQ(List(), "BETA ");
}

TEST_F(ProductCheck, WildcardAloneCommitsTheOneBlankList) {
  EXPECT_EQ(Check(Product("*") + Record('I', "")), 1);
  EXPECT_EQ(List(), " ");
}

TEST_F(ProductCheck, LowerCaseIClearsBothFlagsButNotTheList) {
  std::string records = Product("ALPHA") + Record('i', "") + Record('I', "");
  // No commit at the I: the scan reads on to the end of the file.
  EXPECT_EQ(Check(records), 1);
  EXPECT_EQ(List(), "<null>");
  // A listed name does not set the flag again; a new one commits with the old list kept.
  EXPECT_EQ(Check(records + Product("ALPHA") + Product("BETA")), 1);
  EXPECT_EQ(List(), "ALPHA BETA ");
  // Without a commit, the body is read as records and its first odd byte fails.
  dialogs_.messages.clear();
  EXPECT_EQ(Check(records + "\x7f body"), 0);
  EXPECT_EQ(dialogs_.messages, std::vector<std::string>{kCorrupt});
  EXPECT_EQ(List(), "<null>");
}

TEST_F(ProductCheck, InvalidTypeBytesAreCorruptRecords) {
  for (int type : {0x00, int{'F'}, int{'p'}, 0xFF}) {
    dialogs_.messages.clear();
    EXPECT_EQ(Check(Product("ALPHA") + Bytes({type}) + Record('I', "")), 0) << type;
    EXPECT_EQ(dialogs_.messages, std::vector<std::string>{kCorrupt}) << type;
    EXPECT_EQ(List(), "<null>");
  }
}

TEST_F(ProductCheck, BadRecordsAreUnknownFirmware) {
  std::string badCheck = Product("ALPHA");
  badCheck.back() = static_cast<char>(badCheck.back() + 1);
  std::string badSkipped = Record('S', "signature");
  badSkipped.back() = static_cast<char>(badSkipped.back() + 1);
  const std::string cases[] = {
      badCheck + Record('I', ""), Product("BETA") + badSkipped + Record('I', ""),
      Product("ALPHA") + "I",                          // type byte at the very end
      Product("ALPHA") + Record('I', "").substr(0, 2)  // check byte missing
  };
  for (const std::string& agent : cases) {
    dialogs_.messages.clear();
    EXPECT_EQ(Check(agent), 0);
    EXPECT_EQ(dialogs_.messages, std::vector<std::string>{kUnknown});
    EXPECT_EQ(List(), "<null>");
  }
}

TEST_F(ProductCheck, WithoutLoaderListOnlyWildcardsCount) {
  app_.SetLoaderPath(dir_.Path("gone.ldr").c_str());
  EXPECT_EQ(Check(Product("ALPHA") + Record('I', "")), 1);
  EXPECT_EQ(List(), "<null>");
  EXPECT_EQ(Check(Product("ALPHA") + Product("*any") + Record('I', "")), 1);
  EXPECT_EQ(List(), " ");
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_EQ(app_.GetLoaderSkip(), 0u) << "left as it was";
}

TEST_F(ProductCheck, MalformedLoaderRefusesTheImage) {
  dir_.Write("kvr.ldr", Bytes({0xFF, 0xFF, 0xFF, 0xFF, 'P', 0x00, 'A'}));
  EXPECT_EQ(Check(Product("*") + Record('I', "")), 0);
  EXPECT_EQ(dialogs_.messages, std::vector<std::string>{"The loader file " + loader_ +
                                                        " has no valid product header"});
  EXPECT_EQ(List(), "<null>");
}

TEST_F(ProductCheck, ListOfMoreThan199CharactersIsRefused) {
  std::string a(66, 'a'), b(66, 'b'), c(64, 'c'), d(10, 'd');
  dir_.Write("kvr.ldr", testing::MarkedLoader({a, b, c, d}));
  // 66 + 1 + 66 + 1 + 64 + 1 = 199 characters just fit.
  EXPECT_EQ(Check(Product(a) + Product(b) + Product(c) + Record('I', "")), 1);
  EXPECT_EQ(List(), a + " " + b + " " + c + " ");
  EXPECT_TRUE(dialogs_.messages.empty());
  EXPECT_EQ(Check(Product(a) + Product(b) + Product(c) + Product(d) + Record('I', "")), 0);
  ASSERT_EQ(dialogs_.messages.size(), 1u);
  EXPECT_NE(dialogs_.messages[0].find("Too many products"), std::string::npos);
  EXPECT_EQ(List(), "<null>");
}

TEST_F(ProductCheck, LongestPayloadNameIsMatched) {
  std::string name(255, 'N');
  dir_.Write("kvr.ldr", testing::MarkedLoader({"x" + name}));
  ASSERT_EQ(Record('P', name)[1], '\0') << "L = 0";
  EXPECT_EQ(Check(Record('P', name) + Record('I', "")), 0) << "255 + 1 exceeds the list";
  EXPECT_EQ(Check(Record('P', name.substr(0, 198)) + Record('I', "")), 1);
  EXPECT_EQ(List(), name.substr(0, 198) + " ");
}

TEST_F(ProductCheck, AgentThatIsNoReadableFileIsRefused) {
  EXPECT_EQ(CheckAgentAt(dir_.Path("missing.bin")), 0);
  EXPECT_EQ(CheckAgentAt(dir_.Dir()), 0);
  EXPECT_EQ(dialogs_.messages,
            std::vector<std::string>(
                2, "Unable to find the bin file specified. Please check and try again"));
}

}  // namespace
}  // namespace portflash
