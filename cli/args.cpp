#include "cli/args.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>

#include "cli/errors.h"
#include "cli/limits.h"
#include "cli/submit.h"

#ifndef VARNEX_VERSION
#define VARNEX_VERSION "unknown"
#endif

namespace vcli {

namespace {

// An option whose value is kept as text, and whose absence stays visible as nullopt.
CLI::Option* AddText(CLI::App* app, const std::string& flags, std::optional<std::string>* target,
                     const std::string& help, const std::string& value_name) {
  return app
      ->add_option_function<std::string>(
          flags, [target](const std::string& value) { *target = value; }, help)
      ->type_name(value_name);
}

void AddRenderOptions(CLI::App* render, RenderArgs* args) {
  AddText(render, "INPUT", &args->input,
          "what to apply the effect to: an image (PNG, JPEG, TIFF, EXR), an image sequence "
          "(in.####.exr or in.%04d.exr) or a movie (MOV, MP4, MKV, ...); may come from the "
          "project",
          "FOOTAGE");
  AddText(render, "-o,--output", &args->output,
          "the image or movie to write; its extension picks the format (.mov ProRes 4444, .mp4 "
          "H.264, .mkv lossless FFV1, or an image format); an image sequence holds #### or %04d "
          "for the frame number; may come from the project",
          "OUTPUT");
  AddText(render, "-m,--map", &args->map,
          "the \"Map Layer\": an image, an image sequence or a movie; none by default", "FOOTAGE");
  AddText(render, "--map-offset", &args->map_offset,
          "the map layer's origin relative to the input, in pixels (default 0,0)", "X,Y");
  AddText(render, "--input-start", &args->input_start,
          "the frame at which the input's first frame shows (default: a sequence's own first "
          "number, a movie's 0)",
          "N");
  AddText(render, "--map-start", &args->map_start, "the same for the map layer", "N");
  AddText(render, "--input-outside", &args->input_outside,
          "what the input shows outside its frames: hold the nearest (default), loop, or "
          "transparent",
          "hold|loop|transparent");
  AddText(render, "--map-outside", &args->map_outside, "the same for the map layer",
          "hold|loop|transparent");
  AddText(render, "--missing", &args->missing,
          "a frame missing inside an image sequence: refuse the render (default) or hold the "
          "nearest existing frame",
          "refuse|hold");
  AddText(render, "--codec", &args->codec,
          "the encoder of a movie output (default by extension: prores_ks, libx264, ffv1)", "NAME");
  AddText(render, "--crf", &args->crf, "constant rate factor of a movie output (default 18)", "N");
  AddText(render, "--bitrate", &args->bitrate,
          "bit rate of a movie output instead of a rate factor, e.g. 20M", "RATE");
  AddText(render, "--out-type", &args->out_type,
          "the sample type of image files written (default: the input's own where the format "
          "holds it, else the nearest it does)",
          "uint8|uint16|half|float");
  AddText(render, "--compression", &args->compression,
          "the compression of image files written, by OpenImageIO's names: zip, zips, piz, "
          "dwaa:45, none (EXR), lzw, zip (TIFF), zip:3 (PNG's level)",
          "NAME");
  AddText(render, "--quality", &args->quality, "JPEG quality, 1 to 100", "N");
  render
      ->add_option("-s,--set", args->sets,
                   "set a control by its label (\"Translate X\") or identifier "
                   "(PARAM_TRANSLATE_X), case-insensitive, in the units the panel shows: "
                   "percent, degrees, on/off, popup item text or number; repeatable; overrides "
                   "the project")
      ->type_name("NAME=VALUE")
      ->allow_extra_args(false);
  AddText(render, "-p,--project", &args->project,
          "a JSON project: input, map, output, fps, frames, depth and control values or keyframes",
          "FILE");
  AddText(render, "-d,--depth", &args->depth,
          "bits per channel of the render (default: 8 for 8-bit footage, 32 when the input or the "
          "map is deeper: 16-bit images, 10-bit video, half or float)",
          "8|32");
  AddText(render, "--downsample", &args->downsample,
          "render at 1/N resolution, as a host's draft mode does (1 to " +
              std::to_string(kMaxDownsample) + ")",
          "N");
  AddText(render, "-f,--frames", &args->frames,
          "render frames A to B (0 to " + std::to_string(kMaxFrame) + ", at most " +
              std::to_string(kMaxFrameCount) +
              " frames; default: a sequence's or a movie's own frames, else 0); an image OUTPUT "
              "then holds #### or %04d for the frame number; a single frame N may be written to "
              "a plain OUTPUT",
          "A-B");
  AddText(render, "--fps", &args->fps,
          "frames per second: 24, 23.976 or 24000/1001 (default: a movie input's own rate, "
          "else 24)",
          "F");
  AddText(render, "-j,--threads", &args->threads,
          "host render threads (default: the number of cores, at most " +
              std::to_string(kMaxThreads) + ")",
          "N");
  AddText(render, "--colorspace-in", &args->colorspace_in,
          "the colour space of the input's values, over its file's tag (default: the tag, else "
          "sRGB for integer images, linear for float images, Rec709 for movies)",
          "NAME");
  AddText(render, "--working-space", &args->working_space,
          "render in this colour space: the input is converted into it, the render runs at 32 "
          "bits, and the output is converted into --colorspace-out (default: values pass "
          "through untouched)",
          "NAME");
  AddText(render, "--colorspace-out", &args->colorspace_out,
          "the colour space to write (default: the input's; with --working-space the output "
          "format's usual one: sRGB for 8- and 16-bit images, linear for EXR and float TIFF, "
          "Rec709 for movies)",
          "NAME");
  AddText(render, "--map-colorspace", &args->map_colorspace,
          "convert the map from this colour space into the working space (or the input's); "
          "by default the map is data and is never converted",
          "NAME");
  AddText(render, "--ocio-config", &args->ocio_config,
          "the OpenColorIO config whose colour spaces the names are (default: $OCIO, else "
          "OpenImageIO's built-in spaces)",
          "FILE");
  render->add_flag("-n,--no-overwrite", args->no_overwrite,
                   "refuse to replace an existing output (without it, outputs are replaced, each "
                   "at once when complete)");
  render->add_flag("--skip-existing", args->skip_existing,
                   "leave out frames whose image already exists (written whole, so complete): "
                   "running the same command again resumes a render");
  render->add_flag("--continue-on-error", args->continue_on_error,
                   "report a frame that fails and render the others (exit status 1)");
  render->add_flag("--dry-run", args->dry_run,
                   "resolve everything and print it (footage, frames, outputs, control values at "
                   "every frame); write no image");
  AddText(render, "--report", &args->report,
          "write the render's settings and each frame's output, time and outcome as JSON", "FILE");
  AddText(render, "--save-project", &args->save_project,
          "write the resolved render as a project that -p reads back", "FILE");
  render->add_flag("-q,--quiet", args->quiet, "no progress display and no warnings");
  render->add_flag("-v,--verbose", args->verbose,
                   "show the plug-in's GL diagnostics (on standard error)");
  render->footer(
      "Images larger than " + std::to_string(kMaxImageSide) + " pixels a side or " +
      std::to_string(kMaxImagePixels) +
      " pixels in all are refused. Exit status: 0 done, 1 the plug-in failed, 2 bad input "
      "(nothing written).");
}

// CLI11's messages can span lines; the command promises one line per error.
std::string FirstLine(const std::string& text) {
  return text.substr(0, text.find('\n'));
}

}  // namespace

int ParseCommandLine(int argc, char** argv, CommandLine* out) {
  CLI::App app("Applies the Varnex displacement effect to images through its own host.", "varnex");
  app.set_version_flag("--version", std::string("varnex ") + VARNEX_VERSION);
  app.require_subcommand(1);

  CLI::App* render = app.add_subcommand("render", "render stills, image sequences and movies");
  AddRenderOptions(render, &out->render);
  CLI::App* controls =
      app.add_subcommand("controls",
                         "list the controls the plug-in declares: index, id, identifier, kind, "
                         "name, range, default, choices, and whether the panel shows it");
  controls->add_flag("--json", out->json, "print the list as JSON");
  CLI::App* about = app.add_subcommand("about", "print the plug-in's About text");
  CLI::App* gpu = app.add_subcommand("gpu", "print the four GPU driver texts the plug-in shows");
  CLI::App* submit = app.add_subcommand(
      "submit", "render on a Slurm cluster: one job array whose tasks each render a chunk of -f");
  AddRenderOptions(submit, &out->render);
  AddSubmitOptions(submit, &out->submit);
  CLI::App* preview = app.add_subcommand(
      "preview", "the effect's control panel and a live viewer in the browser, on a local port");
  AddRenderOptions(preview, &out->render);
  AddText(preview, "--port", &out->preview.port, "the port to serve on (default 0: any free port)",
          "N");
  AddText(preview, "--listen", &out->preview.listen,
          "the address to listen on (default 127.0.0.1, this machine only); the page still "
          "needs the token of the printed address",
          "ADDRESS");
  CLI::App* colorspaces =
      app.add_subcommand("colorspaces", "list the colour spaces of the colour configuration");
  AddText(colorspaces, "--ocio-config", &out->ocio_config,
          "the OpenColorIO config to list (default: $OCIO, else OpenImageIO's built-in spaces)",
          "FILE");
  // Each command names its own, so that its --help lists it.
  for (CLI::App* command : {render, controls, about, gpu, submit, preview})
    AddText(command, "--plugin", &out->plugin,
            "the plug-in module to load (default: ../lib/varnex-effect.so beside the executable)",
            "PATH");

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
    std::fprintf(stderr, "varnex: %s (see varnex --help)\n", FirstLine(e.what()).c_str());
    return kExitBadInput;
  }
  if (render->parsed()) out->kind = CommandKind::kRender;
  if (controls->parsed()) out->kind = CommandKind::kControls;
  if (about->parsed()) out->kind = CommandKind::kAbout;
  if (gpu->parsed()) out->kind = CommandKind::kGpu;
  if (colorspaces->parsed()) out->kind = CommandKind::kColorspaces;
  if (preview->parsed()) out->kind = CommandKind::kPreview;
  if (submit->parsed()) {
    out->kind = CommandKind::kSubmit;
    CollectRenderOptions(*submit, &out->submit);
  }
  return -1;
}

}  // namespace vcli
