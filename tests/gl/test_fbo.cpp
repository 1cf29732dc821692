#include <cstdint>
#include <ostream>
#include <regex>
#include <vector>

#include "gl_test_support.h"

namespace {

PX_FBO MakeTarget(uint32_t width, uint32_t height) {
  PX_FBO target;
  CaptureOutput([&] {
    target = FBOHelper::CreateTextureFBO(width, height, GL_CLAMP_TO_EDGE, GL_NEAREST, GL_RGBA32F,
                                         GL_DEPTH_COMPONENT32F);
  });
  return target;
}

TEST_F(GLTest, NewTargetIsClearAndUnbound) {
  PX_FBO target;
  std::string out = CaptureOutput([&] {
    target =
        FBOHelper::CreateTextureFBO(3, 2, GL_REPEAT, GL_LINEAR, GL_RGBA32F, GL_DEPTH_COMPONENT32F);
  });
  EXPECT_EQ(out, "Using GL_LINEAR\n");
  ASSERT_NE(target.fbo, 0u);
  EXPECT_NE(target.color.id, 0u);
  EXPECT_EQ(target.color.width, 3u);
  EXPECT_EQ(target.color.height, 2u);
  EXPECT_EQ(target.color.internalFormat, static_cast<uint32_t>(GL_RGBA32F));
  EXPECT_TRUE(target.color.isTexture);
  GLint bound = -1;
  glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
  EXPECT_EQ(bound, 0);
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  EXPECT_EQ(bound, 0);

  HostBuffer<float> read = ReadTarget(target);
  for (float channel : read.storage) EXPECT_EQ(channel, 0.0f);

  PX_FBO nearest;
  out = CaptureOutput(
      [&] { nearest = FBOHelper::CreateTextureFBO(1, 1, GL_REPEAT, GL_NEAREST, GL_RGBA32F, 0); });
  EXPECT_EQ(out, "Using GL_NEAREST\n");
  FBOHelper::DeleteGenericFBO(&nearest);
  FBOHelper::DeleteGenericFBO(&target);
}

TEST_F(GLTest, FramebufferThatCannotCompleteIsReportedAndDeletable) {
  // No attachment at all.
  GLRenderBuffer nothing{4, 4, 1, GL_RGBA32F, 0, GL_TEXTURE_2D, true};
  uint32_t fbo = 1;
  std::string out = CaptureOutput([&] { fbo = FBOHelper::CreateFBO(nothing); });
  EXPECT_EQ(fbo, 0u);
  EXPECT_EQ(out, "Framebuffer Error - GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENTCode: " +
                     std::to_string(GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT) + "\n");

  // A texture GL cannot allocate from RGBA data has no image to attach.
  PX_FBO target;
  out = CaptureOutput([&] {
    target =
        FBOHelper::CreateTextureFBO(4, 4, GL_CLAMP_TO_EDGE, GL_NEAREST, GL_DEPTH_COMPONENT32F, 0);
  });
  while (glGetError() != GL_NO_ERROR) {
  }
  std::smatch match;
  ASSERT_TRUE(std::regex_match(out, match,
                               std::regex("Using GL_NEAREST\nFramebuffer Error - ([A-Z_]*)Code: "
                                          "([0-9]+)\n")))
      << out;
  EXPECT_EQ(match[1].str(), FBOHelper::getFrameBufferError(std::stoul(match[2].str())));
  EXPECT_EQ(target.fbo, 0u);
  const GLuint texture = target.color.id;
  EXPECT_NE(texture, 0u);
  GLint bound = -1;
  glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
  EXPECT_EQ(bound, 0);

  FBOHelper::DeleteGenericFBO(&target);
  EXPECT_EQ(target.color.id, 0u);
  EXPECT_FALSE(glIsTexture(texture));
  FBOHelper::DeleteGenericFBO(&target);
  FBOHelper::DeleteGenericFBO(nullptr);

  EXPECT_STREQ(FBOHelper::getFrameBufferError(0x1234), "");
  EXPECT_STREQ(FBOHelper::getFrameBufferError(GL_FRAMEBUFFER_UNSUPPORTED),
               "GL_FRAMEBUFFER_UNSUPPORTED");
}

// The render's targets fail whole: whether the framebuffer is incomplete or the texture has no
// storage, nothing is left to delete, and an error pending from earlier work is no failure.
TEST_F(GLTest, TargetsThatMustBeWholeLeaveNothingOnFailure) {
  GLint max_size = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
  const auto too_wide = static_cast<uint32_t>(max_size) + 1;
  for (bool cleared : {false, true}) {
    auto make = [cleared](uint32_t width, int format) {
      PX_FBO target{};
      CaptureOutput([&] {
        target = cleared
                     ? FBOHelper::CreateClearedTextureFBO(width, 2, GL_REPEAT, GL_LINEAR, format)
                     : FBOHelper::CreateUnclearedTextureFBO(width, 2, GL_REPEAT, GL_LINEAR, format);
      });
      return target;
    };
    const PX_FBO unallocated = make(too_wide, GL_RGBA32F);
    EXPECT_EQ(unallocated.fbo, 0u) << cleared;
    EXPECT_EQ(unallocated.color.id, 0u) << cleared;
    const PX_FBO incomplete = make(2, GL_DEPTH_COMPONENT32F);
    EXPECT_EQ(incomplete.fbo, 0u) << cleared;
    EXPECT_EQ(incomplete.color.id, 0u) << cleared;
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR)) << cleared;

    glEnable(0);  // an error left by earlier work
    PX_FBO good = make(3, GL_RGBA32F);
    ASSERT_NE(good.fbo, 0u) << cleared;
    EXPECT_EQ(good.color.width, 3u);
    GLint bound = -1;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
    EXPECT_EQ(bound, 0);
    if (cleared) {
      HostBuffer<float> read = ReadTarget(good);
      for (float channel : read.storage) EXPECT_EQ(channel, 0.0f);
    }
    FBOHelper::DeleteGenericFBO(&good);
  }
}

// Odd widths with padded rows, under a caller's 8-byte alignment that would pad 4-byte rows.
TEST_F(GLTest, PaddedEightBitRowsRoundTripWithoutShear) {
  constexpr int kWidth = 5;
  constexpr int kHeight = 3;
  HostBuffer<uint8_t> source(kWidth, kHeight, 2, 0xAB);
  source.Paint([](int x, int y, int c) { return y * 70 + x * 11 + c; });
  PX_FBO target = MakeTarget(8, 8);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 8);
  glPixelStorei(GL_PACK_ALIGNMENT, 8);
  std::string out = CaptureOutput([&] { UploadToTexture(target.color.id, &source.def, 8); });
  EXPECT_EQ(out, "");

  HostBuffer<uint8_t> back(kWidth, kHeight, 2, 0xCD);
  out = CaptureOutput(
      [&] { FBOHelper::FBOtoEffectWorld(target, &back.def, 8, GL_COLOR_ATTACHMENT0); });
  EXPECT_EQ(out, "");
  GLint alignment = 0;
  glGetIntegerv(GL_UNPACK_ALIGNMENT, &alignment);
  EXPECT_EQ(alignment, 8);
  glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
  EXPECT_EQ(alignment, 8);
  glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
  glPixelStorei(GL_PACK_ALIGNMENT, 4);

  ExpectOnlyTheRectangleWritten<uint8_t>(back, source, 0xCD);

  // Only the buffer's rectangle at (0, 0) of the larger texture was written.
  HostBuffer<float> whole = ReadTarget(target);
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      if (x < kWidth && y < kHeight) continue;
      for (int c = 0; c < 4; ++c) EXPECT_EQ(whole.Pixel(x, y)[c], 0.0f) << x << "," << y;
    }
  }
  FBOHelper::DeleteGenericFBO(&target);
}

// The pixel-store state of one transfer direction, as glGetIntegerv reports it.
struct PixelStore {
  GLint row_length, skip_pixels, skip_rows, alignment, buffer;
  bool operator==(const PixelStore&) const = default;
};

std::ostream& operator<<(std::ostream& out, const PixelStore& s) {
  return out << "row length " << s.row_length << ", skip pixels " << s.skip_pixels << ", skip rows "
             << s.skip_rows << ", alignment " << s.alignment << ", buffer " << s.buffer;
}

struct PixelStoreNames {
  GLenum row_length, skip_pixels, skip_rows, alignment, buffer, buffer_binding;
};
constexpr PixelStoreNames kUnpack = {GL_UNPACK_ROW_LENGTH,   GL_UNPACK_SKIP_PIXELS,
                                     GL_UNPACK_SKIP_ROWS,    GL_UNPACK_ALIGNMENT,
                                     GL_PIXEL_UNPACK_BUFFER, GL_PIXEL_UNPACK_BUFFER_BINDING};
constexpr PixelStoreNames kPack = {GL_PACK_ROW_LENGTH,   GL_PACK_SKIP_PIXELS,
                                   GL_PACK_SKIP_ROWS,    GL_PACK_ALIGNMENT,
                                   GL_PIXEL_PACK_BUFFER, GL_PIXEL_PACK_BUFFER_BINDING};

void SetPixelStore(const PixelStoreNames& names, const PixelStore& s) {
  glPixelStorei(names.row_length, s.row_length);
  glPixelStorei(names.skip_pixels, s.skip_pixels);
  glPixelStorei(names.skip_rows, s.skip_rows);
  glPixelStorei(names.alignment, s.alignment);
  glBindBuffer(names.buffer, static_cast<GLuint>(s.buffer));
}

PixelStore GetPixelStore(const PixelStoreNames& names) {
  PixelStore s{-1, -1, -1, -1, -1};
  glGetIntegerv(names.row_length, &s.row_length);
  glGetIntegerv(names.skip_pixels, &s.skip_pixels);
  glGetIntegerv(names.skip_rows, &s.skip_rows);
  glGetIntegerv(names.alignment, &s.alignment);
  glGetIntegerv(names.buffer_binding, &s.buffer);
  return s;
}

// Whatever pixel-store state the caller (or another plug-in in the same context) left, the
// host's padded rows go to and from client memory at (0, 0) unsheared, and the caller gets its
// state back: with pixel buffers bound the data pointers would be offsets into them, with the
// caller's row length and skips the rows would be sheared and shifted, and with alignment 8 the
// 28-byte rows would be padded to 32.
TEST_F(GLTest, TransfersUseTheHostRowsAndGiveBackTheCallersPixelStore) {
  constexpr int kWidth = 5;
  constexpr int kHeight = 3;
  constexpr int kTarget = 8;
  // Rows past the buffer's height, there for a transfer that honours the caller's skips to land
  // in (and be seen to spoil) instead of running off the allocation.
  constexpr int kSpareRows = 3;
  constexpr GLsizeiptr kBufferBytes = 4096;
  constexpr uint8_t kBufferFill = 0x5A;
  const std::vector<uint8_t> buffer_fill(kBufferBytes, kBufferFill);
  const PixelStore defaults = {0, 0, 0, 4, 0};

  for (const bool odd : {false, true}) {
    SCOPED_TRACE(odd ? "odd caller state" : "default caller state");
    HostBuffer<uint8_t> source(kWidth, kHeight + kSpareRows, 2, 0xAB);
    source.def.height = kHeight;
    source.Paint([](int x, int y, int c) { return y * 70 + x * 11 + c + 1; });
    PX_FBO target = MakeTarget(kTarget, kTarget);

    GLuint buffers[2] = {0, 0};
    PixelStore unpack = defaults;
    PixelStore pack = defaults;
    if (odd) {
      glGenBuffers(2, buffers);
      glBindBuffer(GL_PIXEL_UNPACK_BUFFER, buffers[0]);
      glBufferData(GL_PIXEL_UNPACK_BUFFER, kBufferBytes, buffer_fill.data(), GL_STREAM_DRAW);
      glBindBuffer(GL_PIXEL_PACK_BUFFER, buffers[1]);
      glBufferData(GL_PIXEL_PACK_BUFFER, kBufferBytes, buffer_fill.data(), GL_STREAM_READ);
      unpack = {3, 1, 2, 8, static_cast<GLint>(buffers[0])};
      pack = {3, 1, 2, 8, static_cast<GLint>(buffers[1])};
    }
    SetPixelStore(kUnpack, unpack);
    SetPixelStore(kPack, pack);
    ASSERT_EQ(GetPixelStore(kUnpack), unpack);
    ASSERT_EQ(GetPixelStore(kPack), pack);

    EXPECT_TRUE(UploadToTexture(target.color.id, &source.def, 8));
    EXPECT_EQ(GetPixelStore(kUnpack), unpack) << "after the upload";
    EXPECT_EQ(GetPixelStore(kPack), pack) << "after the upload";
    GLint bound = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(bound, 0) << "texture after the upload";

    HostBuffer<uint8_t> back(kWidth, kHeight + kSpareRows, 2, 0xCD);
    back.def.height = kHeight;
    FBOHelper::FBOtoEffectWorld(target, &back.def, 8, GL_COLOR_ATTACHMENT0);
    EXPECT_EQ(GetPixelStore(kPack), pack) << "after the read-back";
    EXPECT_EQ(GetPixelStore(kUnpack), unpack) << "after the read-back";
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
    EXPECT_EQ(bound, 0) << "framebuffer after the read-back";
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    ExpectOnlyTheRectangleWritten<uint8_t>(back, source, 0xCD);
    if (odd) {
      std::vector<uint8_t> held(kBufferBytes, 0);
      glBindBuffer(GL_PIXEL_PACK_BUFFER, buffers[1]);
      glGetBufferSubData(GL_PIXEL_PACK_BUFFER, 0, kBufferBytes, held.data());
      EXPECT_EQ(held, buffer_fill) << "the read-back went into the caller's pixel-pack buffer";
    }

    // The texture, read with the default state: the source at (0, 0) and nothing elsewhere.
    SetPixelStore(kUnpack, defaults);
    SetPixelStore(kPack, defaults);
    glDeleteBuffers(2, buffers);
    HostBuffer<float> whole = ReadTarget(target);
    for (int y = 0; y < kTarget; ++y) {
      for (int x = 0; x < kTarget; ++x) {
        for (int c = 0; c < 4; ++c) {
          const bool inside = x < kWidth && y < kHeight;
          const float expected = inside ? source.Pixel(x, y)[c] / 255.0f : 0.0f;
          EXPECT_NEAR(whole.Pixel(x, y)[c], expected, 1e-6f) << x << "," << y << " channel " << c;
        }
      }
    }
    FBOHelper::DeleteGenericFBO(&target);
  }
}

TEST_F(GLTest, PaddedFloatRowsRoundTripUnclamped) {
  constexpr int kWidth = 3;
  constexpr int kHeight = 2;
  HostBuffer<float> source(kWidth, kHeight, 2, 555.0f);
  source.Paint([](int x, int y, int c) { return -1.5f + 0.75f * (y * 12 + x * 4 + c); });
  PX_FBO target = MakeTarget(4, 4);
  UploadToTexture(target.color.id, &source.def, 32);
  HostBuffer<float> back(kWidth, kHeight, 2, 777.0f);
  FBOHelper::FBOtoEffectWorld(target, &back.def, 32, GL_COLOR_ATTACHMENT0);
  ExpectOnlyTheRectangleWritten(back, source, 777.0f);
  FBOHelper::DeleteGenericFBO(&target);
}

TEST_F(GLTest, EightBitChannelsLandUnchangedAsUnitValues) {
  HostBuffer<uint8_t> source(1, 1, 0, 0);
  const uint8_t argb[4] = {255, 51, 102, 153};
  std::copy(argb, argb + 4, source.Pixel(0, 0));
  PX_FBO target = MakeTarget(1, 1);
  UploadToTexture(target.color.id, &source.def, 8);
  HostBuffer<float> read = ReadTarget(target);
  const float expected[4] = {1.0f, 0.2f, 0.4f, 0.6f};
  for (int c = 0; c < 4; ++c) EXPECT_NEAR(read.Pixel(0, 0)[c], expected[c], 1e-6f) << c;
  FBOHelper::DeleteGenericFBO(&target);
}

TEST_F(GLTest, UnusableBuffersAreRefusedUntouched) {
  PX_FBO target = MakeTarget(2, 2);
  HostBuffer<uint8_t> source(2, 2, 0, 200);
  HostBuffer<uint8_t> sink(2, 2, 0, 0xCD);
  auto target_is_clear = [&] {
    HostBuffer<float> read = ReadTarget(target);
    for (float channel : read.storage) {
      if (channel != 0.0f) return false;
    }
    return true;
  };
  auto sink_is_untouched = [&] {
    for (uint8_t byte : sink.storage) {
      if (byte != 0xCD) return false;
    }
    return true;
  };

  std::string out = CaptureOutput([&] { UploadToTexture(target.color.id, &source.def, 16); });
  EXPECT_EQ(out, "VRNX: UploadToTexture() called with unsupported bit depth 16\n");
  out = CaptureOutput(
      [&] { FBOHelper::FBOtoEffectWorld(target, &sink.def, 16, GL_COLOR_ATTACHMENT0); });
  EXPECT_EQ(out, "VRNX: FBOtoEffectWorld() called with unsupported bit depth 16\n");
  EXPECT_TRUE(sink_is_untouched());

  out = CaptureOutput([&] { UploadToTexture(target.color.id, nullptr, 8); });
  EXPECT_EQ(out, "VRNX: UploadToTexture() called without valid aeBuffer\n");
  out =
      CaptureOutput([&] { FBOHelper::FBOtoEffectWorld(target, nullptr, 8, GL_COLOR_ATTACHMENT0); });
  EXPECT_EQ(out, "VRNX: FBOtoEffectWorld() called without valid aeBuffer\n");

  // Rows shorter than the width would make GL run past the end of the buffer.
  source.def.rowbytes = 4;
  sink.def.rowbytes = 4;
  out = CaptureOutput([&] { UploadToTexture(target.color.id, &source.def, 8); });
  EXPECT_EQ(out.rfind("VRNX: UploadToTexture() called with unusable rowbytes 4", 0), 0u) << out;
  out = CaptureOutput(
      [&] { FBOHelper::FBOtoEffectWorld(target, &sink.def, 8, GL_COLOR_ATTACHMENT0); });
  EXPECT_EQ(out.rfind("VRNX: FBOtoEffectWorld() called with unusable rowbytes 4", 0), 0u) << out;
  EXPECT_TRUE(sink_is_untouched());
  EXPECT_TRUE(target_is_clear());

  // Without a texture the message comes first and the upload itself only raises a GL error.
  source.def.rowbytes = 8;
  out = CaptureOutput([&] { UploadToTexture(0, &source.def, 8); });
  EXPECT_EQ(out, "VRNX: UploadToTexture() called without valid texture\n");
  EXPECT_NE(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  EXPECT_TRUE(target_is_clear());

  FBOHelper::DeleteGenericFBO(&target);
}

}  // namespace
