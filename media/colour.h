// Colour spaces through OpenImageIO's colour configuration: an OpenColorIO config (a file the user
// names, or $OCIO) or, without one, OpenImageIO's built-in spaces ("linear", "sRGB", "Rec709").
//
// Pixels are converted as straight colour: red, green and blue go through the conversion, alpha
// never does, and nothing is divided or multiplied by alpha on the way (the footage is straight
// already). OpenImageIO's types stay behind this header.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hostapp/image.h"
#include "media/image_read.h"
#include "media/source.h"

namespace vmedia {

// The names files are tagged with by convention, and which the built-in configuration knows.
inline constexpr char kSrgbSpace[] = "sRGB";
inline constexpr char kLinearSpace[] = "linear";
inline constexpr char kRec709Space[] = "Rec709";

// The space an untagged source's values are in by convention: Rec709 for movies, linear for
// images of half or float samples, sRGB for images of integer samples.
std::string ConventionalSpace(SourceKind kind, bool float_samples);

// `tag` in the spelling of the conventional names when it is one of them in another case
// (OpenImageIO's EXR reader says "Linear"); any other tag as it is.
std::string ConventionalSpelling(const std::string& tag);

// A conversion from one colour space to another, ready to apply. Copies share the work; applying
// it from several threads at once is safe.
class ColourConversion {
 public:
  ColourConversion() = default;  // the identity

  bool identity() const { return steps_ == nullptr; }
  const std::string& to() const { return to_; }

  // Converts the colour channels of every pixel in place.
  void Apply(RgbaImage* image) const;
  // The same for a host buffer (alpha first). An 8-bit buffer is converted through float and
  // comes back on 8-bit steps.
  void Apply(vhost::Image* image) const;

 private:
  friend class ColourConfig;
  struct Steps;
  std::shared_ptr<const Steps> steps_;
  std::string to_;
};

class ColourConfig {
 public:
  // Loads the OpenColorIO config at `path`; with an empty path the one $OCIO names, and without
  // that OpenImageIO's built-in spaces. `option` names the path in messages ("--ocio-config").
  // Throws FootageError, one line naming the file, for a file that is missing, is not a file, or
  // is not a config OpenColorIO can load, and for a config without colour spaces.
  ColourConfig(const std::string& path, const std::string& option);
  ~ColourConfig();
  ColourConfig(const ColourConfig&) = delete;
  ColourConfig& operator=(const ColourConfig&) = delete;

  // The config's file, or "built-in".
  const std::string& name() const { return name_; }
  bool built_in() const { return path_.empty(); }
  // Every colour space the config defines, in its order.
  const std::vector<std::string>& Spaces() const { return spaces_; }

  // The config's name for a user's `name`: the same name, else the one that differs only in
  // case, else nullopt.
  std::optional<std::string> Find(const std::string& name) const;
  // The same, or a FootageError "`what` "NAME": no such colour space; nearest: ..." naming the
  // closest names by edit distance.
  std::string Resolve(const std::string& name, const std::string& what) const;

  // The conversion between two of the config's spaces (as Find gives them); the identity when
  // they are the same. Throws FootageError when the config has no way from one to the other.
  ColourConversion Conversion(const std::string& from, const std::string& to) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
  std::string path_;
  std::string name_;
  std::vector<std::string> spaces_;
};

// `source` with each frame converted by `conversion` as it is decoded: at 32 bits, then brought
// to the depth the layer asked for. Its depth is 32 unless the conversion is the identity, since
// converted values fall between 8-bit steps. Everything else is the source's own.
std::unique_ptr<Source> ConvertingSource(std::unique_ptr<Source> source,
                                         ColourConversion conversion);

}  // namespace vmedia
