#include "cli/args.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <string>

#include "cli/exit_status.h"
#include "cli/submit.h"
#include "hostapp/text.h"
#include "pipeline/errors.h"
#include "pipeline/limits.h"
#include "pipeline/options.h"

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
  for (const vpipe::Option& option : vpipe::RenderOptions()) {
    const std::string name = option.name;
    if (option.flag()) {
      render->add_flag_callback(
          option.flags, [args, name] { args->options.emplace_back(name, "true"); }, option.help);
    } else if (name == "set") {
      render
          ->add_option_function<std::vector<std::string>>(
              option.flags,
              [args, name](const std::vector<std::string>& values) {
                for (const std::string& value : values) args->options.emplace_back(name, value);
              },
              option.help)
          ->type_name(option.value_name)
          ->allow_extra_args(false);
    } else if (name == "project") {
      AddText(render, option.flags, &args->project, option.help, option.value_name);
    } else {
      render
          ->add_option_function<std::string>(
              option.flags,
              [args, name](const std::string& value) { args->options.emplace_back(name, value); },
              option.help)
          ->type_name(option.value_name);
    }
  }
  render->footer(
      "Images larger than " + std::to_string(vpipe::kMaxImageSide) + " pixels a side or " +
      std::to_string(vpipe::kMaxImagePixels) +
      " pixels in all are refused. Exit status: 0 done, 1 the plug-in failed, 2 bad input "
      "(nothing written).");
}

}  // namespace

vpreview::ServeOptions ServeOptionsOf(const CommandLine& command) {
  vpreview::ServeOptions options;
  const std::optional<std::string>& port = command.preview.port;
  if (port &&
      (!vhost::ParseWholeNumber(*port, &options.port) || options.port < 0 || options.port > 65535))
    throw vpipe::InputError("--port " + *port + ": expected 0 to 65535");
  options.listen = command.preview.listen.value_or(options.listen);
  options.project = command.render.project;
  return options;
}

vpipe::RenderRequest RequestOf(const RenderArgs& args) {
  vpipe::RenderRequest request;
  if (args.project) request = vpipe::LoadProject(*args.project);
  for (const auto& [name, text] : args.options) vpipe::SetOption(&request, name, text);
  return request;
}

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
    std::fprintf(stderr, "varnex: %s (see varnex --help)\n", vhost::FirstLine(e.what()).c_str());
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
