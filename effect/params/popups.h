// The stored values of the control table's popups. A popup stores the 1-based position of the
// chosen entry, and a "(-" separator takes a position too, so each separator is a named gap that
// no user can choose and that keeps the count of the entries after it. Saved projects hold these
// numbers: a value never changes meaning.
#pragma once

#include <cstdint>

enum ChannelPopup : int32_t {
  kChannelRed = 1,
  kChannelGreen,
  kChannelBlue,
  kChannelAlpha,
  kChannelGap,
  kChannelHue,
  kChannelSaturation,
  kChannelLuminance
};

enum DisplacementEasingPopup : int32_t {
  kEasingNone = 1,
  kEasingGap,
  kEasingIn,
  kEasingOut,
  kEasingInOut
};

enum MapInterpretationPopup : int32_t { kMapInterpretationStandard = 1, kMapInterpretationLegacy };

enum EdgeBehaviorPopup : int32_t {
  kEdgeNone = 1,
  kEdgeGap,
  kEdgeRepeat,
  kEdgeMirrorRepeat,
  kEdgeEdgeRepeat
};

enum AntiAliasingPopup : int32_t {
  kAntiAliasingNone = 1,
  kAntiAliasingGap,
  kAntiAliasing2x,
  kAntiAliasing4x,
  kAntiAliasing8x
};

enum ViewPopup : int32_t { kViewMap = 1, kViewResult };

enum CachingBehaviorPopup : int32_t { kCachingVideo = 1, kCachingStill };

enum ModePopup : int32_t { kModeGradientRamp = 1, kModeLayer };

static_assert(kChannelLuminance == 8 && kEasingInOut == 5 && kMapInterpretationLegacy == 2 &&
                  kEdgeEdgeRepeat == 5 && kAntiAliasing8x == 5 && kViewResult == 2 &&
                  kCachingStill == 2 && kModeLayer == 2,
              "saved projects store these numbers");
