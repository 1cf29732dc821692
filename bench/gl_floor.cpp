#include "bench/gl_floor.h"

#include <epoxy/gl.h>

namespace vbench {

namespace {

// A triangle that covers the target, made from the vertex index alone: no buffers to bind.
constexpr const char* kVertexSource = R"glsl(
#version 330 core
out vec2 uv;
void main() {
  vec2 p = vec2(float((gl_VertexID & 1) * 4 - 1), float((gl_VertexID >> 1) * 4 - 1));
  uv = p * 0.5 + 0.5;
  gl_Position = vec4(p, 0.0, 1.0);
}
)glsl";

constexpr const char* kFragmentSource = R"glsl(
#version 330 core
in vec2 uv;
uniform sampler2D src;
out vec4 colour;
void main() { colour = texture(src, uv); }
)glsl";

GLuint CompileStage(GLenum stage, const char* source, std::string* error) {
  GLuint shader = glCreateShader(stage);
  glShaderSource(shader, 1, &source, nullptr);
  glCompileShader(shader);
  GLint ok = 0;
  glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
  if (!ok) {
    char log[512] = {};
    glGetShaderInfoLog(shader, sizeof log, nullptr, log);
    *error = std::string("floor shader: ") + log;
    glDeleteShader(shader);
    return 0;
  }
  return shader;
}

struct Target {
  GLuint texture = 0;
  GLuint fbo = 0;
  int width = 0;
  int height = 0;
};

GLuint MakeTexture(int width, int height, GLint filter) {
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, width, height, 0, GL_RGBA, GL_FLOAT, nullptr);
  return texture;
}

// Every pass overwrites its whole target, so the floor never clears one.
Target MakeTarget(int width, int height, GLint filter) {
  Target t;
  t.width = width;
  t.height = height;
  t.texture = MakeTexture(width, height, filter);
  glGenFramebuffers(1, &t.fbo);
  glBindFramebuffer(GL_FRAMEBUFFER, t.fbo);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, t.texture, 0);
  return t;
}

void Free(Target* t) {
  if (t->fbo) glDeleteFramebuffers(1, &t->fbo);
  if (t->texture) glDeleteTextures(1, &t->texture);
  *t = Target{};
}

void FreeTexture(GLuint* texture) {
  if (*texture) glDeleteTextures(1, texture);
  *texture = 0;
}

GLenum PixelType(int bpc) {
  return bpc == 32 ? GL_FLOAT : GL_UNSIGNED_BYTE;
}

void Upload(GLuint texture, const vhost::Image& image) {
  glBindTexture(GL_TEXTURE_2D, texture);
  glPixelStorei(GL_UNPACK_ROW_LENGTH, image.rowbytes / image.PixelBytes());
  glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, image.width, image.height, GL_RGBA, PixelType(image.bpc),
                  image.storage.data());
  glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}

void Copy(GLuint source, const Target& target) {
  glBindFramebuffer(GL_FRAMEBUFFER, target.fbo);
  glViewport(0, 0, target.width, target.height);
  glBindTexture(GL_TEXTURE_2D, source);
  glDrawArrays(GL_TRIANGLES, 0, 3);
}

}  // namespace

GLFloor::~GLFloor() {
  if (!ctx_) return;
  CGLSetCurrentContext(ctx_);
  if (vertex_array_) glDeleteVertexArrays(1, &vertex_array_);
  if (program_) glDeleteProgram(program_);
  CGLSetCurrentContext(nullptr);
  CGLDestroyContext(ctx_);
}

bool GLFloor::Init(std::string* error) {
  const CGLPixelFormatAttribute attributes[] = {
      kCGLPFAOpenGLProfile, static_cast<CGLPixelFormatAttribute>(kCGLOGLPVersion_3_2_Core),
      static_cast<CGLPixelFormatAttribute>(0)};
  CGLPixelFormatObj format = nullptr;
  GLint screens = 0;
  CGLError err = CGLChoosePixelFormat(attributes, &format, &screens);
  if (err == kCGLNoError) err = CGLCreateContext(format, nullptr, &ctx_);
  if (format) CGLDestroyPixelFormat(format);
  if (err == kCGLNoError) err = CGLSetCurrentContext(ctx_);
  if (err != kCGLNoError) {
    *error = std::string("floor context: ") + CGLErrorString(err);
    return false;
  }
  renderer_ = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  version_ = reinterpret_cast<const char*>(glGetString(GL_VERSION));

  GLuint vs = CompileStage(GL_VERTEX_SHADER, kVertexSource, error);
  GLuint fs = vs ? CompileStage(GL_FRAGMENT_SHADER, kFragmentSource, error) : 0;
  if (!fs) {
    if (vs) glDeleteShader(vs);
    return false;
  }
  program_ = glCreateProgram();
  glAttachShader(program_, vs);
  glAttachShader(program_, fs);
  glLinkProgram(program_);
  glDeleteShader(vs);
  glDeleteShader(fs);
  GLint ok = 0;
  glGetProgramiv(program_, GL_LINK_STATUS, &ok);
  if (!ok) {
    *error = "floor program did not link";
    return false;
  }
  glGenVertexArrays(1, &vertex_array_);
  return true;
}

void GLFloor::MakeCurrent() {
  CGLSetCurrentContext(ctx_);
}

void GLFloor::Render(const PassPlan& plan, const vhost::Image& input, const vhost::Image* map,
                     vhost::Image* output) {
  const int w = plan.width;
  const int h = plan.height;
  glUseProgram(program_);
  glBindVertexArray(vertex_array_);
  glActiveTexture(GL_TEXTURE0);

  GLuint upload = MakeTexture(w, h, GL_LINEAR);
  Upload(upload, input);
  Target in = MakeTarget(w, h, plan.factor > 1 ? GL_NEAREST : GL_LINEAR);
  Copy(upload, in);
  FreeTexture(&upload);

  Target map_target;
  if (plan.map && map) {
    GLuint map_upload = MakeTexture(map->width, map->height, GL_LINEAR);
    Upload(map_upload, *map);
    map_target = MakeTarget(w, h, GL_LINEAR);
    Copy(map_upload, map_target);
    FreeTexture(&map_upload);
  }
  if (plan.blur) {
    Target blur = MakeTarget(w, h, GL_LINEAR);
    Copy(map_target.texture ? map_target.texture : in.texture, blur);
    if (!map_target.texture) map_target = MakeTarget(w, h, GL_LINEAR);
    Copy(blur.texture, map_target);
    Free(&blur);
  }

  Target out = MakeTarget(w, h, GL_LINEAR);
  // Targets the driver cannot allocate make the effect fall back to a smaller factor; the floor
  // follows the same rule so that both do the same work.
  int factor = plan.factor;
  Target big_in, big_out;
  while (factor > 1) {
    while (glGetError() != GL_NO_ERROR) {
    }
    big_in = MakeTarget(w * factor, h * factor, GL_NEAREST);
    big_out = MakeTarget(w * factor, h * factor, GL_LINEAR);
    if (glGetError() == GL_NO_ERROR &&
        glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE)
      break;
    Free(&big_in);
    Free(&big_out);
    factor /= 2;
  }
  factor_used_ = factor;
  if (factor > 1) {
    Copy(in.texture, big_in);
    Copy(big_in.texture, big_out);
    Copy(big_out.texture, out);
    Free(&big_in);
    Free(&big_out);
  } else {
    Copy(in.texture, out);
  }

  glFinish();
  glBindFramebuffer(GL_FRAMEBUFFER, out.fbo);
  glReadBuffer(GL_COLOR_ATTACHMENT0);
  glPixelStorei(GL_PACK_ROW_LENGTH, output->rowbytes / output->PixelBytes());
  glReadPixels(0, 0, w, h, GL_RGBA, PixelType(plan.bpc), output->storage.data());
  glPixelStorei(GL_PACK_ROW_LENGTH, 0);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);

  Free(&in);
  Free(&map_target);
  Free(&out);
  glBindTexture(GL_TEXTURE_2D, 0);
  glBindVertexArray(0);
  glUseProgram(0);
}

}  // namespace vbench
