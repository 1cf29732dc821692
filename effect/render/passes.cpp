#include "render/passes.h"

#include <epoxy/gl.h>

#include <algorithm>

#include "gl/fbo.h"
#include "gl/quad.h"
#include "gl/uniforms.h"
#include "params/messages.h"
#include "render/displace_uniforms.h"
#include "render/displace_variant.h"
#include "render/render_plan.h"

namespace {

// The targets of one render. Whatever is still alive when the render ends is deleted.
struct Targets {
  PX_FBO upload{}, input{}, map{}, mapUpload{}, blur{}, output{}, superInput{}, superOutput{};
  ~Targets() {
    for (PX_FBO* t : {&upload, &input, &map, &mapUpload, &blur, &output, &superInput, &superOutput})
      FBOHelper::DeleteGenericFBO(t);
  }
};

// A target as planned, or one with `fbo` 0 when the GL could not make it whole.
PX_FBO MakeTarget(const TargetSpec& s) {
  const auto wrap = static_cast<int>(s.wrap);
  return s.cleared
             ? FBOHelper::CreateClearedTextureFBO(s.width, s.height, wrap, s.filter, GL_RGBA32F)
             : FBOHelper::CreateUnclearedTextureFBO(s.width, s.height, wrap, s.filter, GL_RGBA32F);
}

bool Made(const PX_FBO& target) {
  return target.fbo != 0;
}

int MaxTextureSize() {
  GLint max_size = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &max_size);
  return max_size;
}

bool HasPrograms(const RenderPlan& plan, const GLPrograms& programs) {
  return programs.swizzleInProgram && programs.displaceProgram &&
         (!plan.blurs || (programs.blurWProgram && programs.blurHProgram)) &&
         (plan.factor <= 1.0f || programs.identityProgram);
}

// Makes the two supersampled targets, halving the plan's factor while the GL cannot allocate
// them; at a factor of 1 there are none.
void MakeSupersampledTargets(const myParams& p, RenderPlan* plan, Targets* t) {
  while (plan->factor > 1.0f) {
    t->superInput = MakeTarget(plan->superInput);
    t->superOutput = MakeTarget(plan->superOutput);
    if (Made(t->superInput) && Made(t->superOutput)) return;
    FBOHelper::DeleteGenericFBO(&t->superInput);
    FBOHelper::DeleteGenericFBO(&t->superOutput);
    SetSupersampling(p, plan->factor * 0.5f, plan);
  }
}

// The passes share one uniform map, so an entry a pass sets stays for the passes after it.
struct Pass {
  const myParams& p;
  const RenderPlan& plan;
  const GLPrograms& programs;
  ProgramVariants* variants;
  Targets& t;
  UniformMap uniforms{};
};

constexpr A_FloatRect kNoRect{0, 0, 0, 0};

void Draw(Pass& pass, PX_FBO* target, uint32_t program) {
  RenderQuad(target, program, pass.uniforms, 0, kNoRect, false);
}

// An upload target starts as whatever memory the driver gave it, which on a GPU can hold another
// process's pixels; a buffer the upload refuses leaves it reading as transparent black instead.
void Upload(const PX_FBO& target, PF_LayerDef* buffer, int bpc) {
  if (!UploadToTexture(target.color.id, buffer, bpc)) FBOHelper::ClearToTransparent(target);
}

// The input from ARGB to straight RGBA, values untouched. The upload is deleted once read.
bool UploadInput(Pass& pass) {
  Targets& t = pass.t;
  t.upload = MakeTarget(pass.plan.upload);
  t.input = MakeTarget(pass.plan.input);
  if (!Made(t.upload) || !Made(t.input)) return false;
  Upload(t.upload, pass.p.inputWorld, pass.p.bpc);
  pass.uniforms["videoTexture"] = TEX2D(t.upload.color.id);
  pass.uniforms["xform"] = MAT44(pass.p.identityMatrix);
  pass.uniforms["mapInputMixF"] = VEC(0.0f);
  pass.uniforms["premultB"] = IVEC(0);
  Draw(pass, &t.input, pass.programs.swizzleInProgram);
  FBOHelper::DeleteGenericFBO(&t.upload);
  return true;
}

// The map layer placed on the input's frame, premultiplied, mixed with the input. An empty map
// layer has nothing to place, and its vertex matrix would divide by zero.
bool PlaceMap(Pass& pass) {
  const RenderPlan& plan = pass.plan;
  Targets& t = pass.t;
  if (plan.hasMapTarget) {
    t.map = MakeTarget(plan.map);
    if (!Made(t.map)) return false;
  }
  if (!plan.placesMap) return true;
  t.mapUpload = MakeTarget(plan.mapUpload);
  if (!Made(t.mapUpload)) return false;
  Upload(t.mapUpload, pass.p.mapWorld, pass.p.bpc);
  pass.uniforms["videoTexture"] = TEX2D(t.mapUpload.color.id);
  pass.uniforms["videoTexture2"] = TEX2D(t.input.color.id);
  pass.uniforms["mapInputMixF"] = VEC(pass.p.mapInputMix);
  pass.uniforms["xform"] = MAT44(pass.p.xform);
  pass.uniforms["premultB"] = IVEC(1);
  Draw(pass, &t.map, pass.programs.swizzleInProgram);
  FBOHelper::DeleteGenericFBO(&t.mapUpload);
  return true;
}

// The separable blur, across then down into the map target. Without a map layer the input
// itself becomes the map.
bool BlurMap(Pass& pass) {
  if (!pass.plan.blurs) return true;
  Targets& t = pass.t;
  t.blur = MakeTarget(pass.plan.blur);
  if (!Made(t.blur)) return false;
  pass.uniforms["videoTexture"] = TEX2D(pass.p.mapWorld ? t.map.color.id : t.input.color.id);
  pass.uniforms["resV"] = VEC2(pass.p.resolution);
  pass.uniforms["radiusF"] = VEC(static_cast<float>(pass.p.blurRadius));
  Draw(pass, &t.blur, pass.programs.blurWProgram);
  pass.uniforms["videoTexture"] = TEX2D(t.blur.color.id);
  Draw(pass, &t.map, pass.programs.blurHProgram);
  FBOHelper::DeleteGenericFBO(&t.blur);
  return true;
}

// Chosen once the displacement's uniforms are in the map, from those very values.
uint32_t DisplaceProgram(const Pass& pass) {
  return DisplaceProgramFor(pass.uniforms, pass.programs.displaceProgram, pass.variants);
}

void DisplaceAtLayerSize(Pass& pass) {
  Targets& t = pass.t;
  pass.uniforms["inTex"] = TEX2D(t.input.color.id);
  pass.uniforms["displaceTex"] = TEX2D(t.map.color.id);
  SendDisplaceUniforms(pass.uniforms, pass.p, pass.plan);
  Draw(pass, &t.output, DisplaceProgram(pass));
}

// The displacement between a pixel-replicating upscale and a bilinear downscale that averages the
// 2 × 2 texels around each output pixel's centre.
void DisplaceSupersampled(Pass& pass) {
  Targets& t = pass.t;
  pass.uniforms["inTex"] = TEX2D(t.input.color.id);
  Draw(pass, &t.superInput, pass.programs.identityProgram);
  pass.uniforms["inTex"] = TEX2D(t.superInput.color.id);
  pass.uniforms["displaceTex"] = TEX2D(t.map.color.id);
  SendDisplaceUniforms(pass.uniforms, pass.p, pass.plan);
  Draw(pass, &t.superOutput, DisplaceProgram(pass));
  pass.uniforms["inTex"] = TEX2D(t.superOutput.color.id);
  Draw(pass, &t.output, pass.programs.identityProgram);
  FBOHelper::DeleteGenericFBO(&t.superInput);
  FBOHelper::DeleteGenericFBO(&t.superOutput);
}

// Only the area the output and the input share is read; an output of another size keeps its
// cleared remainder.
void ReadBack(const myParams& p, PX_FBO& output) {
  PF_LayerDef view = *p.outputWorld;
  view.width = std::min(view.width, p.inputWorld->width);
  view.height = std::min(view.height, p.inputWorld->height);
  if (view.width > 0 && view.height > 0)
    FBOHelper::FBOtoEffectWorld(output, &view, p.bpc, GL_COLOR_ATTACHMENT0);
}

bool RunPasses(Pass& pass) {
  if (!UploadInput(pass) || !PlaceMap(pass) || !BlurMap(pass)) return false;
  pass.t.output = MakeTarget(pass.plan.output);
  if (!Made(pass.t.output)) return false;
  if (pass.plan.factor > 1.0f)
    DisplaceSupersampled(pass);
  else
    DisplaceAtLayerSize(pass);
  ReadBack(pass.p, pass.t.output);
  return true;
}

PF_Err GLFailure(const char* what, PF_OutData* out_data) {
  SendMessageAppendErr(what, out_data, PF_Err_INTERNAL_STRUCT_DAMAGED, 0);
  return PF_Err_INTERNAL_STRUCT_DAMAGED;
}

}  // namespace

PF_Err RunPassChain(const myParams& params, const GLPrograms& programs, ProgramVariants* variants,
                    PF_OutData* out_data) {
  RenderPlan plan = PlanRender(params, MaxTextureSize());
  if (!HasPrograms(plan, programs)) return GLFailure("error on program", out_data);
  Targets targets;
  MakeSupersampledTargets(params, &plan, &targets);
  Pass pass{params, plan, programs, variants, targets};
  if (!RunPasses(pass)) return GLFailure("error on framebuffer", out_data);
  return PF_Err_NONE;
}
