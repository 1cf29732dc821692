// The frei0r plug-ins in the programs people use them in, compared with our own renders of the
// same frames: MLT's melt (the engine of Kdenlive, Shotcut and Flowblade) as a filter and as a
// keyframed transition, FFmpeg's frei0r filter, GStreamer's frei0r mixer. Every program runs as
// a child with a time limit and is killed by its process id when it overruns; none opens a
// network connection.
#include <frei0r.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "bridge/renderer.h"
#include "frei0r/params.h"
#include "support/child_process.h"
#include "support/cli_support.h"
#include "support/rgba_frames.h"
#include "support/scoped_env.h"

namespace {

namespace fs = std::filesystem;
using testsupport::RgbaFrame;

constexpr int kTimeLimitSeconds = 60;
constexpr int kFps = 25;

testsupport::ChildRun RunHost(const std::string& program, const std::vector<std::string>& args,
                              const testsupport::TempDir& dir) {
  testsupport::ChildOptions options;
  options.cwd = dir.path();
  options.capture = dir.path().parent_path();
  options.timeout_s = kTimeLimitSeconds;
  testsupport::ChildRun run = testsupport::RunChild(program, args, options);
  EXPECT_FALSE(run.timed_out) << program << " ran past " << kTimeLimitSeconds << " s";
  EXPECT_EQ(run.status, 0) << program << " failed:\n" << run.err;
  return run;
}

int IndexOf(const std::string& label) {
  const auto& params = vfrei0r::Params();
  for (size_t i = 0; i < params.size(); ++i)
    if (params[i].control->label == label) return static_cast<int>(i);
  ADD_FAILURE() << "no parameter " << label;
  return 0;
}

// A control set three ways: as a frei0r value (text, as hosts write it), as `varnex render
// --set` takes it, and in the panel's units for the bridge.
struct Setting {
  const char* label;
  const char* frei0r;
  const char* cli;
  double panel;
};

// The first few controls, which every case sets, and "Translate X", which the MLT transition
// keys over time.
const std::vector<Setting> kSettings = {
    {"Channel", "Red", "Channel=Red", 1},
    {"Rotate", "0.50625", "Rotate=45", 45},
    {"Edge Behavior", "Mirror Repeat", "Edge Behavior=Mirror Repeat", 4},
};
const Setting kTranslate = {"Translate X", "0.501", "Translate X=10", 10};

// The pictures every case starts from: 24 x 16, and 27 x 13 where the host takes odd sizes.
struct Scene {
  testsupport::TempDir dir;
  RgbaFrame input, map;
  Scene(int width, int height)
      : input(testsupport::PatternFrame(width, height, 1)),
        map(testsupport::PatternFrame(width, height, 2)) {
    testsupport::WritePng(dir.path() / "in.png", input);
    testsupport::WritePng(dir.path() / "map.png", map);
  }
  std::string Path(const std::string& name) const { return (dir.path() / name).string(); }
};

// `varnex render` of the scene with every setting, "Translate X" keyed from 0 to 40 % over
// frames 0-4 when `keyed`, else set; frames 0 to `last` into ref##.png.
void RenderWithVarnex(const Scene& scene, bool with_map, bool keyed, int last) {
  std::vector<std::string> args = {
      "render", scene.Path("in.png"),        "--fps", std::to_string(kFps),
      "-f",     "0-" + std::to_string(last), "-o",    scene.Path("ref##.png")};
  if (with_map) args.insert(args.end(), {"--map", scene.Path("map.png")});
  for (const Setting& s : kSettings) args.insert(args.end(), {"--set", s.cli});
  if (keyed) {
    std::ofstream(scene.Path("keys.json")) << R"({"controls": {"Translate X": [[0, 0], [4, 40]]}})";
    args.insert(args.end(), {"-p", scene.Path("keys.json")});
  } else {
    args.insert(args.end(), {"--set", kTranslate.cli});
  }
  const clitest::RunResult run = clitest::RunVarnex(args, scene.dir);
  ASSERT_EQ(run.status, 0) << run.err;
}

std::string FrameName(const char* stem, int frame) {
  char name[32];
  std::snprintf(name, sizeof name, "%s%02d.png", stem, frame);
  return name;
}

// An MLT document of the scene at the test's rate, square pixels, progressive: the image on one
// track, and with `transition` the map on another, joined by the transition with "Translate X"
// keyed from 0.5 to 0.504 (0 to 40 %) over frames 0-4; else the filter on the image's track.
// Stills are read by gdk-pixbuf: MLT's Qt reader wants an X display.
void WriteMltDocument(const Scene& scene, bool transition) {
  const int w = scene.input.width, h = scene.input.height;
  std::ofstream xml(scene.Path("scene.mlt"));
  xml << "<mlt>\n  <profile width=\"" << w << "\" height=\"" << h << "\" frame_rate_num=\"" << kFps
      << "\" frame_rate_den=\"1\" progressive=\"1\" sample_aspect_num=\"1\" "
         "sample_aspect_den=\"1\" display_aspect_num=\""
      << w << "\" display_aspect_den=\"" << h << "\" colorspace=\"709\"/>\n";
  for (const char* track : {"in", "map"})
    xml << "  <producer id=\"" << track << "\" in=\"0\" out=\"4\"><property name=\"resource\">"
        << track << ".png</property><property name=\"mlt_service\">pixbuf</property></producer>\n"
        << "  <playlist id=\"" << track << "s\"><entry producer=\"" << track
        << "\" in=\"0\" out=\"4\"/></playlist>\n";
  xml << "  <tractor id=\"scene\" in=\"0\" out=\"" << (transition ? 4 : 0) << "\">\n"
      << "    <multitrack><track producer=\"ins\"/>"
      << (transition ? "<track producer=\"maps\"/>" : "") << "</multitrack>\n";
  if (transition) {
    xml << "    <transition in=\"0\" out=\"4\">\n"
        << "      <property name=\"mlt_service\">frei0r.varnex_map</property>\n"
        << "      <property name=\"a_track\">0</property>\n"
        << "      <property name=\"b_track\">1</property>\n"
        << "      <property name=\"Translate X\">0=0.5;4=0.504</property>\n";
  } else {
    xml << "    <filter track=\"0\">\n"
        << "      <property name=\"mlt_service\">frei0r.varnex</property>\n"
        << "      <property name=\"" << kTranslate.label << "\">" << kTranslate.frei0r
        << "</property>\n";
  }
  for (const Setting& s : kSettings)
    xml << "      <property name=\"" << s.label << "\">" << s.frei0r << "</property>\n";
  xml << (transition ? "    </transition>\n" : "    </filter>\n") << "  </tractor>\n</mlt>\n";
  xml.close();
  RunHost(VARNEX_MELT,
          {"-quiet", "scene.mlt", "-consumer", "avformat:out%02d.png", "vcodec=png", "pix_fmt=rgba",
           "mlt_image_format=rgba", "start_number=0"},
          scene.dir);
}

void MeltFilter(const Scene& scene) {
  WriteMltDocument(scene, false);
}

void MeltTransition(const Scene& scene) {
  WriteMltDocument(scene, true);
}

// FFmpeg's positional filter_params: every parameter up to the last one set, at its default
// unless set, in FFmpeg's syntax for its type.
std::string FilterParams(const std::vector<Setting>& settings) {
  const auto& params = vfrei0r::Params();
  std::vector<std::string> values;
  for (const vfrei0r::Param& p : params) {
    const vfrei0r::ParamValue v = vfrei0r::DefaultValue(p);
    std::ostringstream text;
    if (p.type == F0R_PARAM_BOOL) text << (v.x >= 0.5 ? "y" : "n");
    if (p.type == F0R_PARAM_DOUBLE) text << v.x;
    if (p.type == F0R_PARAM_STRING) text << v.text;
    if (p.type == F0R_PARAM_POSITION) text << v.x << "/" << v.y;
    values.push_back(text.str());
  }
  int last = 0;
  for (const Setting& s : settings) {
    values[IndexOf(s.label)] = s.frei0r;
    last = std::max(last, IndexOf(s.label));
  }
  std::string joined;
  for (int i = 0; i <= last; ++i) joined += (i ? "|" : "") + values[i];
  return joined;
}

void FfmpegFilter(const Scene& scene) {
  std::vector<Setting> all = kSettings;
  all.push_back(kTranslate);
  RunHost(VARNEX_FFMPEG,
          {"-nostdin", "-v", "error", "-y", "-i", "in.png", "-vf",
           "frei0r=filter_name=varnex:filter_params=" + FilterParams(all), "-frames:v", "1",
           "-pix_fmt", "rgba", FrameName("out", 0)},
          scene.dir);
}

// GStreamer's element names a property by its label in lower case, other characters as '-'.
std::string GstProperty(const std::string& label) {
  std::string name;
  for (char c : label) name += std::isalnum(static_cast<unsigned char>(c)) ? std::tolower(c) : '-';
  return name;
}

// Each still decoded straight into the mixer: with imagefreeze in between, gst-launch-1.0 1.22
// was seen to abort now and then ("double free or corruption") after the mixer's frame.
void GstMixer(const Scene& scene) {
  std::vector<std::string> args = {"-q",
                                   "filesrc",
                                   "location=in.png",
                                   "!",
                                   "pngdec",
                                   "!",
                                   "mix.sink_0",
                                   "filesrc",
                                   "location=map.png",
                                   "!",
                                   "pngdec",
                                   "!",
                                   "mix.sink_1",
                                   "frei0r-mixer-varnex-map",
                                   "name=mix"};
  for (const Setting& s : kSettings) args.push_back(GstProperty(s.label) + "=\"" + s.frei0r + "\"");
  args.push_back(GstProperty(kTranslate.label) + "=" + kTranslate.frei0r);
  args.insert(args.end(), {"!", "pngenc", "!", "filesink", "location=" + FrameName("out", 0)});
  RunHost(VARNEX_GST_LAUNCH, args, scene.dir);
}

// The bridge's own render of the scene with every setting, into ref00.png.
void RenderWithBridge(const Scene& scene) {
  vbridge::Renderer renderer;
  for (const Setting& s : kSettings)
    renderer.Set(vfrei0r::Params()[IndexOf(s.label)].control->index, s.panel);
  renderer.Set(PARAM_TRANSLATE_X, kTranslate.panel);
  RgbaFrame output = testsupport::BlankFrame(scene.input.width, scene.input.height);
  const vbridge::RgbaPixels map{scene.map.data(), scene.map.width, scene.map.height,
                                scene.map.width * 4};
  renderer.Render(
      {scene.input.data(), scene.input.width, scene.input.height, scene.input.width * 4}, &map,
      {0, 1.0 / kFps}, {output.data(), output.width, output.height, output.width * 4});
  testsupport::WritePng(scene.dir.path() / FrameName("ref", 0), output);
}

struct HostCase {
  const char* name;
  int width, height;
  int frames;
  std::function<void(const Scene&)> host;
  std::function<void(const Scene&)> reference;
};

// Named by its case, so that CTest lists it by name.
void PrintTo(const HostCase& c, std::ostream* out) {
  *out << c.name;
}

class HostTest : public ::testing::TestWithParam<HostCase> {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(VARNEX_FREI0R_DIR "/varnex.so"));
    ASSERT_TRUE(fs::exists(VARNEX_FREI0R_DIR "/varnex_map.so"));
  }
  // Hosts find the plug-ins here, GStreamer keeps its registry here, nothing is sent anywhere.
  ScopedEnv path_{"FREI0R_PATH", VARNEX_FREI0R_DIR};
  ScopedEnv registry_{"GST_REGISTRY", VARNEX_GST_REGISTRY};
};

// Each frame the host wrote equals ours within one code (the hosts' own conversions round).
TEST_P(HostTest, RendersAsOurHost) {
  const HostCase& c = GetParam();
  Scene scene(c.width, c.height);
  c.host(scene);
  c.reference(scene);
  for (int frame = 0; frame < c.frames; ++frame) {
    SCOPED_TRACE("frame " + std::to_string(frame));
    const RgbaFrame got = testsupport::ReadPng(scene.dir.path() / FrameName("out", frame));
    const RgbaFrame want = testsupport::ReadPng(scene.dir.path() / FrameName("ref", frame));
    EXPECT_TRUE(testsupport::FramesAgree(got, want, 1));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Frei0r, HostTest,
    ::testing::Values(
        HostCase{"MeltFilter", 24, 16, 1, MeltFilter,
                 [](const Scene& s) { RenderWithVarnex(s, false, false, 0); }},
        HostCase{"MeltKeyedTransition", 24, 16, 5, MeltTransition,
                 [](const Scene& s) { RenderWithVarnex(s, true, true, 4); }},
        // FFmpeg 5.1 pads rows to 64 bytes, which frei0r cannot say: 16 pixels are 64 bytes.
        HostCase{"FfmpegFilter", 32, 8, 1, FfmpegFilter,
                 [](const Scene& s) { RenderWithVarnex(s, false, false, 0); }},
        HostCase{"GstreamerMixer", 27, 13, 1, GstMixer, RenderWithBridge}),
    [](const ::testing::TestParamInfo<HostCase>& p) { return std::string(p.param.name); });

// What each host lists of the plug-ins names every parameter: `melt -query` by label (its title),
// and
// gst-inspect-1.0 by GStreamer's property name (a position as two, -x and -Y).
TEST_F(HostTest, HostsListEveryParameter) {
  testsupport::TempDir dir;
  const auto& params = vfrei0r::Params();
  for (const char* service : {"filter=frei0r.varnex", "transition=frei0r.varnex_map"}) {
    const std::string listed = RunHost(VARNEX_MELT, {"-query", service}, dir).out;
    for (const vfrei0r::Param& p : params)
      EXPECT_NE(listed.find("title: " + p.control->label), std::string::npos)
          << service << " does not list " << p.control->label;
  }
  for (const char* element : {"frei0r-filter-varnex", "frei0r-mixer-varnex-map"}) {
    const std::string listed = RunHost(VARNEX_GST_INSPECT, {element}, dir).out;
    for (const vfrei0r::Param& p : params) {
      const std::string name = GstProperty(p.control->label);
      for (const std::string& property : p.type == F0R_PARAM_POSITION
                                             ? std::vector<std::string>{name + "-x", name + "-Y"}
                                             : std::vector<std::string>{name})
        EXPECT_TRUE(std::regex_search(listed, std::regex("\n  " + property + " *:")))
            << element << " does not list " << property;
    }
  }
}

}  // namespace
