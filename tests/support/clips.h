// Tiny movie clips for the footage tests, written with our own MovieWriter, whose frames carry
// their own number twice: as a coarse binary code that survives lossy codecs, and in exact
// per-pixel values for the lossless ones. Audio is muxed in beside them here, by FFmpeg's
// libraries directly, so that the writer's own audio copy never makes the clips it is tested on.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "hostapp/image.h"
#include "media/libav.h"
#include "media/movie_writer.h"

namespace cliptest {

constexpr int kWidth = 64;
constexpr int kHeight = 36;
// The code fills the top rows: one column band of kBandWidth pixels per bit of the number,
// white for a set bit, black for a clear one, opaque.
constexpr int kCodeRows = 18;
constexpr int kBandWidth = 8;
constexpr int kCodeBits = kWidth / kBandWidth;

// The exact 8-bit samples of frame k's pixel (x, y), host channel c (0 alpha .. 3 blue), below
// the code rows. Each channel moves with k differently, so a neighbouring frame never matches.
inline int Sample8(int k, int x, int y, int c) {
  switch (c) {
    case 0:
      return (255 - x - 3 * k) & 255;
    case 1:
      return (x * 4 + k * 9) & 255;
    case 2:
      return (y * 7 + k * 16) & 255;
    default:
      return (x * y + k) & 255;
  }
}
// The same for 32-bit renders, on a 16-bit grid so that an 8-bit path cannot reproduce it.
inline float SampleDeep(int k, int x, int y, int c) {
  return static_cast<float>((Sample8(k, x, y, c) * 257 + x * 13 + c * 5) % 65536) / 65535.0f;
}

inline vhost::Image ClipFrame(int k, int bpc) {
  vhost::Image img = vhost::Image::Make(kWidth, kHeight, bpc);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      for (int c = 0; c < 4; ++c) {
        float v;
        if (y < kCodeRows) {
          v = c == 0 || ((k >> (x / kBandWidth)) & 1) ? 1.0f : 0.0f;
        } else {
          v = bpc == 32 ? SampleDeep(k, x, y, c) : Sample8(k, x, y, c) / 255.0f;
        }
        img.Set(x, y, c, v);
      }
    }
  }
  return img;
}

// The number in a decoded frame's code, read from the middle of each band.
inline int ReadCode(const vhost::Image& img) {
  int k = 0;
  for (int bit = 0; bit < kCodeBits; ++bit) {
    float sum = 0;
    int n = 0;
    for (int y = 3; y < kCodeRows - 3; ++y) {
      for (int x = bit * kBandWidth + 2; x < (bit + 1) * kBandWidth - 2; ++x, ++n) {
        sum += img.Get(x, y, 1) + img.Get(x, y, 2) + img.Get(x, y, 3);
      }
    }
    if (sum / (3.0f * static_cast<float>(n)) > 0.5f) k |= 1 << bit;
  }
  return k;
}

inline vmedia::MovieWriterOptions ClipOptions(int bpc = 8, vmedia::Rational fps = {24, 1}) {
  vmedia::MovieWriterOptions o;
  o.width = kWidth;
  o.height = kHeight;
  o.bpc = bpc;
  o.fps = fps;
  return o;
}

// Writes frames 0 .. frames-1 to `path` and finishes the file.
inline void WriteClip(const std::string& path, int frames, const vmedia::MovieWriterOptions& o) {
  vmedia::MovieWriter writer(path, o);
  for (int k = 0; k < frames; ++k) writer.Write(ClipFrame(k, o.bpc));
  writer.Finish();
}

// Writes `path` with the video packets of `video_clip` (a clip WriteClip made) as stream 0, then
// one mono 48 kHz stream per encoder named, each `seconds` of noise, so that no two packets hold
// the same bytes. Fails the test and returns early on any error.
inline void MuxWithAudio(const std::string& video_clip, const std::vector<std::string>& encoders,
                         double seconds, const std::string& path) {
  AVFormatContext* raw = nullptr;
  ASSERT_EQ(avformat_open_input(&raw, video_clip.c_str(), nullptr, nullptr), 0);
  const vmedia::av::InputPtr in(raw);
  ASSERT_GE(avformat_find_stream_info(in.get(), nullptr), 0);
  ASSERT_GE(avformat_alloc_output_context2(&raw, nullptr, nullptr, path.c_str()), 0);
  const vmedia::av::OutputPtr out(raw);
  AVStream* video = avformat_new_stream(out.get(), nullptr);
  ASSERT_GE(avcodec_parameters_copy(video->codecpar, in->streams[0]->codecpar), 0);
  video->codecpar->codec_tag = 0;
  video->time_base = in->streams[0]->time_base;

  std::vector<vmedia::av::CodecPtr> coders;
  for (const std::string& name : encoders) {
    const AVCodec* codec = avcodec_find_encoder_by_name(name.c_str());
    ASSERT_TRUE(codec) << name;
    AVCodecContext* ctx = coders.emplace_back(avcodec_alloc_context3(codec)).get();
    ctx->sample_rate = 48000;
    ctx->sample_fmt = codec->sample_fmts[0];
    ctx->ch_layout = AV_CHANNEL_LAYOUT_MONO;
    ctx->time_base = {1, ctx->sample_rate};
    if (out->oformat->flags & AVFMT_GLOBALHEADER) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    ASSERT_EQ(avcodec_open2(ctx, codec, nullptr), 0) << name;
    AVStream* audio = avformat_new_stream(out.get(), nullptr);
    ASSERT_GE(avcodec_parameters_from_context(audio->codecpar, ctx), 0);
    audio->time_base = ctx->time_base;
  }
  ASSERT_GE(avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE), 0);
  ASSERT_GE(avformat_write_header(out.get(), nullptr), 0);

  const vmedia::av::PacketPtr packet(av_packet_alloc());
  while (av_read_frame(in.get(), packet.get()) >= 0) {
    if (packet->stream_index != 0) {
      av_packet_unref(packet.get());
      continue;
    }
    av_packet_rescale_ts(packet.get(), in->streams[0]->time_base, video->time_base);
    packet->pos = -1;
    ASSERT_GE(av_interleaved_write_frame(out.get(), packet.get()), 0);
  }
  uint32_t noise = 12345;
  for (size_t s = 0; s < coders.size(); ++s) {
    AVCodecContext* ctx = coders[s].get();
    AVStream* audio = out->streams[s + 1];
    const vmedia::av::FramePtr frame(av_frame_alloc());
    frame->format = ctx->sample_fmt;
    frame->nb_samples = ctx->frame_size > 0 ? ctx->frame_size : 1024;
    ASSERT_GE(av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout), 0);
    ASSERT_GE(av_frame_get_buffer(frame.get(), 0), 0);
    const int64_t total = static_cast<int64_t>(seconds * ctx->sample_rate);
    for (int64_t at = 0; at <= total; at += frame->nb_samples) {
      const bool flush = at + frame->nb_samples > total;
      ASSERT_GE(av_frame_make_writable(frame.get()), 0);
      for (int i = 0; i < frame->nb_samples; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const int16_t sample = static_cast<int16_t>(noise >> 18);  // a quarter of full scale
        if (ctx->sample_fmt == AV_SAMPLE_FMT_S16) {
          reinterpret_cast<int16_t*>(frame->data[0])[i] = sample;
        } else {
          reinterpret_cast<float*>(frame->data[0])[i] = static_cast<float>(sample) / 32768.0f;
        }
      }
      frame->pts = at;
      ASSERT_GE(avcodec_send_frame(ctx, flush ? nullptr : frame.get()), 0);
      while (avcodec_receive_packet(ctx, packet.get()) >= 0) {
        packet->stream_index = audio->index;
        av_packet_rescale_ts(packet.get(), ctx->time_base, audio->time_base);
        ASSERT_GE(av_interleaved_write_frame(out.get(), packet.get()), 0);
      }
    }
  }
  ASSERT_GE(av_write_trailer(out.get()), 0);
}

// A fresh directory for one test, removed with everything in it at the end.
class ClipDir {
 public:
  ClipDir() {
    std::string name = (std::filesystem::temp_directory_path() / "varnex-clips-XXXXXX").string();
    if (mkdtemp(name.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    dir_ = name;
  }
  ~ClipDir() {
    std::error_code ec;
    std::filesystem::remove_all(dir_, ec);
  }
  ClipDir(const ClipDir&) = delete;
  ClipDir& operator=(const ClipDir&) = delete;

  std::string operator/(const std::string& name) const { return (dir_ / name).string(); }
  const std::filesystem::path& path() const { return dir_; }

 private:
  std::filesystem::path dir_;
};

}  // namespace cliptest
