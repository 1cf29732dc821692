// The audio of a movie input copied into a movie output packet for packet: which packets go, where
// they land against the video, and what a container that refuses the codec costs.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "media/movie.h"
#include "support/clips.h"

using cliptest::ClipDir;
using cliptest::ClipFrame;
using cliptest::ClipOptions;
using cliptest::WriteClip;

// FFmpeg's own messages are silenced for this whole binary by movie_test.cpp's environment.
namespace {

// An audio packet as a reader sees it, its time in seconds after the file's first video frame.
struct Packet {
  std::string bytes;
  double at = 0;
  double duration = 0;
};
struct AudioStream {
  std::string codec;
  std::vector<Packet> packets;
};

// Every audio stream of `path`, in order, with all its packets; its video is stream 0.
std::vector<AudioStream> AudioOf(const std::string& path) {
  AVFormatContext* raw = nullptr;
  if (avformat_open_input(&raw, path.c_str(), nullptr, nullptr) < 0) {
    ADD_FAILURE() << "cannot open " << path;
    return {};
  }
  const vmedia::av::InputPtr in(raw);
  avformat_find_stream_info(in.get(), nullptr);
  const AVStream* video = in->streams[0];
  const double origin = static_cast<double>(video->start_time) * av_q2d(video->time_base);
  std::vector<int> slot(in->nb_streams, -1);
  std::vector<AudioStream> audio;
  for (unsigned i = 0; i < in->nb_streams; ++i) {
    if (in->streams[i]->codecpar->codec_type != AVMEDIA_TYPE_AUDIO) continue;
    slot[i] = static_cast<int>(audio.size());
    audio.push_back({avcodec_get_name(in->streams[i]->codecpar->codec_id), {}});
  }
  const vmedia::av::PacketPtr p(av_packet_alloc());
  while (av_read_frame(in.get(), p.get()) >= 0) {
    if (slot[p->stream_index] >= 0) {
      const double tb = av_q2d(in->streams[p->stream_index]->time_base);
      audio[slot[p->stream_index]].packets.push_back(
          {std::string(reinterpret_cast<const char*>(p->data), p->size),
           static_cast<double>(p->pts) * tb - origin, static_cast<double>(p->duration) * tb});
    }
    av_packet_unref(p.get());
  }
  return audio;
}

std::string Join(const std::vector<Packet>& packets) {
  std::string all;
  for (const Packet& p : packets) all += p.bytes;
  return all;
}

bool HasEncoder(const std::string& name) {
  return avcodec_find_encoder_by_name(name.c_str()) != nullptr;
}

constexpr int kSourceFrames = 24;  // one second, as long as the noise
constexpr int kOutputFrames = 6;
constexpr double kSpan = kOutputFrames / 24.0;

// `source` (a name ending in the container) with 24 frames of video and one second of audio from
// each of `encoders`; `dir` holds it.
std::string MakeSource(const ClipDir& dir, const std::string& source,
                       const std::vector<std::string>& encoders) {
  const std::string video = dir / ("video-" + source);
  WriteClip(video, kSourceFrames, ClipOptions());
  cliptest::MuxWithAudio(video, encoders, 1.0, dir / source);
  return dir / source;
}

// Writes frames 0 .. kOutputFrames-1 to `path` with the audio of `from` from `start` on.
vmedia::AudioCopy WriteWithAudio(const std::string& path, const std::string& from, double start) {
  vmedia::MovieWriterOptions o = ClipOptions();
  o.audio_from = from;
  o.audio_start = start;
  vmedia::MovieWriter writer(path, o);
  for (int k = 0; k < kOutputFrames; ++k) writer.Write(ClipFrame(k, 8));
  writer.Finish();
  return writer.audio();
}

void ExpectVideoDecodes(const std::string& path) {
  auto movie = vmedia::OpenMovie(path);
  ASSERT_EQ(movie->range().count(), kOutputFrames);
  for (int k = 0; k < kOutputFrames; ++k) EXPECT_EQ(cliptest::ReadCode(movie->Frame(k, 8)), k);
}

// The packets of `source` a copy from `start` over the span must carry: every one that begins
// before the video's end and after the start, and the one that straddles the start where the
// container takes a negative start (`straddler`). The starts chosen fall inside packets.
std::vector<Packet> SpanOf(const std::vector<Packet>& source, double start, bool straddler) {
  std::vector<Packet> span;
  for (const Packet& p : source) {
    const double begins = p.at - start;
    if (begins < kSpan && (begins >= 0 || (straddler && begins + p.duration > 0))) {
      span.push_back(p);
    }
  }
  return span;
}

TEST(AudioTest, AcceptedAudioIsCopiedUntouchedOverTheVideosSpanAndInSync) {
  struct Pair {
    const char* source;
    const char* encoder;
    const char* output;
    double start;
  };
  const Pair pairs[] = {{"pcm.mov", "pcm_s16le", "out.mov", 0.0},
                        {"pcm.mov", "pcm_s16le", "late.mov", 0.3},
                        {"pcm.mov", "pcm_s16le", "out.mkv", 0.3},
                        {"aac.mp4", "aac", "out.mp4", 0.25},
                        {"aac.mp4", "aac", "out.mkv", 0.25}};
  ClipDir dir;
  bool skipped = false;
  for (const Pair& pair : pairs) {
    SCOPED_TRACE(std::string(pair.source) + " -> " + pair.output + " from " +
                 std::to_string(pair.start));
    if (!HasEncoder(pair.encoder)) {
      skipped = true;
      continue;
    }
    const std::string from = dir / pair.source;
    if (!std::filesystem::exists(from)) MakeSource(dir, pair.source, {pair.encoder});
    const vmedia::AudioCopy copy = WriteWithAudio(dir / pair.output, from, pair.start);
    EXPECT_EQ(copy.copied, 1);
    EXPECT_TRUE(copy.left_out.empty());

    const bool straddler = std::string(pair.output).find(".mkv") == std::string::npos;
    const std::vector<Packet> expected = SpanOf(AudioOf(from).at(0).packets, pair.start, straddler);
    const std::vector<AudioStream> got = AudioOf(dir / pair.output);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].codec, AudioOf(from)[0].codec);
    const std::string got_bytes = Join(got[0].packets);
    const std::string expected_bytes = Join(expected);
    EXPECT_TRUE(got_bytes == expected_bytes)
        << got_bytes.size() << " bytes, not the span's " << expected_bytes.size();
    // Against the video: the first packet as far before or after frame 0 as it was before the
    // start (Matroska keeps milliseconds), and the last one as far from it.
    ASSERT_FALSE(got[0].packets.empty());
    EXPECT_NEAR(got[0].packets.front().at, expected.front().at - pair.start, 1.5e-3);
    EXPECT_NEAR(got[0].packets.back().at, expected.back().at - pair.start, 1.5e-3);
    ExpectVideoDecodes(dir / pair.output);
  }
  if (skipped) GTEST_SKIP() << "no aac encoder in this FFmpeg; its pairs did not run";
}

TEST(AudioTest, AudioThatCannotGoAlongIsReportedAndTheVideoIsWrittenWithout) {
  ClipDir dir;
  const AVOutputFormat* mp4 = av_guess_format(nullptr, "x.mp4", nullptr);
  ASSERT_EQ(avformat_query_codec(mp4, AV_CODEC_ID_PCM_S16LE, FF_COMPLIANCE_NORMAL), 0);
  const std::string refused = "audio stream 1 (pcm_s16le) is not accepted by .mp4; left out";

  const vmedia::AudioCopy only_pcm =
      WriteWithAudio(dir / "pcm.mp4", MakeSource(dir, "pcm.mov", {"pcm_s16le"}), 0);
  EXPECT_EQ(only_pcm.copied, 0);
  EXPECT_EQ(only_pcm.left_out, std::vector<std::string>{refused});
  EXPECT_TRUE(AudioOf(dir / "pcm.mp4").empty());
  ExpectVideoDecodes(dir / "pcm.mp4");

  // A file without audio, or one that cannot be read, is no reason to stop either.
  const vmedia::AudioCopy silent = WriteWithAudio(dir / "silent.mp4", dir / "video-pcm.mov", 0);
  EXPECT_EQ(silent.copied, 0);
  EXPECT_TRUE(silent.left_out.empty());
  const std::string missing = dir / "missing.mov";
  const vmedia::AudioCopy unread = WriteWithAudio(dir / "unread.mp4", missing, 0);
  EXPECT_EQ(unread.copied, 0);
  ASSERT_EQ(unread.left_out.size(), 1u);
  EXPECT_EQ(unread.left_out[0].rfind("the audio of " + missing + " cannot be read", 0), 0u)
      << unread.left_out[0];
  for (const char* name : {"silent.mp4", "unread.mp4"}) {
    EXPECT_TRUE(AudioOf(dir / name).empty()) << name;
    ExpectVideoDecodes(dir / name);
  }

  // Each stream is judged alone: the pcm one is left out, the aac one beside it still goes.
  if (!HasEncoder("aac")) GTEST_SKIP() << "no aac encoder in this FFmpeg";
  const std::string both = MakeSource(dir, "both.mov", {"pcm_s16le", "aac"});
  const vmedia::AudioCopy mixed = WriteWithAudio(dir / "mixed.mp4", both, 0);
  EXPECT_EQ(mixed.copied, 1);
  EXPECT_EQ(mixed.left_out, std::vector<std::string>{refused});
  const std::vector<AudioStream> got = AudioOf(dir / "mixed.mp4");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(Join(got[0].packets) == Join(SpanOf(AudioOf(both).at(1).packets, 0, true)));
  ExpectVideoDecodes(dir / "mixed.mp4");
}

TEST(AudioTest, WriterWithAudioDestroyedWithoutFinishLeavesNoFile) {
  ClipDir dir;
  const std::string from = MakeSource(dir, "pcm.mov", {"pcm_s16le"});
  std::string temporary;
  {
    vmedia::MovieWriterOptions o = ClipOptions();
    o.audio_from = from;
    vmedia::MovieWriter writer(dir / "out.mov", o);
    for (int k = 0; k < 3; ++k) writer.Write(ClipFrame(k, 8));
    temporary = writer.temporary_path();
    EXPECT_TRUE(std::filesystem::exists(temporary));
  }
  EXPECT_FALSE(std::filesystem::exists(temporary));
  EXPECT_FALSE(std::filesystem::exists(dir / "out.mov"));
}

}  // namespace

// A file's duration is its longest stream's: a movie whose sound runs on past its last picture
// still holds only its pictures, and is not taken for a truncated one.
TEST(AudioTest, AMovieWhoseAudioOutlastsItsPicturesHoldsOnlyItsPictures) {
  ClipDir dir;
  WriteClip(dir / "six.mkv", 6, ClipOptions());
  cliptest::MuxWithAudio(dir / "six.mkv", {"pcm_s16le"}, 1.0, dir / "long.mkv");
  const std::unique_ptr<vmedia::Source> movie = vmedia::OpenMovie(dir / "long.mkv");
  EXPECT_EQ(movie->range().count(), 6);
  EXPECT_EQ(cliptest::ReadCode(movie->Frame(5, 8)), 5);
}
