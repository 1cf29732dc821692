#include <memory>
#include <string>

#include "media/image_read.h"
#include "media/image_sources.h"

namespace vmedia {

namespace {

class StillSource : public Source {
 public:
  StillSource(const std::string& path, const OpenOptions& options,
              std::optional<ImageHeader> header)
      : path_(path),
        role_(options.role + " image"),
        header_(header ? std::move(*header) : ReadImageHeader(path, role_)) {}

  SourceKind kind() const override { return SourceKind::kStill; }
  const std::string& path() const override { return path_; }
  FrameRange range() const override { return {0, 0}; }
  Rational fps() const override { return {0, 1}; }
  int width() const override { return header_.width; }
  int height() const override { return header_.height; }
  int depth() const override { return DepthOf(header_.deep_samples); }
  const ImageHeader* header() const override { return &header_; }
  ColourTag colour_tag() const override {
    return {.space = header_.colour_space, .float_samples = header_.float_samples};
  }

  // Every frame is the one picture; the layer asks only for 0.
  vhost::Image Frame(int n, int bpc) override {
    try {
      return ReadHostImage(path_, role_, bpc);
    } catch (const FootageError& e) {
      throw FootageError(e.what(), n);
    }
  }

 private:
  std::string path_;
  std::string role_;
  ImageHeader header_;
};

}  // namespace

std::unique_ptr<Source> OpenStill(const std::string& path, const OpenOptions& options,
                                  std::optional<ImageHeader> header) {
  return std::make_unique<StillSource>(path, options, std::move(header));
}

}  // namespace vmedia
