// The lane's primitives checked against the openssl command: hexadecimal text,
// RC4 from the key's initial state, MD5, and the challenge keys.
#include "tools/lane/LaneChallenge.h"
#include "tools/lane/LaneCrypto.h"
#include "tools/lane/LaneHex.h"

#include <gtest/gtest.h>

#include "tests/lane/LaneTestSupport.h"

namespace paxelle::lane {
namespace {

using testing::PlainHex;
using testing::ReadBytes;
using testing::RunOpenSsl;
using testing::TempDir;
using testing::WriteBytes;

TEST(LaneHexTest, EncodesUpperCaseHighNibbleFirst) {
  EXPECT_EQ(BytesToHex(std::string("\x00\xAB\x7F\xFF", 4)), "00AB7FFF");
  EXPECT_EQ(BytesToHex(""), "");
}

TEST(LaneHexTest, DecodesOnlyEvenUpperCaseText) {
  const struct {
    const char* hex;
    bool ok;
    std::string bytes;
  } cases[] = {
      {"", true, ""},
      {"00AB", true, std::string("\x00\xAB", 2)},
      {"FF", true, "\xFF"},
      {"0A1", false, ""},  // odd length
      {"0a", false, ""},   // lower case is not a wire digit
      {"0G", false, ""},
      {"0 ", false, ""},
  };
  for (const auto& c : cases) {
    std::string bytes = "unchanged";
    EXPECT_EQ(HexToBytes(c.hex, bytes), c.ok) << c.hex;
    EXPECT_EQ(bytes, c.ok ? c.bytes : "unchanged") << c.hex;
  }
}

class LaneCryptoTest : public ::testing::Test {
 protected:
  // RC4 of `clear` under the 16-byte `key` by the openssl command.
  std::string OpenSslRc4(const std::string& key, const std::string& clear) {
    WriteBytes(dir_ / "clear", clear);
    const bool ran = RunOpenSsl("enc -rc4 -provider legacy -provider default -nosalt -K " + PlainHex(key) +
                                    " -in '" + (dir_ / "clear").string() + "' -out '" +
                                    (dir_ / "cipher").string() + "'",
                                dir_ / "enc.log");
    EXPECT_TRUE(ran) << ReadBytes(dir_ / "enc.log");
    return ReadBytes(dir_ / "cipher");
  }

  std::string OpenSslMd5(const std::string& data) {
    WriteBytes(dir_ / "data", data);
    const bool ran = RunOpenSsl(
        "dgst -md5 -binary -out '" + (dir_ / "digest").string() + "' '" + (dir_ / "data").string() + "'",
        dir_ / "dgst.log");
    EXPECT_TRUE(ran) << ReadBytes(dir_ / "dgst.log");
    return ReadBytes(dir_ / "digest");
  }

  TempDir dir_;
  LaneCrypto crypto_;
};

TEST_F(LaneCryptoTest, LoadsItsProviders) { ASSERT_TRUE(crypto_.IsReady()) << crypto_.LastError(); }

TEST_F(LaneCryptoTest, Rc4MatchesOpenSslForEveryMessageSize) {
  const std::string key("\x01\x23\x45\x67\x89\xAB\xCD\xEF\x00\x11\x22\x33\x44\x55\x66\x77", 16);
  for (std::size_t size : {std::size_t{1}, std::size_t{16}, std::size_t{255}, std::size_t{4000}}) {
    std::string clear;
    for (std::size_t i = 0; i < size; ++i) clear.push_back(static_cast<char>(i * 7 + 3));
    std::string cipher;
    ASSERT_TRUE(crypto_.Rc4(key, clear, cipher)) << crypto_.LastError();
    EXPECT_EQ(cipher, OpenSslRc4(key, clear)) << size << " bytes";
  }
}

TEST_F(LaneCryptoTest, Rc4StartsFromTheKeysInitialStateEveryCall) {
  const std::string key(16, '\x5A');
  std::string first;
  std::string second;
  std::string back;
  ASSERT_TRUE(crypto_.Rc4(key, "<?xml version", first));
  ASSERT_TRUE(crypto_.Rc4(key, "<?xml version", second));
  EXPECT_EQ(first, second);
  ASSERT_TRUE(crypto_.Rc4(key, first, back));
  EXPECT_EQ(back, "<?xml version");
  std::string empty = "unchanged";
  ASSERT_TRUE(crypto_.Rc4(key, "", empty));
  EXPECT_EQ(empty, "");
}

TEST_F(LaneCryptoTest, Rc4RefusesUnusableKeysAndLeavesTheOutputAlone) {
  std::string out = "unchanged";
  EXPECT_FALSE(crypto_.Rc4("", "data", out));
  EXPECT_FALSE(crypto_.LastError().empty());
  EXPECT_FALSE(crypto_.Rc4(std::string(257, 'k'), "data", out));
  EXPECT_EQ(out, "unchanged");
}

TEST_F(LaneCryptoTest, Md5MatchesOpenSsl) {
  std::string digest;
  ASSERT_TRUE(crypto_.Md5("Paxelle lane", digest));
  EXPECT_EQ(digest.size(), 16u);
  EXPECT_EQ(digest, OpenSslMd5("Paxelle lane"));
}

TEST_F(LaneCryptoTest, RandomGivesTheCountAskedFor) {
  std::string first;
  std::string second;
  ASSERT_TRUE(crypto_.Random(16, first));
  ASSERT_TRUE(crypto_.Random(16, second));
  EXPECT_EQ(first.size(), 16u);
  EXPECT_NE(first, second);
}

TEST(ChallengeMaterialTest, PreparationAddsTwoAtEvenAndOneAtOddPositions) {
  const struct {
    std::string material;
    std::string prepared;
  } cases[] = {
      {"", ""},
      {"AB", "CC"},
      {std::string("\x00\x00", 2), "\x02\x01"},
      {"\xFE\xFF", "\x01\x01"},  // both wrap to 0, which becomes 1
      {"\xFF\xFE", "\x01\xFF"},
      {"OPX", "QQZ"},
  };
  for (const auto& c : cases) EXPECT_EQ(PrepareMaterial(c.material), c.prepared) << PlainHex(c.material);
}

TEST(ChallengeMaterialTest, MaterialsAreTheSharedValues) {
  EXPECT_EQ(MaterialText(ChallengeMaterial::kStandard), "OPXIP-Std-7d1f4c9a2b6e8035");
  EXPECT_EQ(MaterialText(ChallengeMaterial::kAlternate), "OPXIP-Alt-c3e9a15f7b2d4068");
}

TEST_F(LaneCryptoTest, ChallengeKeyIsMd5OfThePreparedMaterialAndAnswersAreRc4UnderIt) {
  const std::string challenge("\x10\x32\x54\x76\x98\xBA\xDC\xFE\x01\x23\x45\x67\x89\xAB\xCD\xEF", 16);
  std::string keys[2];
  const ChallengeMaterial materials[] = {ChallengeMaterial::kStandard, ChallengeMaterial::kAlternate};
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(ChallengeKey(crypto_, materials[i], keys[i]));
    EXPECT_EQ(keys[i], OpenSslMd5(PrepareMaterial(MaterialText(materials[i]))));
    std::string answer;
    ASSERT_TRUE(EncryptChallenge(crypto_, materials[i], challenge, answer));
    EXPECT_EQ(answer, OpenSslRc4(keys[i], challenge));
  }
  EXPECT_NE(keys[0], keys[1]);
}

}  // namespace
}  // namespace paxelle::lane
