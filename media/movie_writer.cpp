#include "media/movie_writer.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "hostapp/text.h"
#include "media/libav.h"
#include "media/temp_file.h"

extern "C" {
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
}

namespace vmedia {
namespace {

// What a container gets when the options name no codec.
struct Encoding {
  const char* codec;
  AVPixelFormat pix_fmt;
};

Encoding EncodingFor(const std::string& extension, int bpc) {
  if (extension == ".mov") return {"prores_ks", AV_PIX_FMT_YUVA444P10LE};
  if (extension == ".mp4") return {"libx264", AV_PIX_FMT_YUV420P};
  // FFV1 keeps RGB and alpha losslessly; 16 bits hold a float render's 0..1 to 1/65535.
  if (extension == ".mkv") return {"ffv1", bpc == 32 ? AV_PIX_FMT_GBRAP16LE : AV_PIX_FMT_BGRA};
  return {nullptr, AV_PIX_FMT_NONE};
}

std::string LowerExtension(const std::string& path) {
  std::string ext = std::filesystem::path(path).extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return ext;
}

}  // namespace

struct MovieWriter::State {
  std::string target;
  std::unique_ptr<TempFile> temporary;  // the file being written, until Finish renames it
  MovieWriterOptions options;
  av::OutputPtr output;
  av::CodecPtr encoder;
  av::FramePtr frame;
  av::PacketPtr packet;
  av::ScalerPtr scaler;
  AVStream* stream = nullptr;
  std::vector<uint16_t> deep_rgba;  // a 32-bit render's frame as RGBA64, swscale's input
  int written = 0;
  bool finished = false;

  // The audio copy. Per source stream: the output stream its packets go to (null for one left
  // out), the source timestamp that becomes the output's zero, and whether a packet past the
  // video's end has been seen (Finish stops reading once every copied stream has one).
  struct AudioTrack {
    AVStream* out = nullptr;
    int64_t zero = 0;
    bool past_end = false;
  };
  av::InputPtr audio_input;
  std::vector<AudioTrack> tracks;
  av::PacketPtr audio_packet;
  bool audio_held = false;  // audio_packet was read but belongs after the frames written so far
  bool audio_done = true;
  AudioCopy audio;

  [[noreturn]] void Fail(const std::string& why, int code = 0) const {
    std::string line = "output " + vhost::Quoted(target) + ": " + why;
    if (code < 0) line += " (" + av::ErrorText(code) + ")";
    throw FootageError(line);
  }

  void Open();
  void OpenAudio();
  void Encode(const AVFrame* picture);
  void CopyAudio(bool to_the_end);
};

void MovieWriter::State::Open() {
  const MovieWriterOptions& o = options;
  if (o.width <= 0 || o.height <= 0) Fail("no frame size");
  if (o.bpc != 8 && o.bpc != 32) Fail("bits per channel must be 8 or 32");
  if (!o.fps.valid() || o.fps.num > INT32_MAX || o.fps.den > INT32_MAX) Fail("no frame rate");

  const Encoding chosen = EncodingFor(LowerExtension(target), o.bpc);
  const std::string codec_name = o.codec.empty() ? (chosen.codec ? chosen.codec : "") : o.codec;
  if (codec_name.empty()) Fail("no movie format for this extension (.mov, .mp4, .mkv)");
  const AVCodec* codec = avcodec_find_encoder_by_name(codec_name.c_str());
  if (!codec) Fail("no encoder " + codec_name);

  AVFormatContext* raw = nullptr;
  // The format follows the target's name, not the temporary one's.
  if (int err = avformat_alloc_output_context2(&raw, nullptr, nullptr, target.c_str()); err < 0) {
    Fail("no movie format for this name", err);
  }
  output.reset(raw);

  AVPixelFormat pix_fmt = chosen.pix_fmt;
  bool supported = false;
  for (const AVPixelFormat* p = codec->pix_fmts; p && *p != AV_PIX_FMT_NONE; ++p) {
    supported = supported || *p == pix_fmt;
  }
  if (!supported) {
    const AVPixelFormat wanted = o.bpc == 32 ? AV_PIX_FMT_RGBA64 : AV_PIX_FMT_RGBA;
    pix_fmt = avcodec_find_best_pix_fmt_of_list(codec->pix_fmts, wanted, 1, nullptr);
  }
  if (pix_fmt == AV_PIX_FMT_NONE)
    Fail("encoder " + codec_name + " takes no picture format we give");

  encoder.reset(avcodec_alloc_context3(codec));
  if (!encoder) Fail("out of memory");
  AVCodecContext* ctx = encoder.get();
  ctx->width = o.width;
  ctx->height = o.height;
  ctx->pix_fmt = pix_fmt;
  ctx->framerate = {static_cast<int>(o.fps.num), static_cast<int>(o.fps.den)};
  ctx->time_base = av_inv_q(ctx->framerate);
  if (o.gop_size > 0) ctx->gop_size = o.gop_size;
  if (o.bitrate > 0) ctx->bit_rate = o.bitrate;
  const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(pix_fmt);
  if (!(desc->flags & AV_PIX_FMT_FLAG_RGB)) {
    // swscale's RGB to YUV default is this matrix at limited range; tagging it lets a reader
    // (ours among them) turn the pictures back with the same one.
    ctx->colorspace = AVCOL_SPC_SMPTE170M;
    ctx->color_range = AVCOL_RANGE_MPEG;
  }
  if (output->oformat->flags & AVFMT_GLOBALHEADER) ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (codec_name == "prores_ks") av_opt_set(ctx->priv_data, "profile", "4444", 0);
  const int crf = o.crf >= 0 ? o.crf : (codec_name == "libx264" ? 18 : -1);
  if (crf >= 0) av_opt_set_double(ctx->priv_data, "crf", crf, 0);
  if (int err = avcodec_open2(ctx, codec, nullptr); err < 0) Fail("cannot open " + codec_name, err);

  stream = avformat_new_stream(output.get(), nullptr);
  if (!stream) Fail("out of memory");
  if (int err = avcodec_parameters_from_context(stream->codecpar, ctx); err < 0) {
    Fail("cannot set up the video stream", err);
  }
  stream->time_base = ctx->time_base;
  stream->avg_frame_rate = ctx->framerate;
  if (!o.audio_from.empty()) OpenAudio();

  try {
    temporary = std::make_unique<TempFile>(target);
  } catch (const std::exception&) {
    Fail("cannot create a file beside it");
  }
  if (!(output->oformat->flags & AVFMT_NOFILE)) {
    if (int err = avio_open(&output->pb, temporary->path().c_str(), AVIO_FLAG_WRITE); err < 0) {
      Fail("cannot write", err);
    }
  }
  if (int err = avformat_write_header(output.get(), nullptr); err < 0) {
    Fail("cannot write the header", err);
  }

  frame.reset(av_frame_alloc());
  packet.reset(av_packet_alloc());
  if (!frame || !packet) Fail("out of memory");
  frame->format = pix_fmt;
  frame->width = o.width;
  frame->height = o.height;
  frame->colorspace = ctx->colorspace;
  frame->color_range = ctx->color_range;
  if (int err = av_frame_get_buffer(frame.get(), 0); err < 0) Fail("out of memory", err);

  // Host 8-bit buffers are ARGB bytes already; 32-bit ones go through RGBA64 (Write).
  const AVPixelFormat source = o.bpc == 32 ? AV_PIX_FMT_RGBA64 : AV_PIX_FMT_ARGB;
  scaler.reset(sws_getContext(o.width, o.height, source, o.width, o.height, pix_fmt,
                              SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr, nullptr,
                              nullptr));
  if (!scaler) Fail("cannot convert to " + std::string(desc->name));
}

void MovieWriter::State::OpenAudio() {
  const std::string& from = options.audio_from;
  AVFormatContext* raw = nullptr;
  int err = avformat_open_input(&raw, from.c_str(), nullptr, nullptr);
  if (err >= 0) {
    audio_input.reset(raw);
    err = avformat_find_stream_info(raw, nullptr);
  }
  if (err < 0) {
    audio_input.reset();
    audio.left_out.push_back("the audio of " + from + " cannot be read (" + av::ErrorText(err) +
                             "); left out");
    return;
  }
  AVFormatContext* in = audio_input.get();

  // The origin a movie source numbers frames from, so that audio_start counts as frames do.
  AVRational origin_base = AV_TIME_BASE_Q;
  int64_t origin = in->start_time != AV_NOPTS_VALUE ? in->start_time : 0;
  const int video = av_find_best_stream(in, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
  if (video >= 0 && in->streams[video]->start_time != AV_NOPTS_VALUE) {
    origin_base = in->streams[video]->time_base;
    origin = in->streams[video]->start_time;
  }

  std::string container = LowerExtension(target);
  if (container.empty()) container = output->oformat->name;
  tracks.assign(in->nb_streams, {});
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    AVStream* source = in->streams[i];
    source->discard = AVDISCARD_ALL;
    if (source->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    const AVCodecID id = source->codecpar->codec_id;
    // Only a definite yes: a stream the muxer then refused in its header would cost the video.
    if (avformat_query_codec(output->oformat, id, FF_COMPLIANCE_NORMAL) != 1) {
      audio.left_out.push_back("audio stream " + std::to_string(i) + " (" + avcodec_get_name(id) +
                               ") is not accepted by " + container + "; left out");
      continue;
    }
    AVStream* out = avformat_new_stream(output.get(), nullptr);
    if (!out) Fail("out of memory");
    if (int copy_err = avcodec_parameters_copy(out->codecpar, source->codecpar); copy_err < 0) {
      Fail("cannot set up audio stream " + std::to_string(i), copy_err);
    }
    // The source container's tag may mean nothing (or something else) in ours.
    out->codecpar->codec_tag = 0;
    out->time_base = source->time_base;
    out->disposition = source->disposition;
    av_dict_copy(&out->metadata, source->metadata, 0);
    source->discard = AVDISCARD_DEFAULT;
    const AVRational tb = source->time_base;
    tracks[i].out = out;
    tracks[i].zero =
        av_rescale_q(origin, origin_base, tb) + std::llround(options.audio_start * tb.den / tb.num);
    ++audio.copied;
  }
  if (audio.copied == 0) return;

  audio_packet.reset(av_packet_alloc());
  if (!audio_packet) Fail("out of memory");
  audio_done = false;
  // A late start need not read all the audio before it. The seek lands at or before the start,
  // and a failed one leaves the reading at the beginning, which only costs time.
  if (options.audio_start > 0) {
    const int64_t at = av_rescale_q(origin, origin_base, AV_TIME_BASE_Q) +
                       std::llround(options.audio_start * AV_TIME_BASE);
    av_seek_frame(in, -1, at, AVSEEK_FLAG_BACKWARD);
  }
}

// Copies the audio packets that begin before the end of the frames written so far. One read past
// that end is held for the next frame; the muxer interleaves what arrives a little early.
// `to_the_end` (Finish) drops the packets past the end instead, until every copied stream has
// reached it.
//
// A stream copy cannot cut the packet that straddles the start, and moving it to zero would put
// the audio out of sync. Where the container takes a negative start (an edit list in .mov and
// .mp4) the packet keeps its true place; elsewhere the muxer would move every stream by it,
// starting the video late, so the packet goes and the audio starts a fraction of a packet in.
void MovieWriter::State::CopyAudio(bool to_the_end) {
  const AVRational frame_time{static_cast<int>(options.fps.den), static_cast<int>(options.fps.num)};
  const bool negative_start = (output->oformat->flags & AVFMT_TS_NEGATIVE) != 0;
  int reaching = 0;
  for (const AudioTrack& t : tracks) reaching += t.out && !t.past_end ? 1 : 0;
  AVPacket* p = audio_packet.get();
  while (!audio_done && reaching > 0) {
    if (!audio_held) {
      const int err = av_read_frame(audio_input.get(), p);
      if (err == AVERROR_EOF) {
        audio_done = true;
        return;
      }
      if (err < 0) Fail("cannot read the audio of " + options.audio_from, err);
      audio_held = true;
    }
    const unsigned index = static_cast<unsigned>(p->stream_index);
    AudioTrack* track = index < tracks.size() ? &tracks[index] : nullptr;
    // Packets of discarded streams can still come, as can streams that appear mid-file, and a
    // packet without a timestamp has no place in the span.
    const int64_t at = p->pts != AV_NOPTS_VALUE ? p->pts : p->dts;
    if (!track || !track->out || track->past_end || at == AV_NOPTS_VALUE) {
      av_packet_unref(p);
      audio_held = false;
      continue;
    }
    const AVRational tb = audio_input->streams[index]->time_base;
    const int64_t shifted = at - track->zero;
    if (av_compare_ts(shifted, tb, written, frame_time) >= 0) {
      if (!to_the_end) return;
      track->past_end = true;
      --reaching;
      av_packet_unref(p);
      audio_held = false;
      continue;
    }
    audio_held = false;
    if (shifted < 0 && (shifted + p->duration <= 0 || !negative_start)) {
      av_packet_unref(p);
      continue;
    }
    if (p->pts != AV_NOPTS_VALUE) p->pts -= track->zero;
    if (p->dts != AV_NOPTS_VALUE) p->dts -= track->zero;
    av_packet_rescale_ts(p, tb, track->out->time_base);
    p->stream_index = track->out->index;
    p->pos = -1;
    if (int err = av_interleaved_write_frame(output.get(), p); err < 0) {
      Fail("cannot write the audio", err);
    }
  }
}

void MovieWriter::State::Encode(const AVFrame* picture) {
  if (int err = avcodec_send_frame(encoder.get(), picture); err < 0) Fail("cannot encode", err);
  while (true) {
    int err = avcodec_receive_packet(encoder.get(), packet.get());
    if (err == AVERROR(EAGAIN) || err == AVERROR_EOF) return;
    if (err < 0) Fail("cannot encode", err);
    av_packet_rescale_ts(packet.get(), encoder->time_base, stream->time_base);
    packet->stream_index = stream->index;
    err = av_interleaved_write_frame(output.get(), packet.get());
    if (err < 0) Fail("cannot write", err);
  }
}

MovieWriter::MovieWriter(const std::string& path, const MovieWriterOptions& options)
    : state_(std::make_unique<State>()) {
  state_->target = path;
  state_->options = options;
  try {
    state_->Open();
  } catch (...) {
    state_->output.reset();
    state_->temporary.reset();
    throw;
  }
}

MovieWriter::~MovieWriter() {
  if (state_->finished) return;
  state_->output.reset();  // closes the temporary file before it goes
  state_->temporary.reset();
}

const std::string& MovieWriter::temporary_path() const {
  return state_->temporary->path();
}

int MovieWriter::frames_written() const {
  return state_->written;
}

int MovieWriter::bits_per_sample() const {
  return av_pix_fmt_desc_get(state_->encoder->pix_fmt)->comp[0].depth;
}

bool MovieWriter::keeps_alpha() const {
  return (av_pix_fmt_desc_get(state_->encoder->pix_fmt)->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;
}

const AudioCopy& MovieWriter::audio() const {
  return state_->audio;
}

void MovieWriter::Write(const vhost::Image& image) {
  State& s = *state_;
  const MovieWriterOptions& o = s.options;
  if (s.finished) s.Fail("written to after Finish");
  if (image.width != o.width || image.height != o.height || image.bpc != o.bpc) {
    s.Fail("frame " + std::to_string(s.written) + " is " + std::to_string(image.width) + "x" +
           std::to_string(image.height) + " at " + std::to_string(image.bpc) + " bits, not " +
           std::to_string(o.width) + "x" + std::to_string(o.height) + " at " +
           std::to_string(o.bpc));
  }
  const uint8_t* planes[4] = {image.Row(0), nullptr, nullptr, nullptr};
  int strides[4] = {static_cast<int>(image.rowbytes), 0, 0, 0};
  if (o.bpc == 32) {
    // Host floats ARGB to RGBA64: clamped to 0..1, rounded to the nearest of 65535 steps.
    s.deep_rgba.resize(static_cast<size_t>(o.width) * o.height * 4);
    for (int y = 0; y < o.height; ++y) {
      for (int x = 0; x < o.width; ++x) {
        for (int c = 0; c < 4; ++c) {
          const float v = image.Get(x, y, c);
          const float clamped = v > 0 ? (v < 1 ? v : 1) : 0;  // NaN becomes 0
          s.deep_rgba[(static_cast<size_t>(y) * o.width + x) * 4 + (c + 3) % 4] =
              static_cast<uint16_t>(clamped * 65535.0f + 0.5f);
        }
      }
    }
    planes[0] = reinterpret_cast<const uint8_t*>(s.deep_rgba.data());
    strides[0] = o.width * 8;
  }
  if (int err = av_frame_make_writable(s.frame.get()); err < 0) s.Fail("out of memory", err);
  sws_scale(s.scaler.get(), planes, strides, 0, o.height, s.frame->data, s.frame->linesize);
  s.frame->pts = s.written;
  s.Encode(s.frame.get());
  ++s.written;
  s.CopyAudio(false);
}

void MovieWriter::Finish() {
  State& s = *state_;
  if (s.finished) return;
  s.Encode(nullptr);
  s.CopyAudio(true);
  if (int err = av_write_trailer(s.output.get()); err < 0) s.Fail("cannot finish the file", err);
  if (!(s.output->oformat->flags & AVFMT_NOFILE)) {
    if (int err = avio_closep(&s.output->pb); err < 0) s.Fail("cannot close the file", err);
  }
  if (std::string why; !s.temporary->Commit(&why))
    s.Fail("cannot rename the finished file onto it: " + why);
  s.finished = true;
}

}  // namespace vmedia
