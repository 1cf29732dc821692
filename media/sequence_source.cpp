#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "hostapp/text.h"
#include "media/image_read.h"
#include "media/image_sources.h"

namespace vmedia {

namespace {

namespace fs = std::filesystem;

// Frame numbers of more digits would not fit an int.
constexpr size_t kMaxFrameDigits = 9;

// The frame number a file name stands for under the pattern's file-name part, or -1. Only the
// name the pattern itself would give that number counts: "f0012.png" is frame 12 under "f####",
// "f12345.png" frame 12345 (numbers outgrow their padding), but "f00012.png" is nobody's.
int FrameOfName(const std::string& name, const std::string& prefix, const FramePattern& pattern) {
  const std::string& suffix = pattern.suffix;
  if (name.size() <= prefix.size() + suffix.size()) return -1;
  if (name.compare(0, prefix.size(), prefix) != 0) return -1;
  if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) return -1;
  const std::string digits =
      name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  if (digits.size() > kMaxFrameDigits) return -1;
  if (!std::all_of(digits.begin(), digits.end(),
                   [](unsigned char c) { return std::isdigit(c) != 0; }))
    return -1;
  int frame = 0;
  if (!vhost::ParseWholeNumber(digits, &frame)) return -1;
  FramePattern bare{"", "", pattern.width};
  return ExpandFramePattern(bare, frame) == digits ? frame : -1;
}

// The files of a pattern's folder that it matches, by frame number.
std::map<int, std::string> MatchingFiles(const FramePattern& pattern, const std::string& what) {
  // "shots/in." lists "shots" for names starting "in."; "shots/" lists it for any name.
  const fs::path prefix_path(pattern.prefix);
  const fs::path folder = prefix_path.has_parent_path() ? prefix_path.parent_path() : ".";
  const std::string file_prefix = prefix_path.filename().string();
  std::error_code ec;
  fs::directory_iterator it(folder, ec);
  if (ec) throw FootageError(what + ": cannot list its folder: " + ec.message());
  std::map<int, std::string> files;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) throw FootageError(what + ": cannot list its folder: " + ec.message());
    const int frame = FrameOfName(it->path().filename().string(), file_prefix, pattern);
    if (frame >= 0) files.emplace(frame, ExpandFramePattern(pattern, frame));
  }
  if (files.empty()) throw FootageError(what + ": no file matches");
  return files;
}

class SequenceSource : public Source {
 public:
  SequenceSource(const std::string& path, const FramePattern& pattern, const OpenOptions& options)
      : path_(path), pattern_(pattern), role_(options.role) {
    const std::string what = role_ + " sequence " + vhost::Quoted(path);
    files_ = MatchingFiles(pattern, what);
    range_ = {files_.begin()->first, files_.rbegin()->first};
    if (options.missing == MissingFrames::kRefuse &&
        static_cast<int>(files_.size()) != range_.count())
      ThrowFirstMissing(what);
    bool deep = false;
    for (const auto& [frame, file] : files_) {
      ImageHeader header;
      try {
        header = ReadImageHeader(file, FrameRole(frame));
      } catch (const FootageError& e) {
        throw FootageError(e.what(), frame);
      }
      if (frame == range_.first) {
        first_header_ = header;
        width_ = header.width;
        height_ = header.height;
        colour_ = {.space = header.colour_space, .float_samples = header.float_samples};
      } else if (header.width != width_ || header.height != height_) {
        throw FootageError(what + ": frame " + std::to_string(frame) + " is " +
                               std::to_string(header.width) + "x" + std::to_string(header.height) +
                               ", frame " + std::to_string(range_.first) + " is " +
                               std::to_string(width_) + "x" + std::to_string(height_),
                           frame);
      }
      deep = deep || header.deep_samples;
    }
    depth_ = DepthOf(deep);
  }

  SourceKind kind() const override { return SourceKind::kSequence; }
  const std::string& path() const override { return path_; }
  FrameRange range() const override { return range_; }
  Rational fps() const override { return {0, 1}; }
  int width() const override { return width_; }
  int height() const override { return height_; }
  int depth() const override { return depth_; }
  ColourTag colour_tag() const override { return colour_; }

  const ImageHeader* header() const override { return &first_header_; }
  std::string FileOf(int n) const override { return ExpandFramePattern(pattern_, n); }

  vhost::Image Frame(int n, int bpc) override {
    const auto& [file_frame, file] = *NearestFile(n);
    try {
      return ReadHostImage(file, FrameRole(file_frame), bpc);
    } catch (const FootageError& e) {
      throw FootageError(e.what(), n);
    }
  }

 private:
  std::string FrameRole(int frame) const { return role_ + " frame " + std::to_string(frame); }

  void ThrowFirstMissing(const std::string& what) const {
    int expected = range_.first;
    for (const auto& entry : files_) {
      if (entry.first != expected) break;
      ++expected;
    }
    throw FootageError(what + ": frame " + std::to_string(expected) + " is missing", expected);
  }

  // The file of frame n, or of the nearest frame on disk (the earlier on a tie) when it has none.
  std::map<int, std::string>::const_iterator NearestFile(int n) const {
    auto after = files_.lower_bound(n);
    if (after != files_.end() && after->first == n) return after;
    if (after == files_.begin()) return after;
    auto before = std::prev(after);
    if (after == files_.end()) return before;
    return n - before->first <= after->first - n ? before : after;
  }

  std::string path_;
  ImageHeader first_header_;
  FramePattern pattern_;
  std::string role_;
  std::map<int, std::string> files_;
  FrameRange range_;
  int width_ = 0;
  int height_ = 0;
  int depth_ = 8;
  ColourTag colour_;  // the first frame's
};

}  // namespace

std::unique_ptr<Source> OpenSequence(const std::string& path, const FramePattern& pattern,
                                     const OpenOptions& options) {
  return std::make_unique<SequenceSource>(path, pattern, options);
}

}  // namespace vmedia
