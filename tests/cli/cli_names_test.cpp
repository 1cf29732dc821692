// The command's own table of control identifiers against the effect's index list.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "cli/errors.h"
#include "cli/frame_pattern.h"
#include "cli/param_names.h"
#include "cli_support.h"

namespace {

TEST(CliNames, IdentifierTableMatchesTheEffectsIndexList) {
  const std::string header =
      clitest::ReadFile(std::string(VARNEX_SOURCE_DIR) + "/effect/params/param_ids.h");
  const size_t begin = header.find("enum ParamIndex");
  ASSERT_NE(begin, std::string::npos);
  const std::string body = header.substr(begin, header.find("};", begin) - begin);
  std::vector<std::string> names;
  const std::regex name("PARAM_[A-Z0-9_]+");
  for (auto it = std::sregex_iterator(body.begin(), body.end(), name); it != std::sregex_iterator();
       ++it) {
    if (it->str() != "PARAM_NUM_PARAMS") names.push_back(it->str());
  }
  ASSERT_EQ(names.size(), 70u);
  ASSERT_EQ(vcli::kParamNames.size(), 70u);
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(vcli::kParamNames[i], names[i]) << i;
}

TEST(CliFramePattern, HashesAndPrintfGiveZeroPaddedNumbers) {
  auto hashes = vcli::ParseFramePattern("out/f####.png");
  ASSERT_TRUE(hashes);
  EXPECT_EQ(vcli::ExpandFramePattern(*hashes, 7), "out/f0007.png");
  EXPECT_EQ(vcli::ExpandFramePattern(*hashes, 123456), "out/f123456.png");
  auto printf_style = vcli::ParseFramePattern("f.%05d.exr");
  ASSERT_TRUE(printf_style);
  EXPECT_EQ(vcli::ExpandFramePattern(*printf_style, 42), "f.00042.exr");
  auto plain = vcli::ParseFramePattern("f_%d.png");
  ASSERT_TRUE(plain);
  EXPECT_EQ(vcli::ExpandFramePattern(*plain, 42), "f_42.png");
}

TEST(CliFramePattern, NamesWithoutOneClearPlaceholder) {
  EXPECT_FALSE(vcli::ParseFramePattern("out/still.png"));
  EXPECT_FALSE(vcli::ParseFramePattern("100%.png"));  // a percent sign alone is no placeholder
  EXPECT_THROW(vcli::ParseFramePattern("f##_%04d.png"), vcli::InputError);
  EXPECT_THROW(vcli::ParseFramePattern("shot_##/f.png"), vcli::InputError);
}

}  // namespace
