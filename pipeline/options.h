// The render's options, each listed once: its command-line flags, its project key, its value's
// form and its check. The command line, the project reader, the saved project (--save-project and
// the preview's Save), the report's settings and every other front end read this table, so an
// option cannot be parsed in one place and forgotten in another.
#pragma once

#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "pipeline/request.h"

namespace vpipe {

// Where a value came from, for messages and paths.
struct OptionOrigin {
  std::string where;   // "--fps", or "project p.json: \"fps\""
  std::string folder;  // relative paths are taken from here (a project's folder); empty: as given
};

struct Option {
  std::string name;        // the long flag without its dashes ("map-offset"); "input" for INPUT
  std::string flags;       // as the command line spells them: "-m,--map", "INPUT"
  std::string key;         // the project key, dotted where it nests ("map.offset"); empty: not
                           // saved, because it changes nothing rendered or written
  std::string value_name;  // "N", "FILE"; empty for a flag that takes no value
  std::string help;
  // Sets the request from a value: text from a command line, or a project's JSON value. Throws
  // InputError naming `origin.where`.
  std::function<void(RenderRequest&, const nlohmann::json&, const OptionOrigin&)> set;
  // The request's value as a project holds it; null when it has none.
  std::function<nlohmann::json(const RenderRequest&)> get;
  bool flag() const { return value_name.empty(); }
};

// Every option of a render, in the order `varnex render --help` lists them.
const std::vector<Option>& RenderOptions();

// The option called `name`; throws std::out_of_range for a name the table lacks.
const Option& FindOption(const std::string& name);

// Sets option `name` from command-line text (a flag's text is "true"), as "--name" gives it, and
// records it as given. Throws InputError.
void SetOption(RenderRequest* request, const std::string& name, const std::string& text);

// Reads a project file into a request; every key it holds is given. Throws InputError naming the
// file and the key at fault for a missing or unreadable file, malformed JSON, unknown keys and
// values of the wrong form.
RenderRequest LoadProject(const std::string& path);

// The options that have a project key and were given, with every control setting (each control's
// last), as a project that LoadProject reads back to the same request.
nlohmann::ordered_json ProjectOf(const RenderRequest& request);

// Every option with a value, for a report: what the render was given and what it resolved.
nlohmann::ordered_json SettingsOf(const RenderRequest& request);

}  // namespace vpipe
