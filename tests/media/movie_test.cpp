// Movies through FFmpeg's libraries: what our writer encodes, our movie source decodes, frame by
// frame and at random, and the files it must refuse.
#include "media/movie.h"

extern "C" {
#include <libavutil/log.h>
}

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/clips.h"

namespace fs = std::filesystem;
using cliptest::ClipDir;
using cliptest::ClipFrame;
using cliptest::ClipOptions;
using cliptest::ReadCode;
using cliptest::WriteClip;

namespace {

// FFmpeg's libraries report to stderr; the expectations here say what went wrong instead.
struct QuietLibav : ::testing::Environment {
  void SetUp() override { av_log_set_level(AV_LOG_QUIET); }
};
const auto* const kQuietLibav = ::testing::AddGlobalTestEnvironment(new QuietLibav);

// The largest difference between two images over every pixel and channel.
float MaxDifference(const vhost::Image& a, const vhost::Image& b) {
  float worst = 0;
  for (int y = 0; y < a.height; ++y) {
    for (int x = 0; x < a.width; ++x) {
      for (int c = 0; c < 4; ++c)
        worst = std::max(worst, std::fabs(a.Get(x, y, c) - b.Get(x, y, c)));
    }
  }
  return worst;
}

// The FootageError that opening `path` and decoding all its frames raises, or a failure.
vmedia::FootageError RefusalOf(const std::string& path) {
  try {
    auto movie = vmedia::OpenMovie(path);
    for (int n = movie->range().first; n <= movie->range().last; ++n) movie->Frame(n, 8);
  } catch (const vmedia::FootageError& e) {
    return e;
  }
  ADD_FAILURE() << path << " was read without complaint";
  return vmedia::FootageError("");
}

void CopyPrefix(const std::string& from, const std::string& to, double fraction) {
  std::ifstream in(from, std::ios::binary);
  std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::ofstream(to, std::ios::binary)
      .write(bytes.data(),
             static_cast<std::streamsize>(static_cast<double>(bytes.size()) * fraction));
}

TEST(MovieTest, LosslessClipComesBackExactWithItsCountAndExactRate) {
  ClipDir dir;
  const std::string path = dir / "clip.mkv";
  WriteClip(path, 5, ClipOptions(8, {24000, 1001}));

  auto movie = vmedia::OpenMovie(path);
  EXPECT_EQ(movie->kind(), vmedia::SourceKind::kMovie);
  EXPECT_EQ(movie->path(), path);
  EXPECT_EQ(movie->range().first, 0);
  EXPECT_EQ(movie->range().last, 4);
  EXPECT_EQ(movie->fps().num, 24000);
  EXPECT_EQ(movie->fps().den, 1001);
  EXPECT_EQ(movie->width(), cliptest::kWidth);
  EXPECT_EQ(movie->height(), cliptest::kHeight);
  EXPECT_EQ(movie->depth(), 8);
  for (int k = 0; k < 5; ++k) {
    const vhost::Image got = movie->Frame(k, 8);
    EXPECT_EQ(got.bpc, 8);
    EXPECT_EQ(MaxDifference(got, ClipFrame(k, 8)), 0.0f) << "frame " << k;
  }
  // The same picture at 32 bits is the bytes over 255, alpha straight.
  const vhost::Image deep = movie->Frame(3, 32);
  EXPECT_EQ(deep.bpc, 32);
  EXPECT_LT(MaxDifference(deep, ClipFrame(3, 8)), 1e-6f);
}

TEST(MovieTest, FramesAskedOutOfOrderMatchTheSequentialRead) {
  // Key frames every 4 frames, so that most jumps land between key frames and need the decode
  // on from the one before; the order has jumps back, forward past a key frame, and repeats.
  const int order[] = {9, 2, 11, 11, 0, 5, 4, 10, 1, 7, 3, 8, 6, 6, 2};
  for (const char* name : {"gop.mkv", "gop.mp4"}) {
    SCOPED_TRACE(name);
    ClipDir dir;
    const std::string path = dir / name;
    vmedia::MovieWriterOptions o = ClipOptions();
    o.gop_size = 4;
    WriteClip(path, 12, o);

    auto movie = vmedia::OpenMovie(path);
    ASSERT_EQ(movie->range().count(), 12);
    std::vector<vhost::Image> sequential;
    for (int k = 0; k < 12; ++k) {
      sequential.push_back(movie->Frame(k, 8));
      EXPECT_EQ(ReadCode(sequential.back()), k);
    }
    for (int n : order) {
      EXPECT_EQ(MaxDifference(movie->Frame(n, 8), sequential[n]), 0.0f) << "frame " << n;
    }
  }
}

TEST(MovieTest, H264ClipDecodesToItsFrameNumbersOpaque) {
  ClipDir dir;
  const std::string path = dir / "clip.mp4";
  WriteClip(path, 8, ClipOptions(8, {30, 1}));

  auto movie = vmedia::OpenMovie(path);
  EXPECT_EQ(movie->range().count(), 8);
  EXPECT_EQ(movie->fps().num, 30);
  EXPECT_EQ(movie->fps().den, 1);
  EXPECT_EQ(movie->depth(), 8);
  for (int k = 0; k < 8; ++k) {
    const vhost::Image got = movie->Frame(k, 8);
    EXPECT_EQ(ReadCode(got), k);
    EXPECT_EQ(got.Get(40, 30, 0), 1.0f);  // the clip's alpha is dropped; no alpha is opaque
  }
}

TEST(MovieTest, ProResKeepsAlphaAndReadsAsDeep) {
  ClipDir dir;
  const std::string path = dir / "clip.mov";
  WriteClip(path, 3, ClipOptions());

  auto movie = vmedia::OpenMovie(path);
  EXPECT_EQ(movie->depth(), 32);  // ten bits per sample
  for (int k = 0; k < 3; ++k) {
    const vhost::Image got = movie->Frame(k, 32);
    EXPECT_EQ(ReadCode(got), k);
    float worst_alpha = 0;
    for (int y = cliptest::kCodeRows; y < cliptest::kHeight; ++y) {
      for (int x = 0; x < cliptest::kWidth; ++x) {
        const float want = cliptest::Sample8(k, x, y, 0) / 255.0f;
        worst_alpha = std::max(worst_alpha, std::fabs(got.Get(x, y, 0) - want));
      }
    }
    EXPECT_LT(worst_alpha, 2.0f / 255.0f) << "frame " << k;
  }
}

TEST(MovieTest, SixteenBitLosslessFromA32BitRenderIsDeepAndKeepsItsSamples) {
  ClipDir dir;
  const std::string path = dir / "deep.mkv";
  WriteClip(path, 3, ClipOptions(32));

  auto movie = vmedia::OpenMovie(path);
  EXPECT_EQ(movie->depth(), 32);
  for (int k = 0; k < 3; ++k) {
    EXPECT_LT(MaxDifference(movie->Frame(k, 32), ClipFrame(k, 32)), 0.5f / 65535.0f)
        << "frame " << k;
  }
}

TEST(MovieTest, FilesThatAreNoUsableMovieAreRefusedNamingTheFile) {
  ClipDir dir;
  const std::string text = dir / "notes.mov";
  std::ofstream(text) << "not a movie at all, only a line of text\n";

  // A WAV file: a header and a tenth of a second of silence, audio only.
  const std::string audio = dir / "tone.wav";
  {
    const uint32_t rate = 8000, samples = 800, data_bytes = samples * 2;
    std::ofstream out(audio, std::ios::binary);
    auto u32 = [&](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4), u32(36 + data_bytes), out.write("WAVEfmt ", 8), u32(16);
    u16(1), u16(1), u32(rate), u32(rate * 2), u16(2), u16(16);
    out.write("data", 4), u32(data_bytes);
    out.write(std::string(data_bytes, '\0').data(), data_bytes);
  }

  const std::string whole_mkv = dir / "whole.mkv";
  const std::string whole_mp4 = dir / "whole.mp4";
  WriteClip(whole_mkv, 24, ClipOptions());
  WriteClip(whole_mp4, 24, ClipOptions());
  const std::string cut_mkv = dir / "cut.mkv";
  const std::string cut_mp4 = dir / "cut.mp4";
  CopyPrefix(whole_mkv, cut_mkv, 0.5);
  CopyPrefix(whole_mp4, cut_mp4, 0.5);

  for (const std::string& bad : {text, audio, cut_mkv, cut_mp4, dir / "missing.mkv"}) {
    const vmedia::FootageError e = RefusalOf(bad);
    EXPECT_NE(std::string(e.what()).find(bad), std::string::npos) << e.what();
    EXPECT_EQ(std::string(e.what()).find('\n'), std::string::npos) << e.what();
  }
  EXPECT_NE(std::string(RefusalOf(audio).what()).find("no video stream"), std::string::npos);
  // The good files beside them still open.
  EXPECT_EQ(vmedia::OpenMovie(whole_mkv)->range().count(), 24);
  EXPECT_EQ(vmedia::OpenMovie(whole_mp4)->range().count(), 24);
}

TEST(MovieWriterTest, OnlyFinishPutsTheFileInPlace) {
  ClipDir dir;
  const std::string target = dir / "out.mkv";
  auto files_in_dir = [&] {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir.path())) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  };

  {  // abandoned with no target yet: nothing is left
    vmedia::MovieWriter writer(target, ClipOptions());
    writer.Write(ClipFrame(0, 8));
    writer.Write(ClipFrame(1, 8));
    EXPECT_EQ(files_in_dir().size(), 1u);  // the temporary file, under another name
    EXPECT_FALSE(fs::exists(target));
  }
  EXPECT_TRUE(files_in_dir().empty());

  std::ofstream(target) << "earlier render";
  {  // abandoned after a refused frame: the earlier target stays as it was
    vmedia::MovieWriter writer(target, ClipOptions());
    writer.Write(ClipFrame(0, 8));
    EXPECT_THROW(writer.Write(ClipFrame(1, 32)), vmedia::FootageError);
  }
  EXPECT_EQ(files_in_dir(), std::vector<std::string>{"out.mkv"});
  std::ifstream kept(target);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "earlier render");

  {  // finished: the new movie replaces it
    vmedia::MovieWriter writer(target, ClipOptions());
    writer.Write(ClipFrame(0, 8));
    writer.Write(ClipFrame(1, 8));
    writer.Finish();
    EXPECT_EQ(writer.frames_written(), 2);
  }
  EXPECT_EQ(files_in_dir(), std::vector<std::string>{"out.mkv"});
  EXPECT_EQ(vmedia::OpenMovie(target)->range().count(), 2);
  // Readable by whoever the user's other new files are readable by, not kept to the owner.
  const mode_t mask = umask(0);
  umask(mask);
  EXPECT_EQ(fs::status(target).permissions(), static_cast<fs::perms>(0666 & ~mask));

  EXPECT_THROW(vmedia::MovieWriter(dir / "out.xyz", ClipOptions()), vmedia::FootageError);
  EXPECT_TRUE(files_in_dir().size() == 1u);
}

}  // namespace
