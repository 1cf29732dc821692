#include <OpenImageIO/imageio.h>

#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <system_error>

#include "hostapp/text.h"
#include "media/frame_pattern.h"
#include "media/image_read.h"
#include "media/image_sources.h"
#include "media/movie.h"
#include "media/source.h"

namespace vmedia {

namespace {

// OpenImageIO's own reader of movie files, in lower case: movies go to ours, which knows their
// rate. Its extension list names it "ffmpeg", an open reader "FFmpeg movie".
constexpr std::string_view kOiioMovieFormat = "ffmpeg";

bool IsOiioMovieFormat(const std::string& format) {
  return vhost::Lower(format).rfind(kOiioMovieFormat, 0) == 0;
}

// Whether one of OpenImageIO's still-image formats (or, with `movies`, its movie format) claims
// files with `path`'s extension. Only the name counts: OpenImageIO's own lookup also reads the
// file, and refuses a damaged one.
bool ClaimedByName(const std::string& path, bool movies) {
  std::string extension = vhost::Lower(std::filesystem::path(path).extension().string());
  if (extension.size() < 2) return false;
  extension.erase(0, 1);
  // "png:png;tiff:tif,tiff;...": each format with the extensions it claims.
  std::istringstream formats(OIIO::get_string_attribute("extension_list"));
  for (std::string entry; std::getline(formats, entry, ';');) {
    const size_t colon = entry.find(':');
    if (colon == std::string::npos || IsOiioMovieFormat(entry.substr(0, colon)) != movies) continue;
    std::istringstream claimed(entry.substr(colon + 1));
    for (std::string one; std::getline(claimed, one, ',');) {
      if (one == extension) return true;
    }
  }
  return false;
}

}  // namespace

std::unique_ptr<Source> OpenSource(const std::string& path, const OpenOptions& options) {
  if (std::optional<FramePattern> pattern = ParseFramePattern(path, options.role))
    return OpenSequence(path, *pattern, options);
  std::error_code ec;
  if (!std::filesystem::exists(path, ec))
    throw FootageError(options.role + " " + vhost::Quoted(path) + ": no such file");
  if (std::filesystem::is_directory(path, ec))
    throw FootageError(options.role + " " + vhost::Quoted(path) + ": not a file but a folder");
  // A movie's name goes to our movie reader first: OpenImageIO's own leaks on every movie it
  // opens. A still under a movie's name is still a still.
  if (ClaimedByName(path, true) && !ClaimedByName(path, false)) {
    try {
      return OpenMovie(path, options);
    } catch (const FootageError&) {
      try {
        ImageHeader header = ReadImageHeader(path, options.role + " image");
        if (!IsOiioMovieFormat(header.format)) return OpenStill(path, options, std::move(header));
      } catch (const FootageError&) {
      }
      throw;
    }
  }
  // Otherwise the file's contents decide first: a still under any name is a still.
  try {
    ImageHeader header = ReadImageHeader(path, options.role + " image");
    if (!IsOiioMovieFormat(header.format)) return OpenStill(path, options, std::move(header));
  } catch (const FootageError&) {
    // An image's name on a damaged file: the image reader's complaint is the one that helps.
    if (ClaimedByName(path, false)) throw;
  }
  return OpenMovie(path, options);
}

}  // namespace vmedia
