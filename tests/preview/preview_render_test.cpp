// The preview's pictures through a running `varnex preview`: the viewer shows what `varnex
// render` writes, drafts are smaller, the input and the map can be shown, a superseded render is
// never delivered after a newer one, and the saved project renders the same with `varnex render
// -p`, as does the Render action.
#include <OpenImageIO/imagebuf.h>

#include <filesystem>
#include <fstream>

#include "preview/preview_fixture.h"
#include "support/child_process.h"

namespace {

using nlohmann::json;
using testsupport::Event;
using testsupport::EventReader;

// An image file's pixels as RGBA bytes (opaque where it has no alpha), with its size.
struct Pixels {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgba;
};

Pixels ReadPixels(const std::string& path) {
  OIIO::ImageBuf buf(path);
  Pixels p;
  if (!buf.read(0, 0, true, OIIO::TypeDesc::UINT8)) {
    ADD_FAILURE() << "cannot read " << path << ": " << buf.geterror();
    return p;
  }
  const OIIO::ImageSpec& spec = buf.spec();
  p.width = spec.width;
  p.height = spec.height;
  std::vector<unsigned char> raw(static_cast<size_t>(spec.width) * spec.height * spec.nchannels);
  buf.get_pixels(buf.roi(), OIIO::TypeDesc::UINT8, raw.data());
  for (size_t i = 0; i < static_cast<size_t>(spec.width) * spec.height; ++i) {
    const unsigned char* px = raw.data() + i * spec.nchannels;
    for (int c = 0; c < 3; ++c) p.rgba.push_back(px[spec.nchannels >= 3 ? c : 0]);
    p.rgba.push_back(spec.nchannels == 4 ? px[3] : spec.nchannels == 2 ? px[1] : 255);
  }
  return p;
}

class PreviewRenderTest : public PreviewTest {
 protected:
  // Asks for a picture and waits for its announcement; the picture's bytes go to `file`.
  Event Picture(EventReader& events, const json& request, const std::string& file) {
    const testsupport::Answer asked = server().Post("/api/preview", request);
    EXPECT_EQ(asked.status, 200) << asked.text;
    const uint64_t seq = asked.body.value("seq", uint64_t{0});
    const std::optional<Event> frame = events.WaitFor([&](const Event& e) {
      return (e.name == "frame" || e.name == "failed") && e.data.value("seq", uint64_t{0}) == seq;
    });
    if (!frame) {
      ADD_FAILURE() << "no picture for seq " << seq;
      return {};
    }
    EXPECT_EQ(frame->name, "frame") << frame->data.dump();
    const testsupport::Answer image = server().Get("/api/image/" + std::to_string(seq));
    EXPECT_EQ(image.status, 200);
    std::ofstream(dir_ / file, std::ios::binary) << image.text;
    return *frame;
  }

  testsupport::ChildRun Render(const std::vector<std::string>& args) {
    testsupport::ChildOptions options;
    options.cwd = dir_.path();
    options.capture = dir_.path();
    return testsupport::RunChild(VARNEX_CLI, args, options);
  }
};

TEST_F(PreviewRenderTest, TheViewerShowsWhatRenderWrites) {
  EventReader events(server());
  ASSERT_EQ(Set("Rotate", 30).status, 200);
  ASSERT_EQ(Set("Translate X", 5).status, 200);
  ASSERT_EQ(Set("Anti-Aliasing", "4x").status, 200);
  const Event frame = Picture(events, {{"draft", false}, {"seq", 1}}, "shown.png");
  EXPECT_EQ(frame.data["draft"], false);
  EXPECT_EQ(frame.data["view"], "result");
  EXPECT_EQ(frame.data["width"], 320);
  EXPECT_EQ(frame.data["height"], 240);
  EXPECT_GE(frame.data["ms"].get<double>(), 0.0);

  const testsupport::ChildRun run = Render(
      {"render", Example("input.png"), "--map", Example("map.png"), "--set", "Rotate=30", "--set",
       "Translate X=5", "--set", "Anti-Aliasing=4x", "-o", (dir_ / "written.png").string()});
  ASSERT_EQ(run.status, 0) << run.err;
  const Pixels shown = ReadPixels((dir_ / "shown.png").string());
  const Pixels written = ReadPixels((dir_ / "written.png").string());
  ASSERT_EQ(shown.width, written.width);
  ASSERT_EQ(shown.height, written.height);
  EXPECT_TRUE(shown.rgba == written.rgba);
  // And it is not simply the input.
  EXPECT_FALSE(shown.rgba == ReadPixels(Example("input.png")).rgba);
}

TEST_F(PreviewRenderTest, DraftsAreDownsampledJpegsAndTheInputAndMapCanBeShown) {
  EventReader events(server());
  const Event draft = Picture(events, {{"draft", true}}, "draft.jpg");
  EXPECT_EQ(draft.data["draft"], true);
  EXPECT_EQ(draft.data["width"], 320 / State()["draft_downsample"].get<int>());
  const std::string bytes = testsupport::ReadFile(dir_ / "draft.jpg");
  ASSERT_GE(bytes.size(), 2u);
  EXPECT_EQ(static_cast<unsigned char>(bytes[0]), 0xFF);
  EXPECT_EQ(static_cast<unsigned char>(bytes[1]), 0xD8);

  for (const char* view : {"input", "map"}) {
    SCOPED_TRACE(view);
    const Event shown = Picture(events, {{"view", view}}, std::string(view) + ".png");
    EXPECT_EQ(shown.data["view"], view);
    const Pixels picture = ReadPixels((dir_ / (std::string(view) + ".png")).string());
    EXPECT_TRUE(picture.rgba == ReadPixels(Example(std::string(view) + ".png")).rgba);
  }
}

TEST_F(PreviewRenderTest, ASupersededRenderIsNeverDeliveredAfterANewerOne) {
  EventReader events(server());
  // Slow renders, so that several requests wait behind one in progress.
  ASSERT_EQ(Set("Iterations", 40).status, 200);
  ASSERT_EQ(Set("Anti-Aliasing", "8x").status, 200);
  constexpr uint64_t kLast = 12;
  for (uint64_t seq = 1; seq <= kLast; ++seq)
    ASSERT_EQ(server().Post("/api/preview", {{"seq", seq}, {"draft", seq % 2 == 0}}).status, 200);
  ASSERT_TRUE(events.WaitFor(
      [&](const Event& e) { return e.name == "frame" && e.data.value("seq", 0u) == kLast; }));
  std::vector<uint64_t> delivered;
  for (const Event& e : events.Events())
    if (e.name == "frame") delivered.push_back(e.data["seq"].get<uint64_t>());
  // Each picture announced is newer than the one before it, the newest came last, and the
  // requests superseded while one rendered were dropped.
  for (size_t i = 1; i < delivered.size(); ++i) EXPECT_GT(delivered[i], delivered[i - 1]);
  EXPECT_EQ(delivered.back(), kLast);
  EXPECT_LT(delivered.size(), kLast);
  EXPECT_EQ(server().Get("/api/image/" + std::to_string(kLast)).status, 200);
  if (delivered.size() > 1) {
    EXPECT_EQ(server().Get("/api/image/" + std::to_string(delivered.front())).status, 404);
  }
}

class PreviewProjectTest : public PreviewRenderTest {
 protected:
  void SetUp() override { Start({"-f", "0-2"}); }
};

TEST_F(PreviewProjectTest, TheSavedProjectRendersWithRenderAsThePreviewShowsIt) {
  EventReader events(server());
  ASSERT_EQ(server().Post("/api/keyframe", {{"name", "Rotate"}, {"frame", 0}}).status, 200);
  ASSERT_EQ(server().Post("/api/frame", {{"frame", 2}}).status, 200);
  ASSERT_EQ(Set("Rotate", 30).status, 200);
  ASSERT_EQ(Set("Edge Behavior", "Mirror Repeat").status, 200);
  ASSERT_EQ(server().Post("/api/frame", {{"frame", 1}}).status, 200);
  const Event frame = Picture(events, {{"draft", false}}, "frame1.png");
  EXPECT_EQ(frame.data["frame"], 1);

  const testsupport::Answer saved = server().Post("/api/save", {{"path", "shot.json"}});
  ASSERT_EQ(saved.status, 200) << saved.text;
  EXPECT_EQ(saved.body["path"], "shot.json");
  EXPECT_EQ(State()["project"], "shot.json");
  const json project = json::parse(testsupport::ReadFile(dir_ / "shot.json"));
  EXPECT_EQ(project["controls"]["Rotate"], json({{0, "0"}, {2, "30"}}));
  EXPECT_FALSE(project.contains("output"));  // none was named

  std::filesystem::create_directories(dir_ / "out");
  const testsupport::ChildRun run = Render({"render", "-p", "shot.json", "-o", "out/f####.png"});
  ASSERT_EQ(run.status, 0) << run.err;
  for (const char* name : {"out/f0000.png", "out/f0001.png", "out/f0002.png"})
    EXPECT_TRUE(std::filesystem::exists(dir_ / name)) << name;
  EXPECT_TRUE(ReadPixels((dir_ / "frame1.png").string()).rgba ==
              ReadPixels((dir_ / "out/f0001.png").string()).rgba);
  EXPECT_FALSE(ReadPixels((dir_ / "out/f0000.png").string()).rgba ==
               ReadPixels((dir_ / "out/f0001.png").string()).rgba);
}

class PreviewOutputTest : public PreviewRenderTest {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(dir_ / "rendered");
    Start({"-f", "0-1", "-o", "rendered/f####.png"});
  }
};

TEST_F(PreviewOutputTest, RenderWritesTheProjectsOutputWithProgress) {
  EventReader events(server());
  ASSERT_EQ(Set("Rotate", 10).status, 200);
  const testsupport::Answer started = server().Post("/api/render", json::object());
  ASSERT_EQ(started.status, 200) << started.text;
  EXPECT_EQ(started.body["started"], true);
  const std::optional<Event> done =
      events.WaitFor([](const Event& e) { return e.name == "rendered"; });
  ASSERT_TRUE(done);
  EXPECT_EQ(done->data["ok"], true) << done->data.dump();
  int progress = 0;
  for (const Event& e : events.Events()) {
    if (e.name != "progress") continue;
    ++progress;
    EXPECT_EQ(e.data["total"], 2);
  }
  EXPECT_EQ(progress, 2);
  const testsupport::ChildRun run =
      Render({"render", Example("input.png"), "--map", Example("map.png"), "--set", "Rotate=10",
              "-f", "1", "-o", "expected.png"});
  ASSERT_EQ(run.status, 0) << run.err;
  EXPECT_TRUE(ReadPixels((dir_ / "rendered/f0001.png").string()).rgba ==
              ReadPixels((dir_ / "expected.png").string()).rgba);
  EXPECT_EQ(State()["rendering"], false);
}

}  // namespace

namespace {

// What a file stores: its sample type and its pixels as stored.
std::pair<OIIO::TypeDesc, std::vector<unsigned char>> Stored(const std::string& path) {
  OIIO::ImageBuf buf(path);
  if (!buf.read(0, 0, true)) {
    ADD_FAILURE() << "cannot read " << path << ": " << buf.geterror();
    return {};
  }
  std::vector<unsigned char> bytes(buf.spec().image_bytes());
  buf.get_pixels(buf.roi(), buf.spec().format, bytes.data());
  return {buf.spec().format, bytes};
}

// A session started with options that change what is rendered and written keeps them: Save
// writes them into the project, and Render writes what `varnex render` with them writes.
class PreviewOptionsTest : public PreviewRenderTest {
 protected:
  void SetUp() override {
    Start({"--downsample", "2", "--missing", "hold", "--out-type", "uint16", "-o", "rendered.png"});
  }
};

TEST_F(PreviewOptionsTest, SaveAndRenderKeepTheSessionsOptions) {
  EventReader events(server());
  ASSERT_EQ(Set("Rotate", 10).status, 200);
  ASSERT_EQ(server().Post("/api/save", {{"path", "shot.json"}}).status, 200);
  const json project = json::parse(testsupport::ReadFile(dir_ / "shot.json"));
  EXPECT_EQ(project["downsample"], 2);
  EXPECT_EQ(project["missing"], "hold");
  EXPECT_EQ(project["out_type"], "uint16");

  ASSERT_EQ(server().Post("/api/render", json::object()).status, 200);
  const std::optional<Event> done =
      events.WaitFor([](const Event& e) { return e.name == "rendered"; });
  ASSERT_TRUE(done);
  EXPECT_EQ(done->data["ok"], true) << done->data.dump();

  testsupport::ChildRun run = Render({"render", Example("input.png"), "--map", Example("map.png"),
                                      "--set", "Rotate=10", "--downsample", "2", "--missing",
                                      "hold", "--out-type", "uint16", "-o", "expected.png"});
  ASSERT_EQ(run.status, 0) << run.err;
  run = Render({"render", "-p", "shot.json", "-o", "from-project.png"});
  ASSERT_EQ(run.status, 0) << run.err;
  const auto expected = Stored((dir_ / "expected.png").string());
  EXPECT_EQ(expected.first, OIIO::TypeDesc::UINT16);
  EXPECT_TRUE(Stored((dir_ / "rendered.png").string()) == expected);
  EXPECT_TRUE(Stored((dir_ / "from-project.png").string()) == expected);
}

}  // namespace
