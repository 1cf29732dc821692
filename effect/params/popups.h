// The stored values of the control table's popups. A popup stores the 1-based position of the
// chosen entry, and a "(-" separator takes a position too, so each separator is a named gap that
// no user can choose. Saved projects hold these numbers: a value never changes meaning.
#pragma once

#include <cstdint>

enum ChannelPopup : int32_t {
  kChannelRed = 1,
  kChannelGreen = 2,
  kChannelBlue = 3,
  kChannelAlpha = 4,
  kChannelGap = 5,
  kChannelHue = 6,
  kChannelSaturation = 7,
  kChannelLuminance = 8,
};

enum DisplacementEasingPopup : int32_t {
  kEasingNone = 1,
  kEasingGap = 2,
  kEasingIn = 3,
  kEasingOut = 4,
  kEasingInOut = 5,
};

enum MapInterpretationPopup : int32_t {
  kMapInterpretationStandard = 1,
  kMapInterpretationLegacy = 2,
};

enum EdgeBehaviorPopup : int32_t {
  kEdgeNone = 1,
  kEdgeGap = 2,
  kEdgeRepeat = 3,
  kEdgeMirrorRepeat = 4,
  kEdgeEdgeRepeat = 5,
};

enum AntiAliasingPopup : int32_t {
  kAntiAliasingNone = 1,
  kAntiAliasingGap = 2,
  kAntiAliasing2x = 3,
  kAntiAliasing4x = 4,
  kAntiAliasing8x = 5,
};

enum ViewPopup : int32_t {
  kViewMap = 1,
  kViewResult = 2,
};

enum CachingBehaviorPopup : int32_t {
  kCachingVideo = 1,
  kCachingStill = 2,
};

enum ModePopup : int32_t {
  kModeGradientRamp = 1,
  kModeLayer = 2,
};
