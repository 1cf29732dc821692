// The frei0r plug-ins loaded as a host loads them: what they describe, how parameters become
// controls, frames they cannot render, instances on several threads, and the caller's GL context.
#include <epoxy/egl.h>
#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bridge/renderer.h"
#include "frei0r/params.h"
#include "support/frei0r_plugin.h"
#include "support/rgba_frames.h"

namespace {

using testsupport::Frei0rPlugin;
using testsupport::RgbaFrame;

const std::string kFilterPath = VARNEX_FREI0R_DIR "/varnex.so";
const std::string kMixerPath = VARNEX_FREI0R_DIR "/varnex_map.so";

const uint32_t* Words(const RgbaFrame& frame) {
  return reinterpret_cast<const uint32_t*>(frame.data());
}
uint32_t* Words(RgbaFrame& frame) {
  return reinterpret_cast<uint32_t*>(frame.data());
}

int IndexOf(const std::string& label) {
  const auto& params = vfrei0r::Params();
  for (size_t i = 0; i < params.size(); ++i)
    if (params[i].control->label == label) return static_cast<int>(i);
  ADD_FAILURE() << "no parameter " << label;
  return -1;
}

int Frei0rTypeOf(vbridge::ControlKind kind) {
  switch (kind) {
    case vbridge::ControlKind::kCheckbox:
      return F0R_PARAM_BOOL;
    case vbridge::ControlKind::kPopup:
      return F0R_PARAM_STRING;
    case vbridge::ControlKind::kPoint:
      return F0R_PARAM_POSITION;
    default:
      return F0R_PARAM_DOUBLE;
  }
}

// Each file names itself, its type and the project's version, and lists one parameter per
// settable control, labelled as the panel labels it, in declaration order.
TEST(Frei0rPluginTest, DescribeThemselves) {
  for (const auto& [path, name, type] :
       {std::tuple{kFilterPath, "varnex", F0R_PLUGIN_TYPE_FILTER},
        std::tuple{kMixerPath, "varnex_map", F0R_PLUGIN_TYPE_MIXER2}}) {
    SCOPED_TRACE(path);
    Frei0rPlugin plugin(path);
    ASSERT_TRUE(plugin.loaded());
    f0r_plugin_info_t info{};
    plugin.get_plugin_info(&info);
    EXPECT_STREQ(info.name, name);
    EXPECT_EQ(info.plugin_type, type);
    EXPECT_EQ(info.color_model, F0R_COLOR_MODEL_RGBA8888);
    EXPECT_EQ(info.frei0r_version, FREI0R_MAJOR_VERSION);
    EXPECT_EQ(std::to_string(info.major_version) + "." + std::to_string(info.minor_version),
              std::string(VARNEX_VERSION).substr(0, std::string(VARNEX_VERSION).rfind('.')));
    EXPECT_NE(std::string(info.author), "");
    EXPECT_NE(std::string(info.explanation), "");
    const auto& controls = vbridge::SettableControls();
    ASSERT_EQ(info.num_params, static_cast<int>(controls.size()));
    for (int i = 0; i < info.num_params; ++i) {
      f0r_param_info_t param{};
      plugin.get_param_info(&param, i);
      EXPECT_EQ(param.name, controls[i].label) << "parameter " << i;
      EXPECT_EQ(param.type, Frei0rTypeOf(controls[i].kind)) << param.name;
      EXPECT_NE(std::string(param.explanation), "") << param.name;
    }
    // Only the frei0r functions are exported: the effect's own entry stays inside.
    EXPECT_EQ(dlsym(plugin.handle(), "EffectMain"), nullptr);
  }
}

// Values given in frei0r's 0..1 become the controls' values in the panel's units: the render
// equals the bridge's with those values; every value reads back as set; an unknown popup text
// and an index out of range change nothing.
TEST(Frei0rPluginTest, ParametersBecomeTheControlsValues) {
  Frei0rPlugin plugin(kMixerPath);
  ASSERT_TRUE(plugin.loaded());
  f0r_instance_t instance = plugin.construct(27, 13);
  ASSERT_NE(instance, nullptr);

  double number = -1;
  plugin.get_param_value(instance, &number, IndexOf("Translate X"));
  EXPECT_EQ(number, 0.5);
  plugin.get_param_value(instance, &number, IndexOf("Scale X"));
  EXPECT_DOUBLE_EQ(number, 0.51);
  plugin.get_param_value(instance, &number, IndexOf("Uniform Scale"));
  EXPECT_EQ(number, 1);
  const char* text = nullptr;
  plugin.get_param_value(instance, &text, IndexOf("Channel"));
  EXPECT_STREQ(text, "Luminance");

  const double translate = 0.501;           // +10 %
  const double iterations = 2.0 / 999;      // 1 + 2
  const double rotate = 0.5 + 30.0 / 7200;  // 30 degrees
  const double invert = 1;
  const char* edge = "mirror repeat";
  const char* mode = "Gradient Ramp";
  f0r_param_position_t origin{0.25, 0.75};
  plugin.set_param_value(instance, const_cast<double*>(&translate), IndexOf("Translate X"));
  plugin.set_param_value(instance, const_cast<double*>(&iterations), IndexOf("Iterations"));
  plugin.set_param_value(instance, const_cast<double*>(&rotate), IndexOf("Rotate"));
  plugin.set_param_value(instance, const_cast<double*>(&invert), IndexOf("Invert Map"));
  plugin.set_param_value(instance, &edge, IndexOf("Edge Behavior"));
  plugin.set_param_value(instance, &mode, IndexOf("Mode"));
  plugin.set_param_value(instance, &origin, IndexOf("Ramp Origin"));
  ::testing::internal::CaptureStderr();
  const char* unknown = "Sideways";
  plugin.set_param_value(instance, &unknown, IndexOf("Edge Behavior"));
  plugin.set_param_value(instance, &unknown, IndexOf("Edge Behavior"));
  plugin.set_param_value(instance, const_cast<double*>(&translate), -1);
  plugin.set_param_value(instance, const_cast<double*>(&translate), 10000);
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(said,
            "varnex_map: \"Edge Behavior\" has no item \"Sideways\"; it stays "
            "\"mirror repeat\"\n");
  number = 7;
  plugin.get_param_value(instance, &number, 10000);
  EXPECT_EQ(number, 7);

  plugin.get_param_value(instance, &number, IndexOf("Translate X"));
  EXPECT_EQ(number, translate);
  plugin.get_param_value(instance, &text, IndexOf("Edge Behavior"));
  EXPECT_STREQ(text, edge);
  f0r_param_position_t read_back{};
  plugin.get_param_value(instance, &read_back, IndexOf("Ramp Origin"));
  EXPECT_EQ(read_back.x, origin.x);
  EXPECT_EQ(read_back.y, origin.y);

  const RgbaFrame input = testsupport::PatternFrame(27, 13, 4);
  const RgbaFrame map = testsupport::PatternFrame(27, 13, 5);
  RgbaFrame through_frei0r = testsupport::BlankFrame(27, 13);
  plugin.update2(instance, 0, Words(input), Words(map), nullptr, Words(through_frei0r));
  plugin.destruct(instance);

  vbridge::Renderer renderer;
  renderer.Set(PARAM_TRANSLATE_X, 10);
  renderer.Set(PARAM_ITERATIONS, 3);
  renderer.Set(PARAM_ROTATE, 30);
  renderer.Set(PARAM_INVERT_MAP, 1);
  renderer.Set(PARAM_EDGE_BEHAVIOR, 4);
  renderer.Set(PARAM_MODE, 1);
  renderer.Set(PARAM_RAMP_ORIGIN, 25, 75);
  RgbaFrame through_bridge = testsupport::BlankFrame(27, 13);
  const vbridge::RgbaPixels map_pixels{map.data(), 27, 13, 27 * 4};
  renderer.Render({input.data(), 27, 13, 27 * 4}, &map_pixels, {0, 0},
                  {through_bridge.data(), 27, 13, 27 * 4});
  EXPECT_TRUE(testsupport::FramesAgree(through_frei0r, through_bridge, 0));
}

// frei0r has no error return: a frame that cannot be rendered comes out as it went in (cleared
// when there is no input), and each instance says why once, whatever the number of frames.
TEST(Frei0rPluginTest, FramesItCannotRenderPassThroughWithOneLine) {
  Frei0rPlugin filter(kFilterPath);
  Frei0rPlugin mixer(kMixerPath);
  ASSERT_TRUE(filter.loaded() && mixer.loaded());
  struct Case {
    Frei0rPlugin* plugin;
    unsigned width, height;
    bool input, map;
    const char* says;
  };
  const Case cases[] = {
      {&mixer, 8, 8, true, false, "varnex_map: the map layer has no pixels; frames pass through"},
      {&filter, 8, 8, false, false, "varnex: the input has no pixels; frames pass through"},
      {&filter, 16385, 8, true, false, "varnex: the input is 16385x8; the effect takes 1 to 16384"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.says);
    f0r_instance_t instance = c.plugin->construct(c.width, c.height);
    const RgbaFrame input = testsupport::PatternFrame(c.width, c.height, 6);
    const RgbaFrame map = testsupport::PatternFrame(c.width, c.height, 7);
    ::testing::internal::CaptureStderr();
    for (int frame = 0; frame < 3; ++frame) {
      RgbaFrame output = testsupport::PatternFrame(c.width, c.height, 8);
      c.plugin->update2(instance, frame / 25.0, c.input ? Words(input) : nullptr,
                        c.map ? Words(map) : nullptr, nullptr, Words(output));
      EXPECT_TRUE(testsupport::FramesAgree(
          output, c.input ? input : testsupport::BlankFrame(c.width, c.height), 0));
    }
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.rfind(c.says, 0), 0u) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    c.plugin->destruct(instance);
  }
}

// Three frames of an instance with its own settings.
std::vector<RgbaFrame> RenderFrames(const Frei0rPlugin& plugin, double translate,
                                    const char* edge) {
  f0r_instance_t instance = plugin.construct(24, 16);
  plugin.set_param_value(instance, &translate, IndexOf("Translate Y"));
  plugin.set_param_value(instance, &edge, IndexOf("Edge Behavior"));
  const RgbaFrame map = testsupport::PatternFrame(24, 16, 9);
  std::vector<RgbaFrame> frames;
  for (int frame = 0; frame < 3; ++frame) {
    const RgbaFrame input = testsupport::PatternFrame(24, 16, frame);
    frames.push_back(testsupport::BlankFrame(24, 16));
    plugin.update2(instance, frame / 25.0, Words(input), Words(map), nullptr, Words(frames.back()));
  }
  plugin.destruct(instance);
  return frames;
}

// Instances on two threads at once (as MLT keeps one per thread) render what they render one
// after the other.
TEST(Frei0rPluginTest, InstancesOnTwoThreadsRenderAsOneAfterTheOther) {
  Frei0rPlugin plugin(kMixerPath);
  ASSERT_TRUE(plugin.loaded());
  const std::vector<RgbaFrame> first = RenderFrames(plugin, 0.502, "Repeat");
  const std::vector<RgbaFrame> second = RenderFrames(plugin, 0.497, "Edge Repeat");
  std::vector<RgbaFrame> first_at_once, second_at_once;
  std::thread a([&] { first_at_once = RenderFrames(plugin, 0.502, "Repeat"); });
  std::thread b([&] { second_at_once = RenderFrames(plugin, 0.497, "Edge Repeat"); });
  a.join();
  b.join();
  ASSERT_EQ(first_at_once.size(), first.size());
  ASSERT_EQ(second_at_once.size(), second.size());
  for (size_t i = 0; i < first.size(); ++i) {
    EXPECT_TRUE(testsupport::FramesAgree(first_at_once[i], first[i], 0)) << "frame " << i;
    EXPECT_TRUE(testsupport::FramesAgree(second_at_once[i], second[i], 0)) << "frame " << i;
  }
  EXPECT_FALSE(testsupport::FramesAgree(first[0], second[0], 0));
}

// The caller's own context, OpenGL or OpenGL ES, is current again after an update, with its state
// and the bound API as they were; a caller without one has none after.
TEST(Frei0rPluginTest, CallersContextSurvivesAnUpdate) {
  Frei0rPlugin plugin(kFilterPath);
  ASSERT_TRUE(plugin.loaded());
  const EGLDisplay display =
      eglGetPlatformDisplayEXT(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  ASSERT_NE(display, EGL_NO_DISPLAY);
  ASSERT_TRUE(eglInitialize(display, nullptr, nullptr));
  const EGLint config_attributes[] = {EGL_SURFACE_TYPE, EGL_PBUFFER_BIT, EGL_RENDERABLE_TYPE,
                                      EGL_OPENGL_BIT | EGL_OPENGL_ES2_BIT, EGL_NONE};
  EGLConfig config = nullptr;
  EGLint configs = 0;
  ASSERT_TRUE(eglChooseConfig(display, config_attributes, &config, 1, &configs) && configs == 1);

  f0r_instance_t instance = plugin.construct(24, 16);
  double translate = 0.501;
  plugin.set_param_value(instance, &translate, IndexOf("Translate X"));
  const RgbaFrame input = testsupport::PatternFrame(24, 16, 10);
  RgbaFrame output = testsupport::BlankFrame(24, 16);
  const EGLint es_attributes[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};
  for (const EGLenum api : {EGL_OPENGL_API, EGL_OPENGL_ES_API}) {
    SCOPED_TRACE(api == EGL_OPENGL_API ? "OpenGL" : "OpenGL ES");
    ASSERT_TRUE(eglBindAPI(api));
    const EGLContext mine = eglCreateContext(display, config, EGL_NO_CONTEXT,
                                             api == EGL_OPENGL_ES_API ? es_attributes : nullptr);
    ASSERT_NE(mine, EGL_NO_CONTEXT);
    ASSERT_TRUE(eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, mine));
    glClearColor(0.25f, 0.5f, 0.75f, 1.0f);
    plugin.update(instance, 0, Words(input), Words(output));
    EXPECT_EQ(eglQueryAPI(), api);
    EXPECT_EQ(eglGetCurrentContext(), mine);
    EXPECT_EQ(eglGetCurrentDisplay(), display);
    GLfloat clear[4] = {};
    glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
    EXPECT_EQ(clear[0], 0.25f);
    EXPECT_EQ(clear[2], 0.75f);
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display, mine);
  }
  EXPECT_FALSE(testsupport::FramesAgree(output, input, 0)) << "the effect did not render";

  eglBindAPI(EGL_OPENGL_API);
  plugin.update(instance, 0.04, Words(input), Words(output));
  EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
  plugin.destruct(instance);
}

// Kdenlive's descriptions name exactly each plug-in's parameters, in order, each with the widget
// that carries its frei0r type.
TEST(KdenliveDescriptionTest, NamesEveryParameterWithItsType) {
  const std::map<int, std::string> widget = {{F0R_PARAM_BOOL, "bool"},
                                             {F0R_PARAM_DOUBLE, "animated"},
                                             {F0R_PARAM_STRING, "list"},
                                             {F0R_PARAM_POSITION, "fixed"}};
  for (const auto& [file, service] :
       {std::pair{"effects/frei0r_varnex.xml", "frei0r.varnex"},
        std::pair{"transitions/frei0r_varnex_map.xml", "frei0r.varnex_map"}}) {
    SCOPED_TRACE(file);
    std::ifstream in(std::string(VARNEX_KDENLIVE_DIR) + "/" + file);
    ASSERT_TRUE(in) << "missing";
    std::stringstream text;
    text << in.rdbuf();
    const std::string xml = text.str();
    EXPECT_NE(xml.find("tag=\"" + std::string(service) + "\""), std::string::npos);
    const std::regex parameter("<parameter type=\"([a-z]+)\"[^>]* name=\"([^\"]+)\">");
    std::vector<std::pair<std::string, std::string>> described;
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), parameter);
         it != std::sregex_iterator(); ++it)
      described.emplace_back((*it)[2], (*it)[1]);
    const auto& params = vfrei0r::Params();
    ASSERT_EQ(described.size(), params.size());
    for (size_t i = 0; i < params.size(); ++i) {
      EXPECT_EQ(described[i].first, params[i].control->label) << "parameter " << i;
      EXPECT_EQ(described[i].second, widget.at(params[i].type)) << described[i].first;
    }
  }
}

}  // namespace
