// Running the built varnex as a user does, and tiny images for it, for the cli tests.
#pragma once

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/child_process.h"
#include "support/temp_dir.h"

namespace clitest {

namespace fs = std::filesystem;

struct RunResult {
  int status = -1;  // exit status, or -1 when the command did not exit normally
  std::string out;
  std::string err;
};

using testsupport::ReadFile;

// The lines of `text`, without their line ends.
inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

using testsupport::TempDir;

// Runs varnex with `args`, capturing both output streams through files in `dir`.
inline RunResult RunVarnex(const std::vector<std::string>& args, const TempDir& dir) {
  testsupport::ChildOptions options;
  options.capture = dir.path().parent_path();
  options.timeout_s = 240;
  const testsupport::ChildRun run = testsupport::RunChild(VARNEX_CLI, args, options);
  EXPECT_FALSE(run.timed_out) << "varnex ran past " << options.timeout_s << " s";
  RunResult result;
  result.status = run.status;
  result.out = run.out;
  result.err = run.err;
  return result;
}

// Pixels as stored in a file, `channels` floats per pixel, rows top first.
struct Picture {
  int width = 0;
  int height = 0;
  int channels = 0;
  std::vector<float> pixels;
  float at(int x, int y, int c) const { return pixels[(y * width + x) * channels + c]; }
  float* ptr(int x, int y) { return &pixels[(y * width + x) * channels]; }
};

inline Picture MakePicture(int width, int height, int channels) {
  return {width, height, channels, std::vector<float>(width * height * channels, 0.0f)};
}

// Writes as stored: PNG keeps straight alpha, EXR whatever values it is given (associated).
inline void WritePicture(const fs::path& path, const Picture& picture,
                         OIIO::TypeDesc format = OIIO::TypeDesc::UINT8) {
  auto out = OIIO::ImageOutput::create(path.string());
  ASSERT_TRUE(out) << path;
  OIIO::ImageSpec layout(picture.width, picture.height, picture.channels, format);
  if (picture.channels == 4) {
    layout.alpha_channel = 3;
    layout.attribute("oiio:UnassociatedAlpha", 1);
  }
  ASSERT_TRUE(out->open(path.string(), layout)) << out->geterror();
  ASSERT_TRUE(out->write_image(OIIO::TypeDesc::FLOAT, picture.pixels.data()));
  ASSERT_TRUE(out->close());
}

inline Picture ReadPicture(const fs::path& path) {
  Picture picture;
  OIIO::ImageSpec config;
  config.attribute("oiio:UnassociatedAlpha", 1);
  auto in = OIIO::ImageInput::open(path.string(), &config);
  EXPECT_TRUE(in) << path << ": " << OIIO::geterror();
  if (!in) return picture;
  picture.width = in->spec().width;
  picture.height = in->spec().height;
  picture.channels = in->spec().nchannels;
  picture.pixels.resize(picture.width * picture.height * picture.channels);
  EXPECT_TRUE(
      in->read_image(0, 0, 0, picture.channels, OIIO::TypeDesc::FLOAT, picture.pixels.data()));
  return picture;
}

// A 32 x 24 opaque picture whose pixels all differ: red from x, green from y, on 8-bit steps.
inline Picture GradientPicture(int channels = 4) {
  Picture p = MakePicture(32, 24, channels);
  for (int y = 0; y < p.height; ++y) {
    for (int x = 0; x < p.width; ++x) {
      float* px = p.ptr(x, y);
      px[0] = (x * 8) / 255.0f;
      px[1] = (y * 10) / 255.0f;
      px[2] = 128 / 255.0f;
      if (channels == 4) px[3] = 1.0f;
    }
  }
  return p;
}

// Expects `out` to be `in` moved `shift` pixels toward larger x, transparent black where nothing
// came in.
inline void ExpectShifted(const Picture& in, const Picture& out, int shift, float tolerance) {
  ASSERT_EQ(out.width, in.width);
  ASSERT_EQ(out.height, in.height);
  ASSERT_EQ(out.channels, 4);
  for (int y = 0; y < in.height; ++y) {
    for (int x = 0; x < in.width; ++x) {
      const int sx = x - shift;
      const bool inside = sx >= 0 && sx < in.width;
      for (int c = 0; c < 4; ++c) {
        const float want = inside ? in.at(sx, y, c) : 0.0f;
        ASSERT_NEAR(out.at(x, y, c), want, tolerance)
            << "pixel (" << x << ", " << y << ") channel " << c << ", shift " << shift;
      }
    }
  }
}

}  // namespace clitest
