// The displacement shader as first written: a direct transcription of its algorithm, with early
// returns and one branch per option. The effect's own source is arranged for speed; a test holds
// it to this one bit for bit.
#pragma once

inline constexpr const char* kReferenceDisplaceSource = R"glsl(
#version 330 core
in vec2 out_uvs;
out vec4 FragColor;

uniform sampler2D inTex;
uniform sampler2D displaceTex;
uniform int usingAuxTex;
uniform int srcL;
uniform int invert;
uniform int legacyB;
uniform int viewMapL;
uniform float gammaF;
uniform float offsetF;
uniform int easingL;
uniform int bpc;
uniform vec2 resV;
uniform int iterL;
uniform float prev_translateX;
uniform float prev_translateY;
uniform float prev_anchorX;
uniform float prev_anchorY;
uniform float prev_rot;
uniform float prev_scaleX;
uniform float prev_scaleY;
uniform float next_translateX;
uniform float next_translateY;
uniform float next_anchorX;
uniform float next_anchorY;
uniform float next_rot;
uniform float next_scaleX;
uniform float next_scaleY;
uniform int clampOverflowXformsL;
uniform int usingCA;
uniform float redMult;
uniform float greenMult;
uniform float blueMult;

struct TransformsAlt {
  vec2 translate;
  vec2 anchor;
  vec2 scale;
  float rot;
};

// The smallest scale magnitude whose reciprocal is taken. A scale of 0 would make the sampling
// coordinate infinite; below this magnitude a scale acts as this value with its own sign (0 counts
// as positive). That shrinks the content to well under a pixel on frames of ordinary size, so the
// image stays continuous with the scales just above 0 and every coordinate stays finite.
const float kMinScale = 1.0e-4;

// Hue, saturation and value of an RGB colour. Grey gives hue 0 and saturation 0; e keeps the
// divisions finite.
vec3 rgb2hsv(vec3 c) {
  vec4 p = c.g >= c.b ? vec4(c.g, c.b, 0.0, -1.0 / 3.0) : vec4(c.b, c.g, -1.0, 2.0 / 3.0);
  vec4 q = c.r >= p.x ? vec4(c.r, p.y, p.z, p.x) : vec4(p.x, p.y, p.w, c.r);
  float d = q.x - min(q.w, q.y);
  float e = 1.0e-10;
  return vec3(abs(q.z + (q.w - q.y) / (6.0 * d + e)), d / (q.x + e), q.x);
}

// The map value of texel m. srcL numbers follow the "Channel" popup, whose fifth item is a
// separator.
float mapValue(vec4 m) {
  if (srcL == 1) return m.r;
  if (srcL == 2) return m.g;
  if (srcL == 3) return m.b;
  if (srcL == 4) return m.a;
  if (srcL == 6) return rgb2hsv(m.rgb).x;
  if (srcL == 7) return rgb2hsv(m.rgb).y;
  if (srcL == 8) return (m.r + m.g + m.b) * (1.0 / 3.0);
  return 0.0;
}

// pow is undefined for a negative base and can yield NaN. The power is taken of the magnitude and
// the sign put back, so values below 0 bend like their mirror images above 0, 0 stays 0 for every
// exponent, and an exponent of 1 changes nothing.
float signedPow(float x, float e) {
  float a = abs(x);
  return a > 0.0 ? sign(x) * pow(a, e) : 0.0;
}

// Exponential easing. easingL numbers follow the "Displacement Easing" popup: 3 in, 4 out, any
// other value above 1 in and out.
float ease(float g) {
  if (easingL == 3) return g == 0.0 ? 0.0 : exp2(10.0 * (g - 1.0));
  if (easingL == 4) return g == 1.0 ? 1.0 : 1.0 - exp2(-10.0 * g);
  if (g == 0.0) return 0.0;
  if (g == 1.0) return 1.0;
  float u = 2.0 * g;
  if (u < 1.0) return 0.5 * exp2(10.0 * (u - 1.0));
  return 0.5 * (2.0 - exp2(-10.0 * (u - 1.0)));
}

vec2 safeScale(vec2 scale) {
  vec2 m = max(abs(scale), vec2(kMinScale));
  return mix(m, -m, lessThan(scale, vec2(0.0)));
}

// The texel of inTex seen through transform T at amount h. The sampling coordinate moves by -t and
// is scaled by the reciprocal of the scale, so the content appears moved by +t and enlarged by the
// scale where h is 1. The anchor is not scaled by h.
vec4 Sample(TransformsAlt T, float h) {
  vec2 uv = out_uvs;
  if (h == 0.0) return texture(inTex, uv);
  // At 8 bits the amount has been cut to steps of 1/256: one step either side of 0 stays still.
  if (bpc == 8 && abs(h) < 1.0 / 128.0) return texture(inTex, uv);

  vec2 t = T.translate * h;
  float theta = h * (T.rot * 0.0174533);
  vec2 s = 1.0 + h * (1.0 / safeScale(T.scale) - 1.0);

  // Rotate with both axes measured in frame heights, so a non-square frame is not sheared.
  vec2 k = vec2(resV.y / resV.x, 1.0);
  vec2 p = (uv - T.anchor) / k;
  float cs = cos(theta);
  float sn = sin(theta);
  p = vec2(p.x * cs + p.y * sn, -p.x * sn + p.y * cs);
  p = p * k + T.anchor;

  vec2 q = p - t;
  // A negative effective scale would mirror the layer about the anchor.
  if (clampOverflowXformsL > 0 && (s.x < 0.0 || s.y < 0.0)) return vec4(0.0);
  return texture(inTex, s * (q - T.anchor) + T.anchor);
}

void main() {
  vec4 m;
  if (usingAuxTex == 1) {
    m = texture(displaceTex, out_uvs);
  } else {
    m = texture(inTex, out_uvs);
  }

  float g = mapValue(m);
  if (invert == 1) g = 1.0 - g;
  if (legacyB == 0 && viewMapL == 0) {
    // Standard interpretation: mid-grey is still, and the offset enlarges the amount on both
    // sides of 0 (an amount of exactly 0 moves the positive way).
    if (gammaF != 1.0) g = signedPow(g, gammaF);
    g = (g - 0.5) * 2.0;
    g = g < 0.0 ? g - offsetF : g + offsetF;
  } else {
    g += offsetF;
  }
  if (easingL > 1) g = ease(g);
  // The legacy interpretation bends the amount after offset and easing.
  if (legacyB > 0 && gammaF != 1.0) g = signedPow(g, gammaF);
  if (bpc == 8) g = trunc(g * 256.0) / 256.0;

  if (viewMapL == 1) {
    FragColor = vec4(1.0, vec3(g * m.a));
    return;
  }

  // n samples at fractions 0, 1/n, ..., (n - 1)/n of the way from prev to next.
  int n = iterL;
  float w = n > 0 ? 1.0 / float(n) : 0.0;
  TransformsAlt T = TransformsAlt(vec2(prev_translateX, prev_translateY),
                                  vec2(prev_anchorX, prev_anchorY),
                                  vec2(prev_scaleX, prev_scaleY), prev_rot);
  TransformsAlt D = TransformsAlt(vec2(0.0), vec2(0.0), vec2(0.0), 0.0);
  if (n > 1) {
    D.translate = (vec2(next_translateX, next_translateY) - T.translate) * w;
    D.anchor = (vec2(next_anchorX, next_anchorY) - T.anchor) * w;
    D.scale = (vec2(next_scaleX, next_scaleY) - T.scale) * w;
    D.rot = (next_rot - T.rot) * w;
  }

  float gR = g;
  float gG = g;
  float gB = g;
  if (usingCA == 1) {
    gR = g * redMult;
    gG = g * greenMult;
    gB = g * blueMult;
  }

  vec4 A = vec4(0.0);
  for (int i = 0; i < n; ++i) {
    vec4 s;
    if (usingCA == 1) {
      // Each colour moves by its own amount; all take the alpha of the plain amount.
      float a = Sample(T, g).a;
      s = vec4(Sample(T, gR).r * a, Sample(T, gG).g * a, Sample(T, gB).b * a, a);
    } else {
      s = Sample(T, g);
      s.rgb *= s.a;
    }
    A += s * w;
    T.translate += D.translate;
    T.anchor += D.anchor;
    T.scale += D.scale;
    T.rot += D.rot;
  }

  if (A.a > 0.0) A.rgb /= A.a;
  FragColor = vec4(A.a, A.rgb);
}
)glsl";
