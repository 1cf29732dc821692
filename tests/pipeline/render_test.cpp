// The render library called as a front end calls it: a typed request in, frames written, progress
// and warnings through the observer, refusals as exceptions before anything is written.
#include "pipeline/render.h"

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pipeline/errors.h"
#include "pipeline/options.h"
#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

class Recorder : public vpipe::RenderObserver {
 public:
  void Planned(const vpipe::RenderSettings& settings) override {
    planned = static_cast<int>(settings.frames.size());
  }
  void FrameDone(int frame, int done, int total, double) override {
    frames.push_back(frame);
    counts.push_back(done);
    EXPECT_EQ(total, planned);
  }
  void FramesEnded() override { ++ended; }
  void Warning(const std::string& line) override { warnings.push_back(line); }

  int planned = -1;
  int ended = 0;
  std::vector<int> frames, counts;
  std::vector<std::string> warnings;
};

// A 16-bit picture whose samples differ below 8 bits, so that an 8-bit render loses them.
void WriteDeepPicture(const fs::path& path) {
  std::vector<uint16_t> pixels(12 * 8 * 4);
  for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<uint16_t>(i * 97 % 65536);
  auto out = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(out);
  OIIO::ImageSpec spec(12, 8, 4, OIIO::TypeDesc::UINT16);
  ASSERT_TRUE(out->open(path.string(), spec));
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::UINT16, pixels.data()));
  ASSERT_TRUE(out->close());
}

vpipe::RenderRequest Request(const testsupport::TempDir& dir) {
  vpipe::RenderRequest request;
  vpipe::SetOption(&request, "input", (dir / "in.png").string());
  vpipe::SetOption(&request, "output", (dir / "f####.png").string());
  vpipe::SetOption(&request, "frames", "0-2");
  vpipe::SetOption(&request, "depth", "8");
  vpipe::SetOption(&request, "set", "Rotate=10");
  return request;
}

TEST(PipelineRender, FramesAreWrittenAndToldToTheObserverWithTheWarnings) {
  testsupport::TempDir dir;
  WriteDeepPicture(dir / "in.png");
  Recorder recorder;
  const vpipe::RenderResult result = vpipe::Render(VARNEX_MODULE, Request(dir), recorder);
  EXPECT_TRUE(result.all_done());
  EXPECT_EQ(recorder.planned, 3);
  EXPECT_EQ(recorder.counts, (std::vector<int>{1, 2, 3}));
  std::sort(recorder.frames.begin(), recorder.frames.end());
  EXPECT_EQ(recorder.frames, (std::vector<int>{0, 1, 2}));
  EXPECT_EQ(recorder.ended, 1);
  // The 8-bit render of 16-bit footage is said once, before the frames, to the observer.
  ASSERT_EQ(recorder.warnings.size(), 1u);
  EXPECT_NE(recorder.warnings[0].find("the 8-bit render keeps 8 bits of them"), std::string::npos)
      << recorder.warnings[0];
  for (const char* name : {"f0000.png", "f0001.png", "f0002.png"})
    EXPECT_TRUE(fs::exists(dir / name)) << name;
  // Each file says what wrote it.
  auto written = OIIO::ImageInput::open((dir / "f0001.png").string());
  ASSERT_TRUE(written);
  EXPECT_EQ(written->spec().get_string_attribute("Software"),
            std::string("varnex ") + VARNEX_EXPECTED_VERSION);
}

TEST(PipelineRender, ARefusedRequestThrowsBeforeWritingAnything) {
  testsupport::TempDir dir;
  WriteDeepPicture(dir / "in.png");
  Recorder recorder;
  vpipe::RenderRequest request = Request(dir);
  vpipe::SetOption(&request, "no-overwrite", "true");
  std::ofstream(dir / "f0001.png") << "mine";
  EXPECT_THROW(vpipe::Render(VARNEX_MODULE, request, recorder), vpipe::InputError);
  EXPECT_FALSE(fs::exists(dir / "f0000.png"));
  EXPECT_EQ(recorder.frames.size(), 0u);
  std::ifstream kept(dir / "f0001.png");
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "mine");

  // A value the table refuses names its option.
  try {
    vpipe::SetOption(&request, "downsample", "0");
    FAIL() << "downsample 0 was taken";
  } catch (const vpipe::InputError& e) {
    EXPECT_NE(std::string(e.what()).find("--downsample \"0\""), std::string::npos) << e.what();
  }
}

}  // namespace
