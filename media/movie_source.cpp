#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <utility>

#include "hostapp/text.h"
#include "media/libav.h"
#include "media/movie.h"

extern "C" {
#include <libavutil/pixdesc.h>
}

namespace vmedia {
namespace {

// A jump forward of at most this many frames decodes through instead of seeking, when the
// container keeps no index to say where the key frames are.
constexpr int kForwardWithoutIndex = 8;

// Demuxers that open stills, image pipes and text as one-stream "video"; none of them is a movie.
bool IsStillOrTextDemuxer(const AVInputFormat* format) {
  const std::string name = format->name;
  return name == "image2" || name == "tty" ||
         (name.size() > 5 && name.compare(name.size() - 5, 5, "_pipe") == 0);
}

class MovieSource final : public Source {
 public:
  MovieSource(const std::string& path, const OpenOptions& options)
      : path_(path), label_(options.role + " " + vhost::Quoted(path)) {
    Open();
    FindFrameCount();
  }

  SourceKind kind() const override { return SourceKind::kMovie; }
  const std::string& path() const override { return path_; }
  FrameRange range() const override { return {0, count_ - 1}; }
  Rational fps() const override { return fps_; }
  int width() const override { return decoder_->width; }
  int height() const override { return decoder_->height; }
  int depth() const override { return depth_; }

  vhost::Image Frame(int n, int bpc) override {
    if (n < 0 || n >= count_) {
      throw FootageError(
          label_ + ": frame " + std::to_string(n) + " is outside 0.." + std::to_string(count_ - 1),
          n);
    }
    if (bpc != 8 && bpc != 32) Fail("frames come at 8 or 32 bits, not " + std::to_string(bpc), n);
    if (!ReachableForward(n)) SeekBefore(n);
    return Convert(DecodeUpTo(n), bpc);
  }

 private:
  [[noreturn]] void Fail(const std::string& why, int frame = FootageError::kNoFrame) const {
    throw FootageError(label_ + ": " + why, frame);
  }

  void Open() {
    AVFormatContext* raw = nullptr;
    if (int err = avformat_open_input(&raw, path_.c_str(), nullptr, nullptr); err < 0) {
      Fail("cannot open as a movie (" + av::ErrorText(err) + ")");
    }
    input_.reset(raw);
    if (IsStillOrTextDemuxer(input_->iformat)) {
      Fail(std::string("not a movie (reads as ") + input_->iformat->name + ")");
    }
    if (int err = avformat_find_stream_info(input_.get(), nullptr); err < 0) {
      Fail("cannot read the movie's streams (" + av::ErrorText(err) + ")");
    }
    const AVCodec* codec = nullptr;
    stream_index_ = av_find_best_stream(input_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (stream_index_ == AVERROR_STREAM_NOT_FOUND) Fail("no video stream");
    stream_ = input_->streams[stream_index_];
    if (stream_index_ == AVERROR_DECODER_NOT_FOUND || !codec) {
      Fail(std::string("no decoder for ") + avcodec_get_name(stream_->codecpar->codec_id));
    }
    if (stream_index_ < 0) Fail("no usable video stream (" + av::ErrorText(stream_index_) + ")");
    // Only our stream's packets are read; the demuxer may drop the rest early.
    for (unsigned i = 0; i < input_->nb_streams; ++i) {
      if (static_cast<int>(i) != stream_index_) input_->streams[i]->discard = AVDISCARD_ALL;
    }

    decoder_.reset(avcodec_alloc_context3(codec));
    if (!decoder_ || avcodec_parameters_to_context(decoder_.get(), stream_->codecpar) < 0) {
      Fail("cannot set up the decoder");
    }
    decoder_->thread_count = 0;
    if (int err = avcodec_open2(decoder_.get(), codec, nullptr); err < 0) {
      Fail(std::string("cannot open the ") + codec->name + " decoder (" + av::ErrorText(err) + ")");
    }
    const AVPixFmtDescriptor* desc = av_pix_fmt_desc_get(decoder_->pix_fmt);
    if (!desc || decoder_->width <= 0 || decoder_->height <= 0) Fail("video of unknown size");
    depth_ = desc->comp[0].depth > 8 ? 32 : 8;
    has_alpha_ = (desc->flags & AV_PIX_FMT_FLAG_ALPHA) != 0;

    AVRational rate = stream_->avg_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) rate = stream_->r_frame_rate;
    if (rate.num <= 0 || rate.den <= 0) Fail("no frame rate");
    fps_ = {rate.num, rate.den};
    start_pts_ = stream_->start_time != AV_NOPTS_VALUE ? stream_->start_time : 0;

    packet_.reset(av_packet_alloc());
    frame_.reset(av_frame_alloc());
    if (!packet_ || !frame_) Fail("out of memory");
  }

  // The frame a timestamp shows, rounded so that timestamps the container kept to a coarser
  // clock (Matroska's milliseconds) still land on their frame.
  int FrameOf(int64_t pts) const {
    const AVRational tb = stream_->time_base;
    const double seconds = static_cast<double>(pts - start_pts_) * tb.num / tb.den;
    return static_cast<int>(std::llround(seconds * fps_.value()));
  }
  int64_t PtsOf(int n) const {
    const AVRational frame_time{static_cast<int>(fps_.den), static_cast<int>(fps_.num)};
    return start_pts_ + av_rescale_q(n, frame_time, stream_->time_base);
  }

  // The header's count where it has one, else the duration times the rate; then the last packets
  // are read, which both finds the count where the header has none and catches a file cut short.
  void FindFrameCount() {
    int claimed = 0;
    if (stream_->nb_frames > 0) {
      claimed = static_cast<int>(stream_->nb_frames);
    } else if (stream_->duration != AV_NOPTS_VALUE && stream_->duration > 0) {
      claimed = FrameOf(start_pts_ + stream_->duration);
    } else if (const double seconds = TaggedSeconds(); seconds > 0) {
      claimed = static_cast<int>(std::llround(seconds * fps_.value()));
    } else if (input_->nb_streams == 1 && input_->duration != AV_NOPTS_VALUE &&
               input_->duration > 0) {
      // The file's duration is its longest stream's: only the video's when it is alone (audio
      // that runs past the pictures would otherwise claim frames that are not there).
      claimed = static_cast<int>(
          std::llround(static_cast<double>(input_->duration) / AV_TIME_BASE * fps_.value()));
    }
    const int last_seen = LastPacketFrame(claimed > 0 ? PtsOf(claimed - 1) : INT64_MAX);
    if (last_seen < 0) Fail("no video frames (the file may be truncated)");
    if (claimed > 0 && last_seen < claimed - 1) {
      Fail("truncated: frames stop at " + std::to_string(last_seen) + " of " +
           std::to_string(claimed));
    }
    count_ = claimed > 0 ? claimed : last_seen + 1;
    Rewind();
  }

  // The stream's own length where the container tags it ("DURATION" as HH:MM:SS.fraction, as
  // Matroska files written by FFmpeg carry it per stream), or 0.
  double TaggedSeconds() const {
    const AVDictionaryEntry* tag = av_dict_get(stream_->metadata, "DURATION", nullptr, 0);
    int hours = 0, minutes = 0;
    double seconds = 0;
    if (!tag || std::sscanf(tag->value, "%d:%d:%lf", &hours, &minutes, &seconds) != 3) return 0;
    return hours * 3600.0 + minutes * 60.0 + seconds;
  }

  // The frame of the latest packet at or after the key frame before `pts`, or -1 for none.
  int LastPacketFrame(int64_t pts) {
    if (av_seek_frame(input_.get(), stream_index_, pts, AVSEEK_FLAG_BACKWARD) < 0) Rewind();
    int last = -1;
    while (av_read_frame(input_.get(), packet_.get()) >= 0) {
      const bool ours = packet_->stream_index == stream_index_ && packet_->size > 0 &&
                        !(packet_->flags & AV_PKT_FLAG_CORRUPT);
      const int64_t at = packet_->pts != AV_NOPTS_VALUE ? packet_->pts : packet_->dts;
      if (ours && at != AV_NOPTS_VALUE) last = std::max(last, FrameOf(at));
      av_packet_unref(packet_.get());
    }
    return last;
  }

  void Rewind() {
    av_seek_frame(input_.get(), stream_index_, start_pts_, AVSEEK_FLAG_BACKWARD);
    ResetDecoder();
    next_ = 0;
  }

  void ResetDecoder() {
    avcodec_flush_buffers(decoder_.get());
    av_frame_unref(frame_.get());
    held_ = -1;
    draining_ = false;
  }

  // Whether decoding on from where the decoder stands reaches frame n no later than a seek
  // would: never backwards, and only while no key frame lies between here and n.
  bool ReachableForward(int n) const {
    if (next_ < 0 || n < next_ - (held_ >= 0 ? 1 : 0)) return false;
    if (held_ >= 0 && n <= held_) return true;
    const int key = av_index_search_timestamp(stream_, PtsOf(n), AVSEEK_FLAG_BACKWARD);
    if (key < 0) return n - next_ <= kForwardWithoutIndex;
    const AVIndexEntry* entry = avformat_index_get_entry(stream_, key);
    return entry && FrameOf(entry->timestamp) <= next_;
  }

  void SeekBefore(int n) {
    if (int err = av_seek_frame(input_.get(), stream_index_, PtsOf(n), AVSEEK_FLAG_BACKWARD);
        err < 0) {
      Fail("cannot seek to frame " + std::to_string(n) + " (" + av::ErrorText(err) + ")", n);
    }
    ResetDecoder();
    next_ = -1;  // unknown until the first picture after the seek
  }

  // Decodes forward to the picture for frame n and returns it (held in frame_). A timestamp
  // past n, where the movie skips frames, stands for n too and stays held for its own number.
  const AVFrame* DecodeUpTo(int n) {
    while (held_ < n) {
      int got = avcodec_receive_frame(decoder_.get(), frame_.get());
      if (got == AVERROR(EAGAIN)) {
        Feed(n);
        continue;
      }
      if (got == AVERROR_EOF) Fail("ends before frame " + std::to_string(n), n);
      if (got < 0)
        Fail("cannot decode frame " + std::to_string(n) + " (" + av::ErrorText(got) + ")", n);
      const int64_t pts = frame_->best_effort_timestamp != AV_NOPTS_VALUE
                              ? frame_->best_effort_timestamp
                              : frame_->pts;
      held_ = pts != AV_NOPTS_VALUE ? FrameOf(pts) : std::max(next_, 0);
    }
    next_ = n + 1;
    return frame_.get();
  }

  // Hands the decoder the next packet of our stream, or the end of the stream once.
  void Feed(int n) {
    if (draining_) Fail("ends before frame " + std::to_string(n), n);
    while (true) {
      int err = av_read_frame(input_.get(), packet_.get());
      if (err == AVERROR_EOF) {
        draining_ = true;
        avcodec_send_packet(decoder_.get(), nullptr);
        return;
      }
      if (err < 0)
        Fail("cannot read frame " + std::to_string(n) + " (" + av::ErrorText(err) + ")", n);
      if (packet_->stream_index != stream_index_) {
        av_packet_unref(packet_.get());
        continue;
      }
      err = avcodec_send_packet(decoder_.get(), packet_.get());
      av_packet_unref(packet_.get());
      if (err < 0 && err != AVERROR(EAGAIN)) {
        Fail("cannot decode frame " + std::to_string(n) + " (" + av::ErrorText(err) + ")", n);
      }
      return;
    }
  }

  // The decoded picture as a host buffer: swscale turns it into RGBA (8-bit sources) or RGBA64
  // (deeper ones), whose samples go to the host's alpha-first order, scaled to 0..1 at 32 bits.
  vhost::Image Convert(const AVFrame* picture, int bpc) {
    const int w = picture->width;
    const int h = picture->height;
    const bool deep = depth_ > 8;
    const AVPixelFormat target = deep ? AV_PIX_FMT_RGBA64 : AV_PIX_FMT_RGBA;
    SwsContext* sws = sws_getCachedContext(
        scaler_.release(), w, h, static_cast<AVPixelFormat>(picture->format), w, h, target,
        SWS_POINT | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT | SWS_FULL_CHR_H_INP, nullptr, nullptr,
        nullptr);
    scaler_.reset(sws);
    if (!sws) Fail("cannot convert its pixel format");
    UseStreamColours(picture);

    const int sample_bytes = deep ? 2 : 1;
    std::vector<uint8_t> rgba(static_cast<size_t>(w) * h * 4 * sample_bytes);
    uint8_t* planes[4] = {rgba.data(), nullptr, nullptr, nullptr};
    int strides[4] = {w * 4 * sample_bytes, 0, 0, 0};
    sws_scale(sws, picture->data, picture->linesize, 0, h, planes, strides);

    vhost::Image out = vhost::Image::Make(w, h, bpc);
    const float full = deep ? 65535.0f : 255.0f;
    for (int y = 0; y < h; ++y) {
      const uint8_t* row = rgba.data() + static_cast<size_t>(y) * strides[0];
      for (int x = 0; x < w; ++x) {
        for (int c = 0; c < 4; ++c) {
          const int from = (c + 3) % 4;  // host channel c (A, R, G, B) is RGBA sample c - 1
          float v;
          if (deep) {
            uint16_t s;
            std::memcpy(&s, row + (x * 4 + from) * 2, 2);
            v = s / full;
          } else {
            v = row[x * 4 + from] / full;
          }
          if (c == 0 && !has_alpha_) v = 1.0f;
          out.Set(x, y, c, v);
        }
      }
    }
    return out;
  }

  // The YUV matrix and range the stream is tagged with; untagged streams keep swscale's default.
  void UseStreamColours(const AVFrame* picture) {
    const AVPixFmtDescriptor* desc =
        av_pix_fmt_desc_get(static_cast<AVPixelFormat>(picture->format));
    if (!desc || (desc->flags & AV_PIX_FMT_FLAG_RGB)) return;
    int* in_table;
    int* out_table;
    int in_full, out_full, brightness, contrast, saturation;
    if (sws_getColorspaceDetails(scaler_.get(), &in_table, &in_full, &out_table, &out_full,
                                 &brightness, &contrast, &saturation) < 0) {
      return;
    }
    const int space =
        picture->colorspace == AVCOL_SPC_UNSPECIFIED ? SWS_CS_DEFAULT : picture->colorspace;
    const int full_range = picture->color_range == AVCOL_RANGE_JPEG;
    sws_setColorspaceDetails(scaler_.get(), sws_getCoefficients(space), full_range, out_table,
                             out_full, brightness, contrast, saturation);
  }

  std::string path_;
  std::string label_;
  av::InputPtr input_;
  av::CodecPtr decoder_;
  av::PacketPtr packet_;
  av::FramePtr frame_;
  av::ScalerPtr scaler_;
  AVStream* stream_ = nullptr;
  int stream_index_ = -1;
  int64_t start_pts_ = 0;
  Rational fps_;
  int count_ = 0;
  int depth_ = 8;
  bool has_alpha_ = false;
  int next_ = 0;   // the frame the decoder gives next without a seek; -1 right after a seek
  int held_ = -1;  // the frame number of the picture in frame_, or -1
  bool draining_ = false;
};

}  // namespace

std::unique_ptr<Source> OpenMovie(const std::string& path, const OpenOptions& options) {
  return std::make_unique<MovieSource>(path, options);
}

void SetMovieLibraryLogging(bool verbose) {
  av_log_set_level(verbose ? AV_LOG_WARNING : AV_LOG_QUIET);
}

}  // namespace vmedia
