#include "image/bin_record.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <tuple>

#include "support/unit_rig.h"
#include "unit/image_test_files.h"

namespace portflash::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ::testing::Matcher;
using ::testing::StartsWith;
using Messages = std::vector<std::string>;

// The check byte makes L, the payload and itself sum to 0xFF: L = 1 is an empty
// payload, L = 0 wraps to 255 bytes. A file ending inside the record fails.
TEST(ReadBinRecord, LengthOneIsEmptyZeroCarries255BytesAndACutRecordFails) {
  std::string data(255, '\0');
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + 3);
  const std::string full = Record('C', data).substr(1) + "X";  // without its type byte
  // the bytes, the result, the length read (99: not written)
  std::vector<std::tuple<std::string, int, int>> cases = {
      {Bytes({0x01, 0xFE}), 0, 0},
      {Bytes({0x01, 0xFF}), -1, 99},
      {full, 0, 255},
      {full.substr(0, 256) + static_cast<char>(full[256] ^ 1), -1, 99},  // L counted as 0
      {Record('C', "abc").substr(1), 0, 3},
  };
  for (std::size_t cut = 0; cut < 5; ++cut)
    cases.emplace_back(Record('C', "abc").substr(1, cut), -1, 99);
  for (const auto& [bytes, result, length] : cases) {
    SCOPED_TRACE(bytes.size());
    BinPayload payload{};
    std::uint8_t got = 99;
    FileHandle file = Stream(bytes);
    EXPECT_EQ(ReadBinRecord(file.get(), &got, payload), result);
    EXPECT_EQ(got, length);
    if (length == 255) {
      EXPECT_EQ(std::string(payload.begin(), payload.begin() + 255), data);
      EXPECT_EQ(std::fgetc(file.get()), 'X');  // the record ends after its check byte
    }
  }
}

// CheckProducts: P records name products, I marks the image; the list commits when
// both have been seen, i clears both flags. The loader lists ALPHA and BETA run
// together ("ALPHABETA"), so names are looked up as substrings.
TEST(CheckProducts, CommitsTheSupportedNamesOnceAProductAndTheImageHaveBeenSeen) {
  const std::string alphaBeta = MarkedLoader({"ALPHA", "BETA"});
  const std::string a(66, 'a'), b(66, 'b'), c(64, 'c');
  const std::string abcd = MarkedLoader({a, b, c, "dddd"});
  const std::string abc = a + " " + b + " " + c + " ";
  const std::string image = Record('I', ""), clear = Record('i', "");
  const std::string ab = Product("ALPHA") + clear + image;
  // the agent, the result, the list committed (null: none), the box's start, the loader
  // (empty: no loader file)
  const std::tuple<std::string, int, const char*, std::string, std::string> cases[] = {
      {"", 1, nullptr, "", alphaBeta},
      {Record('C', "(c)") + Product("ALPHA") + Record('D', "") + Product("BETA") + Record('E', "") +
           Record('S', "xy") + image + Bytes({0}) + "body never read",
       1, "ALPHA BETA ", "", alphaBeta},
      {image + Product("ALPHA") + "\x7f" + Product("BETA"), 1, "ALPHA ", "", alphaBeta},
      // ALPH lies inside ALPHA, HABE spans the boundary, GAMMA is not listed.
      {Product("ALPHA") + Product("ALPH") + Product("GAMMA") + Product("HABE") + image, 1,
       "ALPHA HABE ", "", alphaBeta},
      {Record('P', "BETA") + image, 1, "BETA ", "", alphaBeta},  // the name needs no NUL
      {ab, 1, nullptr, "", alphaBeta},  // no commit at the I: read on to the end
      // A listed name does not set the flag again; a new one commits with the old list.
      {ab + Product("ALPHA") + Product("BETA"), 1, "ALPHA BETA ", "", alphaBeta},
      {ab + "\x7f body", 0, nullptr, "Unable to get agent record", alphaBeta},
      // The image record has no check byte.
      {Product("ALPHA") + image.substr(0, 2), 0, nullptr, "Unknown Firmware record", alphaBeta},
      // Without a loader list only wildcards count.
      {Product("ALPHA") + image, 1, nullptr, "", ""},
      {Product("ALPHA") + Product("*any") + image, 1, " ", "", ""},
      {Product("*") + image, 0, nullptr, "The loader file ", Bytes({0xFF, 0xFF, 0xFF, 0xFF, 'P'})},
      // The list is kept in 199 characters: 66 + 1 + 66 + 1 + 64 + 1 just fit.
      {Product(a) + Product(b) + Product(c) + image, 1, abc.c_str(), "", abcd},
      {Product(a) + Product(b) + Product(c) + Product("dddd") + image, 0, nullptr, "Too many",
       abcd},
  };
  for (const auto& [agent, result, list, message, loader] : cases) {
    SCOPED_TRACE(::testing::PrintToString(agent.substr(0, 40)));
    EngineRig rig;
    if (!loader.empty()) rig.WriteFile("kvr.ldr", loader);
    rig.app.SetLoaderPath(rig.Path("kvr.ldr").c_str());
    rig.profile.WriteString("Last Bin File", "Filename", rig.WriteFile("kvr-agent.bin", agent));
    rig.app.LoadLastAgentPath();
    EXPECT_EQ(rig.app.CheckProducts(), result);
    EXPECT_STREQ(rig.app.GetProductList(), list);
    EXPECT_THAT(rig.dialogs.messages,
                message.empty() ? Matcher<Messages>(IsEmpty()) : ElementsAre(StartsWith(message)));
  }
}

}  // namespace
}  // namespace portflash::testing
