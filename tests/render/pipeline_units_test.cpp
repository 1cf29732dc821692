// Internals of the render that have exact answers without GL: rectangle union, the vertex matrix,
// the control snapshot's conversions and the displacement uniform entries.
#include <epoxy/gl.h>
#include <gtest/gtest.h>

#include <cstring>

#include "hostkit/rects.h"
#include "params/param_ids.h"
#include "params/popups.h"
#include "render/displace_uniforms.h"
#include "render/matrices.h"
#include "render/render_plan.h"
#include "render/snapshot.h"

namespace {

bool Same(const PF_LRect& a, const PF_LRect& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

TEST(RectTest, UnionLRect) {
  const PF_LRect empty{0, 0, 0, 0};
  const PF_LRect a{0, 0, 40, 20};
  const PF_LRect b{-5, 10, 30, 50};
  PF_LRect dst = empty;
  UnionLRect(&a, &dst);
  EXPECT_TRUE(Same(dst, a)) << "an empty destination takes the source";
  dst = a;
  UnionLRect(&empty, &dst);
  EXPECT_TRUE(Same(dst, a)) << "an empty source changes nothing";
  dst = a;
  UnionLRect(&b, &dst);
  EXPECT_TRUE(Same(dst, (PF_LRect{-5, 0, 40, 50})));
  PF_LRect inverted{10, 10, 5, 20};
  EXPECT_TRUE(IsEmptyRect(inverted));
  dst = inverted;
  UnionLRect(&empty, &dst);
  EXPECT_TRUE(Same(dst, empty)) << "an empty destination copies even an empty source";
}

PF_LayerDef Layer(int w, int h, int ox = 0, int oy = 0) {
  PF_LayerDef l{};
  l.width = w;
  l.height = h;
  l.origin_x = ox;
  l.origin_y = oy;
  return l;
}

// Applies a row-major matrix to the column vector (x, y, 0, 1).
void Apply(const Matrix44f& m, float x, float y, float* ox, float* oy) {
  *ox = m.m[0] * x + m.m[1] * y + m.m[3];
  *oy = m.m[4] * x + m.m[5] * y + m.m[7];
}

TEST(MatrixTest, VertexMatrixPlacesTheMapOnTheInputsFrame) {
  myParams p;
  std::memset(&p, 0, sizeof p);
  GenIdentityMatrix(&p);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(p.identityMatrix.m[i], (i % 5 == 0) ? 1.0f : 0.0f);

  PF_LayerDef input = Layer(1920, 1080);
  PF_LayerDef same = Layer(1920, 1080);
  GenVertexMatrices(&p, &same, &input);
  EXPECT_EQ(std::memcmp(&p.xform, &p.identityMatrix, sizeof p.xform), 0);

  PF_LayerDef quarter = Layer(960, 540);
  GenVertexMatrices(&p, &quarter, &input);
  float x, y;
  Apply(p.xform, -1, -1, &x, &y);
  EXPECT_FLOAT_EQ(x, -1);
  EXPECT_FLOAT_EQ(y, -1);
  Apply(p.xform, 1, 1, &x, &y);
  EXPECT_FLOAT_EQ(x, 0);
  EXPECT_FLOAT_EQ(y, 0);

  PF_LayerDef shifted = Layer(1920, 1080, 192, 0);
  GenVertexMatrices(&p, &shifted, &input);
  Apply(p.xform, -1, -1, &x, &y);
  EXPECT_NEAR(x, -0.8f, 1e-6);
  EXPECT_FLOAT_EQ(y, -1);
  Apply(p.xform, 1, 1, &x, &y);
  EXPECT_NEAR(x, 1.2f, 1e-6);
}

class SnapshotTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::memset(snap_, 0, sizeof snap_);
    std::memset(&p_, 0, sizeof p_);
    std::memset(&in_, 0, sizeof in_);
    in_.downsample_x = {1, 2};
    world_ = Layer(320, 180);
    p_.inputWorld = &world_;
    snap_[PARAM_MAP_INTERPRETATION].u.pd.value = kMapInterpretationLegacy;
    snap_[PARAM_ITERATIONS].u.sd.value = 1;
    snap_[PARAM_CHANNEL].u.pd.value = kChannelLuminance;
    snap_[PARAM_EDGE_BEHAVIOR].u.pd.value = kEdgeMirrorRepeat;
    snap_[PARAM_ANTI_ALIASING].u.pd.value = kAntiAliasing4x;
    snap_[PARAM_MAP_SOFTNESS].u.fs_d.value = 5;
    snap_[PARAM_MAP_MIX_INPUT].u.fs_d.value = 25;
    snap_[PARAM_DISPLACEMENT_EASING].u.pd.value = kEasingOut;
    snap_[PARAM_CA_RED].u.fs_d.value = 1.0005;
    snap_[PARAM_CA_GREEN].u.fs_d.value = 1;
    snap_[PARAM_CA_BLUE].u.fs_d.value = 1;
  }
  PF_ParamDef snap_[PARAM_NUM_PARAMS];
  myParams p_;
  PF_InData in_;
  PF_LayerDef world_;
};

TEST_F(SnapshotTest, ConvertsControlsToShaderUnits) {
  FillFromSnapshot(snap_, &in_, &p_);
  EXPECT_EQ(p_.legacy, 1);
  EXPECT_EQ(p_.wrapMode, 0x8370u);  // mirrored repeat
  EXPECT_EQ(p_.aaFactor, 4.0f);
  EXPECT_EQ(p_.aaResolution.x, 1280.0f);
  EXPECT_EQ(p_.aaResolution.y, 720.0f);
  EXPECT_DOUBLE_EQ(p_.blurRadius, 2.5);
  EXPECT_FLOAT_EQ(p_.mapInputMix, 0.25f);
  EXPECT_EQ(p_.usingCA, 0) << "1.0005 is within the dead band";
  EXPECT_EQ(p_.usingAuxTex, 0);
  snap_[PARAM_CA_RED].u.fs_d.value = 1.002;
  FillFromSnapshot(snap_, &in_, &p_);
  EXPECT_EQ(p_.usingCA, 1);
  snap_[PARAM_CA_RED].u.fs_d.value = 0.998;
  FillFromSnapshot(snap_, &in_, &p_);
  EXPECT_EQ(p_.usingCA, 1);
}

TEST_F(SnapshotTest, UnknownPopupValuesFallBackToSafeDefaults) {
  snap_[PARAM_EDGE_BEHAVIOR].u.pd.value = kEdgeGap;  // the separator
  snap_[PARAM_ANTI_ALIASING].u.pd.value = 9;
  FillFromSnapshot(snap_, &in_, &p_);
  EXPECT_EQ(p_.wrapMode, 0x812Du);  // clamp to border
  EXPECT_EQ(p_.aaFactor, 1.0f);
}

TEST_F(SnapshotTest, UniformEntriesDependOnIterations) {
  FillFromSnapshot(snap_, &in_, &p_);
  p_.bpc = 8;
  p_.prev = {-0.25, 0.1, 0.5, 0.5, 1.5, 1.5, 45.0f};
  p_.next = p_.prev;
  UniformMap one;
  SendDisplaceUniforms(one, p_, PlanRender(p_, 1 << 14));
  EXPECT_EQ(one.size(), 23u);
  for (const auto& [name, value] : one) EXPECT_NE(name.rfind("next_", 0), 0u) << name;
  EXPECT_EQ(one.at("prev_rot").value.f[0], 45.0f);
  EXPECT_EQ(one.at("prev_translateX").value.f[0], -0.25f);
  EXPECT_EQ(one.at("easingL").value.i[0], 4);
  EXPECT_EQ(one.at("legacyB").value.i[0], 1);
  EXPECT_EQ(one.at("bpc").value.i[0], 8);
  EXPECT_EQ(one.at("srcL").value.i[0], 8);
  EXPECT_EQ(one.at("resV").type, kUniformVEC2);
  EXPECT_EQ(one.at("resV").value.f[1], 180.0f);

  p_.iterations = 2;
  p_.bpc = 32;
  UniformMap many;
  many["inTex"] = TEX2D(3);  // the caller's entries stay
  SendDisplaceUniforms(many, p_, PlanRender(p_, 1 << 14));
  EXPECT_EQ(many.size(), 31u);
  EXPECT_EQ(many.at("next_rot").value.f[0], 45.0f);
  EXPECT_EQ(many.at("bpc").value.i[0], 32);
  EXPECT_EQ(many.at("inTex").value.u[0], 3u);
}

// The plan's decisions for a 320 × 180 layer asking for 4x, with mirrored edges.
TEST_F(SnapshotTest, PlanFitsTheFactorToTheTextureLimit) {
  FillFromSnapshot(snap_, &in_, &p_);
  RenderPlan plan = PlanRender(p_, 1280);
  EXPECT_EQ(plan.factor, 4.0f);
  EXPECT_EQ(plan.superInput.width, 1280u);
  EXPECT_EQ(plan.superOutput.height, 720u);
  EXPECT_EQ(plan.superInput.filter, GL_NEAREST);
  EXPECT_EQ(plan.superOutput.filter, GL_LINEAR);
  EXPECT_EQ(plan.superOutput.wrap, static_cast<uint32_t>(GL_MIRRORED_REPEAT));

  EXPECT_EQ(PlanRender(p_, 1279).factor, 2.0f) << "one texel short of 4x";
  plan = PlanRender(p_, 320);
  EXPECT_EQ(plan.factor, 1.0f);
  EXPECT_EQ(plan.input.filter, GL_LINEAR) << "one pass filters the input, whatever was asked";

  SetSupersampling(p_, 2.0f, &plan);
  EXPECT_EQ(plan.factor, 2.0f);
  EXPECT_EQ(plan.input.filter, GL_NEAREST) << "the supersampled upscale replicates pixels";
  EXPECT_EQ(plan.superInput.width, 640u);
  EXPECT_EQ(plan.superOutput.height, 360u);

  snap_[PARAM_ANTI_ALIASING].u.pd.value = kAntiAliasingNone;
  FillFromSnapshot(snap_, &in_, &p_);
  plan = PlanRender(p_, 1 << 14);
  EXPECT_EQ(plan.factor, 1.0f);
  EXPECT_EQ(plan.input.filter, GL_LINEAR);
  EXPECT_EQ(plan.output.wrap, static_cast<uint32_t>(GL_CLAMP_TO_BORDER));
  EXPECT_EQ(plan.output.width, 320u);
}

TEST_F(SnapshotTest, PlanMakesAndClearsTheMapTargetOnlyWhenRead) {
  PF_LayerDef empty_map = Layer(0, 0);
  PF_LayerDef map = Layer(100, 50, 10, 20);
  snap_[PARAM_MAP_SOFTNESS].u.fs_d.value = 0;
  FillFromSnapshot(snap_, &in_, &p_);
  RenderPlan plan = PlanRender(p_, 1 << 14);
  EXPECT_FALSE(plan.hasMapTarget || plan.blurs || plan.placesMap);

  p_.mapWorld = &empty_map;
  FillFromSnapshot(snap_, &in_, &p_);
  plan = PlanRender(p_, 1 << 14);
  EXPECT_TRUE(plan.hasMapTarget);
  EXPECT_TRUE(plan.map.cleared) << "an empty map layer reads transparent black";
  EXPECT_FALSE(plan.placesMap);

  p_.mapWorld = &map;
  FillFromSnapshot(snap_, &in_, &p_);
  plan = PlanRender(p_, 1 << 14);
  EXPECT_TRUE(plan.placesMap);
  EXPECT_EQ(plan.mapUpload.width, 100u);
  EXPECT_EQ(plan.mapUpload.height, 50u);
  float x, y;
  Apply(p_.xform, 1, 1, &x, &y);
  EXPECT_NE(x, 1.0f) << "the snapshot placed the map";

  p_.mapWorld = nullptr;
  snap_[PARAM_MAP_SOFTNESS].u.fs_d.value = 5;
  FillFromSnapshot(snap_, &in_, &p_);
  plan = PlanRender(p_, 1 << 14);
  EXPECT_TRUE(plan.blurs && plan.hasMapTarget);
  EXPECT_FALSE(plan.map.cleared) << "the blur writes the whole map";
  UniformMap uniforms;
  SendDisplaceUniforms(uniforms, p_, plan);
  EXPECT_EQ(uniforms.at("usingAuxTex").value.i[0], 1);
}

}  // namespace
