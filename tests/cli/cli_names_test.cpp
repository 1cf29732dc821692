// The command's own table of control identifiers against the effect's index list.
#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "media/frame_pattern.h"
#include "pipeline/errors.h"
#include "pipeline/param_names.h"
#include "support/cli_support.h"

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
  ASSERT_EQ(vpipe::kParamNames.size(), 70u);
  for (size_t i = 0; i < names.size(); ++i) EXPECT_EQ(vpipe::kParamNames[i], names[i]) << i;
}

TEST(CliFramePattern, HashesAndPrintfGiveZeroPaddedNumbers) {
  auto hashes = vmedia::ParseFramePattern("out/f####.png", "output");
  ASSERT_TRUE(hashes);
  EXPECT_EQ(vmedia::ExpandFramePattern(*hashes, 7), "out/f0007.png");
  EXPECT_EQ(vmedia::ExpandFramePattern(*hashes, 123456), "out/f123456.png");
  auto printf_style = vmedia::ParseFramePattern("f.%05d.exr", "output");
  ASSERT_TRUE(printf_style);
  EXPECT_EQ(vmedia::ExpandFramePattern(*printf_style, 42), "f.00042.exr");
  auto plain = vmedia::ParseFramePattern("f_%d.png", "output");
  ASSERT_TRUE(plain);
  EXPECT_EQ(vmedia::ExpandFramePattern(*plain, 42), "f_42.png");
}

TEST(CliFramePattern, NamesWithoutOneClearPlaceholder) {
  EXPECT_FALSE(vmedia::ParseFramePattern("out/still.png", "output"));
  EXPECT_FALSE(
      vmedia::ParseFramePattern("100%.png", "output"));  // a percent sign alone is no placeholder
  EXPECT_THROW(vmedia::ParseFramePattern("f##_%04d.png", "output"), vpipe::InputError);
  EXPECT_THROW(vmedia::ParseFramePattern("shot_##/f.png", "output"), vpipe::InputError);
}

}  // namespace
