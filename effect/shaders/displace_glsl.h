// The displacement fragment shader: one map value per output pixel scales a translation, a
// rotation about an anchor and a scale of the coordinate at which the layer is sampled.
//
// Units: translations and anchors are fractions of the frame (1.0 is the whole width or height),
// rotations are degrees, scales are factors (1 is none). Both textures hold red-green-blue-alpha;
// inTex is straight colour and every sample is premultiplied here before it is averaged. The
// result is written alpha first, which the read-back turns straight into the host's pixel order.
//
// Variants. The render's discrete settings (which texture is the map, the channel, invert, the
// interpretation, "View Map", the easing curve, the depth, clamping, aberration on or off, and
// whether gamma is 1) are uniforms here, but a variant program fixes some of them: its prefix,
// after the version line, defines V_ followed by a uniform's name as that uniform's value
// (V_gammaIsOne for a gamma of 1; V_plainRed, V_plainGreen, V_plainBlue under aberration for a
// channel whose factor is exactly 1), and the uniform becomes a constant. The code below is the same
// in both; the compiler drops what a constant setting cannot reach. The iteration count stays a
// uniform: with a constant count the compiler unrolls the loop and folds the first addition to
// the zero sum away, which turns some +0 results into -0 and moves others by a unit in the last
// place, and it gained nothing measurable.
#pragma once

inline constexpr const char* kDisplaceSource = R"glsl(
#version 330 core
in vec2 out_uvs;
out vec4 FragColor;

uniform sampler2D inTex;
uniform sampler2D displaceTex;
#ifdef V_usingAuxTex
const int usingAuxTex = V_usingAuxTex;
#else
uniform int usingAuxTex;
#endif
#ifdef V_srcL
const int srcL = V_srcL;
#else
uniform int srcL;
#endif
#ifdef V_invert
const int invert = V_invert;
#else
uniform int invert;
#endif
#ifdef V_legacyB
const int legacyB = V_legacyB;
#else
uniform int legacyB;
#endif
#ifdef V_viewMapL
const int viewMapL = V_viewMapL;
#else
uniform int viewMapL;
#endif
#ifdef V_easingL
const int easingL = V_easingL;
#else
uniform int easingL;
#endif
#ifdef V_bpc
const int bpc = V_bpc;
#else
uniform int bpc;
#endif
#ifdef V_clampOverflowXformsL
const int clampOverflowXformsL = V_clampOverflowXformsL;
#else
uniform int clampOverflowXformsL;
#endif
#ifdef V_usingCA
const int usingCA = V_usingCA;
#else
uniform int usingCA;
#endif
#ifdef V_gammaIsOne
const float gammaF = 1.0;
#else
uniform float gammaF;
#endif
#ifdef V_plainRed
const bool plainRed = true;
#else
const bool plainRed = false;
#endif
#ifdef V_plainGreen
const bool plainGreen = true;
#else
const bool plainGreen = false;
#endif
#ifdef V_plainBlue
const bool plainBlue = true;
#else
const bool plainBlue = false;
#endif
uniform float offsetF;
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
// separator. Every choice is computed and one is selected: a software renderer runs every branch
// anyway, and this way the colour conversion runs once instead of once per choice that needs it.
float mapValue(vec4 m) {
  vec2 hs = rgb2hsv(m.rgb).xy;
  float v = 0.0;
  v = srcL == 1 ? m.r : v;
  v = srcL == 2 ? m.g : v;
  v = srcL == 3 ? m.b : v;
  v = srcL == 4 ? m.a : v;
  v = srcL == 6 ? hs.x : v;
  v = srcL == 7 ? hs.y : v;
  v = srcL == 8 ? (m.r + m.g + m.b) * (1.0 / 3.0) : v;
  return v;
}

// pow is undefined for a negative base and can yield NaN. The power is taken of the magnitude and
// the sign put back, so values below 0 bend like their mirror images above 0, 0 stays 0 for every
// exponent, and an exponent of 1 changes nothing.
float signedPow(float x, float e) {
  float a = abs(x);
  return a > 0.0 ? sign(x) * pow(a, e) : 0.0;
}

// Exponential easing. easingL numbers follow the "Displacement Easing" popup: 3 in, 4 out, any
// other value above 1 in and out. Every curve is made from one power of two; its exponent is
// chosen first, so there is one exp2 per pixel whichever curve is set.
float ease(float g) {
  float u = 2.0 * g;
  bool low = u < 1.0;
  float x = easingL == 3 ? 10.0 * (g - 1.0)
          : easingL == 4 ? -10.0 * g
          : low          ? 10.0 * (u - 1.0)
                         : -10.0 * (u - 1.0);
  float e = exp2(x);
  float inOut = low ? 0.5 * e : 0.5 * (2.0 - e);
  inOut = g == 1.0 ? 1.0 : inOut;
  float r = easingL == 3 ? e : easingL == 4 ? 1.0 - e : inOut;
  r = easingL != 4 && g == 0.0 ? 0.0 : r;
  r = easingL == 4 && g == 1.0 ? 1.0 : r;
  return r;
}

vec2 safeScale(vec2 scale) {
  vec2 m = max(abs(scale), vec2(kMinScale));
  return mix(m, -m, lessThan(scale, vec2(0.0)));
}

// The texel of inTex seen through transform T at amount h. The sampling coordinate moves by -t and
// is scaled by the reciprocal of the scale, so the content appears moved by +t and enlarged by the
// scale where h is 1. The anchor is not scaled by h. Every path ends in the one texture read, so
// a renderer that runs both sides of a branch still reads the texture once per call.
vec4 Sample(TransformsAlt T, float h) {
  vec2 uv = out_uvs;
  // At 8 bits the amount has been cut to steps of 1/256: one step either side of 0 stays still.
  bool still = h == 0.0 || (bpc == 8 && abs(h) < 1.0 / 128.0);

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
  bool clamped = !still && clampOverflowXformsL > 0 && (s.x < 0.0 || s.y < 0.0);
  vec4 texel = texture(inTex, still ? uv : s * (q - T.anchor) + T.anchor);
  return clamped ? vec4(0.0) : texel;
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

  // Under chromatic aberration red, green and blue each move by their own amount and all take the
  // alpha of the plain amount: per iteration the channels are sampled first, then the plain
  // amount. A channel whose factor is exactly 1 moves by the plain amount itself; a variant knows
  // which those are and takes them from the plain sample instead of sampling again. In a variant
  // the channel loop has a constant count and unrolls, so what the samples of one iteration share
  // (the reciprocal of the scale, the offset from the anchor) is computed once.
  int first = usingCA == 1 ? 0 : 3;
  vec3 amounts = g * vec3(redMult, greenMult, blueMult);

  vec4 A = vec4(0.0);
  for (int i = 0; i < n; ++i) {
    vec3 shifted = vec3(0.0);
    vec4 t = vec4(0.0);
    for (int c = first; c < 4; ++c) {
      bool plain = c == 0 ? plainRed : c == 1 ? plainGreen : c == 2 ? plainBlue : false;
      if (!plain) {
        float h = c == 0 ? amounts.r : c == 1 ? amounts.g : c == 2 ? amounts.b : g;
        t = Sample(T, h);
        shifted.r = c == 0 ? t.r : shifted.r;
        shifted.g = c == 1 ? t.g : shifted.g;
        shifted.b = c == 2 ? t.b : shifted.b;
      }
    }
    vec3 rgb = usingCA == 1 ? shifted : t.rgb;
    rgb.r = plainRed ? t.r : rgb.r;
    rgb.g = plainGreen ? t.g : rgb.g;
    rgb.b = plainBlue ? t.b : rgb.b;
    vec4 s = vec4(rgb, t.a);
    s.rgb *= s.a;
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
