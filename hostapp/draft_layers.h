// Layers at a draft resolution. A host in draft mode hands layers out box-filtered down to the
// render's resolution; a still shows the same picture at every frame, so its filtered copy is
// made once and kept while the still lives, instead of once per frame.
#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "hostapp/image.h"
#include "pf_sdk.h"

namespace vhost {

// Integer ceiling of n × num / den, at least 1 for a non-empty n: a layer's size at a factor.
int ScaledSize(int n, const PF_RationalScale& s);
// A layer's origin at a factor, rounded toward zero.
int ScaledOrigin(int origin, const PF_RationalScale& s);

// Box-filters `src` down by the factors: each output pixel averages the source pixels it covers.
Image Downsample(const Image& src, const PF_RationalScale& x, const PF_RationalScale& y);

class DraftLayers {
 public:
  // `source` filtered down by the factors: a copy made for an earlier render of the same picture
  // at the same factors, or one made now. Safe to call from several render threads.
  std::shared_ptr<const Image> Get(const std::shared_ptr<const Image>& source,
                                   const PF_RationalScale& x, const PF_RationalScale& y);

 private:
  struct Entry {
    std::weak_ptr<const Image> source;  // expires with the picture, which a new one can't match
    PF_RationalScale x{1, 1}, y{1, 1};
    std::shared_ptr<const Image> scaled;
  };
  // A few: the input and the map, at a draft factor or two. Movie frames come and go; their
  // entries expire with them and are the first to be replaced.
  static constexpr size_t kMaxEntries = 4;

  std::mutex mutex_;
  std::vector<Entry> entries_;  // oldest first
};

}  // namespace vhost
