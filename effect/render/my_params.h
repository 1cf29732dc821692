// The per-render snapshot: host buffers, control values in the units the shaders use, the
// transforms at the two shutter times, and the two vertex matrices. Zeroed at the start of every
// render and filled once; a field nobody writes stays zero.
#pragma once

#include <cstdint>

#include "gl/gl_types.h"
#include "pf_sdk.h"

// One transform. Translations and anchors are fractions of the frame (1.0 = the whole width or
// height; anchor y 0 is the host buffer's first row), scales 1.0 = 100 %, rotation in degrees.
struct TransformSet {
  double translateX;
  double translateY;
  double anchorX;
  double anchorY;
  double scaleX;
  double scaleY;
  float rot;
};

// A checked-out layer with pixels to read: not null, and neither side empty.
inline bool HasPixels(const PF_LayerDef* layer) {
  return layer && layer->width > 0 && layer->height > 0;
}

struct myParams {
  int16_t bpc;
  PF_LayerDef* inputWorld;
  PF_LayerDef* outputWorld;
  PF_LayerDef* mapWorld;  // null when "Map Layer" names no layer
  double downsampleX;
  TransformSet prev;  // at the earlier shutter time
  TransformSet next;  // at the later shutter time, after the trail rule
  Matrix44f xform;    // the map layer's vertex matrix; written only when the map has pixels
  Matrix44f identityMatrix;
  uint8_t legacy;
  int32_t iterations;
  int32_t channel;
  int32_t viewMap;
  int32_t clampNegativeScale;
  int32_t edgeBehavior;
  uint32_t wrapMode;
  uint8_t usingAuxTex;  // a map layer was checked out; the render plan adds the blur's map
  uint8_t invert;
  double offset;
  double gamma;
  double blurRadius;  // pixels, already scaled by the downsample factor
  float mapInputMix;  // 0..1
  double easing;
  uint8_t usingCA;
  double redMult;
  double greenMult;
  double blueMult;
  int32_t antiAliasing;
  float aaFactor;  // as the popup asks; the render plan fits it to the GL
  Vec2f resolution;
  Vec2f aaResolution;  // at aaFactor
};
