#include "media/colour.h"

#include <OpenImageIO/color.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <utility>

#include "hostapp/text.h"

namespace vmedia {

namespace {

using vhost::EditDistance;
using vhost::Lower;
using vhost::Quoted;

// How many of the closest names a refusal suggests, and the longest name worth ranking: a name
// far longer than any space's is near none of them, and echoing it whole floods the line.
constexpr size_t kNearestShown = 3;
constexpr size_t kLongestRanked = 64;

// OpenImageIO prefixes a failed load with its own account ("Error reading OCIO config ...:
// Error: Loading the OCIO profile ... failed. "); what follows it is the reason.
std::string LoadFailureReason(const std::string& message) {
  std::string reason = vhost::FirstLine(message);
  constexpr std::string_view kLead = "failed. ";
  const size_t lead = reason.find(kLead);
  if (lead != std::string::npos && lead + kLead.size() < reason.size())
    reason.erase(0, lead + kLead.size());
  return reason;
}

}  // namespace

std::string ConventionalSpace(SourceKind kind, bool float_samples) {
  if (kind == SourceKind::kMovie) return kRec709Space;
  return float_samples ? kLinearSpace : kSrgbSpace;
}

std::string ConventionalSpelling(const std::string& tag) {
  for (const char* name : {kSrgbSpace, kLinearSpace, kRec709Space}) {
    if (Lower(tag) == Lower(name)) return name;
  }
  return tag;
}

// The processors applied in turn: one, or two through the scene-linear space where the config
// converts only to and from it (OpenImageIO's built-in spaces do).
struct ColourConversion::Steps {
  std::vector<OIIO::ColorProcessorHandle> processors;
};

void ColourConversion::Apply(RgbaImage* image) const {
  if (!steps_) return;
  constexpr OIIO::stride_t kPixel = 4 * sizeof(float);
  for (const OIIO::ColorProcessorHandle& step : steps_->processors)
    step->apply(image->pixels.data(), image->width, image->height, 3, sizeof(float), kPixel,
                kPixel * image->width);
}

void ColourConversion::Apply(vhost::Image* image) const {
  if (!steps_) return;
  if (image->bpc != 32) {
    RgbaImage straight = FromHostImage(*image);
    Apply(&straight);
    *image = ToHostImage(straight, image->bpc, image->origin_x, image->origin_y);
    return;
  }
  // Red, green and blue follow alpha in each 16-byte pixel; rows are padded, hence the row
  // stride. The storage of a 32-bit buffer is float-aligned (whole pixels from an allocation).
  float* first_red = reinterpret_cast<float*>(image->storage.data()) + 1;
  for (const OIIO::ColorProcessorHandle& step : steps_->processors)
    step->apply(first_red, image->width, image->height, 3, sizeof(float), 4 * sizeof(float),
                image->rowbytes);
}

struct ColourConfig::Impl {
  explicit Impl(const std::string& path) : config(path) {}
  OIIO::ColorConfig config;
};

ColourConfig::ColourConfig(const std::string& path, const std::string& option) {
  std::string where = option;
  path_ = path;
  if (path_.empty()) {
    if (const char* env = std::getenv("OCIO"); env && *env) {
      path_ = env;
      where = "$OCIO";
    }
  }
  const std::string what = where + " " + Quoted(path_);
  if (!path_.empty()) {
    std::error_code ec;
    if (!std::filesystem::exists(path_, ec)) throw FootageError(what + ": no such file");
    if (!std::filesystem::is_regular_file(path_, ec)) throw FootageError(what + ": not a file");
    if (!OIIO::ColorConfig::supportsOpenColorIO())
      throw FootageError(what + ": OpenImageIO was built without OpenColorIO");
  }
  // Without a file OpenImageIO falls back to its built-in spaces and leaves a message about the
  // missing file behind; with one, a message means the file did not load.
  impl_ = std::make_unique<Impl>(path_);
  const std::string error = impl_->config.geterror();
  if (!path_.empty() && !error.empty())
    throw FootageError(what + ": not an OpenColorIO config: " + LoadFailureReason(error));
  name_ = path_.empty() ? "built-in" : path_;

  for (const std::string& space : impl_->config.getColorSpaceNames()) {
    // The built-in list also names "default" and "rgb", between which and the others
    // OpenImageIO has no conversion; only spaces that convert to linear are offered.
    if (built_in() && space != kLinearSpace &&
        !impl_->config.createColorProcessor(space, kLinearSpace))
      continue;
    spaces_.push_back(space);
  }
  impl_->config.geterror();
  if (spaces_.empty()) throw FootageError(what + ": the config defines no colour spaces");
}

ColourConfig::~ColourConfig() = default;

std::optional<std::string> ColourConfig::Find(const std::string& name) const {
  if (std::find(spaces_.begin(), spaces_.end(), name) != spaces_.end()) return name;
  const std::string lower = Lower(name);
  for (const std::string& space : spaces_) {
    if (Lower(space) == lower) return space;
  }
  // An OpenColorIO config may also give its spaces aliases ("lin_rec709" for a longer name).
  for (const std::string& space : spaces_) {
    for (const std::string& alias : impl_->config.getAliases(space)) {
      if (Lower(alias) == lower) return space;
    }
  }
  return std::nullopt;
}

std::string ColourConfig::Resolve(const std::string& name, const std::string& what) const {
  if (std::optional<std::string> found = Find(name)) return *found;
  if (name.size() > kLongestRanked)
    throw FootageError(what + " " + Quoted(name.substr(0, kLongestRanked) + "...") +
                       ": no such colour space");
  const std::string want = Lower(name);
  std::vector<std::pair<size_t, std::string>> ranked;
  for (const std::string& space : spaces_)
    ranked.emplace_back(EditDistance(want, Lower(space)), space);
  std::stable_sort(ranked.begin(), ranked.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::string message = what + " " + Quoted(name) + ": no such colour space; nearest: ";
  for (size_t i = 0; i < std::min(kNearestShown, ranked.size()); ++i)
    message += (i ? ", " : "") + Quoted(ranked[i].second);
  throw FootageError(message);
}

ColourConversion ColourConfig::Conversion(const std::string& from, const std::string& to) const {
  ColourConversion conversion;
  conversion.to_ = to;
  if (from == to) return conversion;
  auto steps = std::make_shared<ColourConversion::Steps>();
  if (OIIO::ColorProcessorHandle direct = impl_->config.createColorProcessor(from, to)) {
    steps->processors.push_back(direct);
  } else {
    const char* role = impl_->config.getColorSpaceNameByRole("scene_linear");
    const std::string via = role ? role : kLinearSpace;
    OIIO::ColorProcessorHandle in = impl_->config.createColorProcessor(from, via);
    OIIO::ColorProcessorHandle out = impl_->config.createColorProcessor(via, to);
    if (!in || !out) {
      const std::string error = impl_->config.geterror();
      throw FootageError("the colour configuration " + name_ + " has no conversion from " +
                         Quoted(from) + " to " + Quoted(to) +
                         (error.empty() ? "" : ": " + vhost::FirstLine(error)));
    }
    steps->processors = {in, out};
  }
  impl_->config.geterror();
  // OpenColorIO hands back a no-op for spaces that differ only in name.
  if (std::all_of(steps->processors.begin(), steps->processors.end(),
                  [](const OIIO::ColorProcessorHandle& p) { return p->isNoOp(); }))
    return conversion;
  conversion.steps_ = std::move(steps);
  return conversion;
}

namespace {

class ConvertedSource final : public Source {
 public:
  ConvertedSource(std::unique_ptr<Source> source, ColourConversion conversion)
      : source_(std::move(source)), conversion_(std::move(conversion)) {}

  SourceKind kind() const override { return source_->kind(); }
  const std::string& path() const override { return source_->path(); }
  FrameRange range() const override { return source_->range(); }
  Rational fps() const override { return source_->fps(); }
  int width() const override { return source_->width(); }
  int height() const override { return source_->height(); }
  int depth() const override { return conversion_.identity() ? source_->depth() : 32; }
  ColourTag colour_tag() const override {
    ColourTag tag = source_->colour_tag();
    if (!conversion_.to().empty()) tag.space = conversion_.to();
    return tag;
  }

  vhost::Image Frame(int n, int bpc) override {
    if (conversion_.identity()) return source_->Frame(n, bpc);
    vhost::Image frame = source_->Frame(n, 32);
    conversion_.Apply(&frame);
    if (bpc == 32) return frame;
    return ToHostImage(FromHostImage(frame), bpc, frame.origin_x, frame.origin_y);
  }

 private:
  std::unique_ptr<Source> source_;
  ColourConversion conversion_;
};

}  // namespace

std::unique_ptr<Source> ConvertingSource(std::unique_ptr<Source> source,
                                         ColourConversion conversion) {
  return std::make_unique<ConvertedSource>(std::move(source), std::move(conversion));
}

}  // namespace vmedia
