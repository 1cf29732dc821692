#include "hostapp/draft_layers.h"

#include <algorithm>

namespace vhost {

int ScaledSize(int n, const PF_RationalScale& s) {
  if (n <= 0 || s.num <= 0 || s.den == 0) return n;
  long long v = (static_cast<long long>(n) * s.num + s.den - 1) / s.den;
  return static_cast<int>(std::max<long long>(v, 1));
}

int ScaledOrigin(int origin, const PF_RationalScale& s) {
  return static_cast<int>(static_cast<long long>(origin) * s.num / s.den);
}

Image Downsample(const Image& src, const PF_RationalScale& sx, const PF_RationalScale& sy) {
  const int w = ScaledSize(src.width, sx);
  const int h = ScaledSize(src.height, sy);
  Image out =
      Image::Make(w, h, src.bpc, ScaledOrigin(src.origin_x, sx), ScaledOrigin(src.origin_y, sy));
  for (int y = 0; y < h; ++y) {
    const int y0 = static_cast<int>(static_cast<long long>(y) * src.height / h);
    const int y1 =
        std::max(y0 + 1, static_cast<int>(static_cast<long long>(y + 1) * src.height / h));
    for (int x = 0; x < w; ++x) {
      const int x0 = static_cast<int>(static_cast<long long>(x) * src.width / w);
      const int x1 =
          std::max(x0 + 1, static_cast<int>(static_cast<long long>(x + 1) * src.width / w));
      for (int c = 0; c < 4; ++c) {
        double sum = 0;
        for (int yy = y0; yy < y1; ++yy)
          for (int xx = x0; xx < x1; ++xx) sum += src.Get(xx, yy, c);
        out.Set(x, y, c, static_cast<float>(sum / ((y1 - y0) * (x1 - x0))));
      }
    }
  }
  return out;
}

namespace {

bool SameScale(const PF_RationalScale& a, const PF_RationalScale& b) {
  return a.num == b.num && a.den == b.den;
}

}  // namespace

std::shared_ptr<const Image> DraftLayers::Get(const std::shared_ptr<const Image>& source,
                                              const PF_RationalScale& x,
                                              const PF_RationalScale& y) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase_if(entries_, [](const Entry& e) { return e.source.expired(); });
    for (const Entry& e : entries_)
      if (e.source.lock() == source && SameScale(e.x, x) && SameScale(e.y, y)) return e.scaled;
  }
  // Filtered outside the lock, so render threads wait on each other only for the look-up; two
  // that miss at once both filter, and the second keeps its own copy for its render.
  auto scaled = std::make_shared<const Image>(Downsample(*source, x, y));
  std::lock_guard<std::mutex> lock(mutex_);
  if (entries_.size() >= kMaxEntries) entries_.erase(entries_.begin());
  entries_.push_back({source, x, y, scaled});
  return scaled;
}

}  // namespace vhost
