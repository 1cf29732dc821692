#include "gl/fbo.h"

#include <epoxy/gl.h>

#include <ostream>

#include "gl/diagnostics.h"

namespace {

// Host pixels are four channels: one byte each at 8 bits, one float each at 32.
int PixelSize(int bits_per_channel) {
  return bits_per_channel == 32 ? 16 : 4;
}

// Checks a host buffer before GL touches its memory; prints why it is refused, after `who`.
bool UsableBuffer(const char* who, const PF_LayerDef* buffer, int bits_per_channel) {
  if (buffer == nullptr || buffer->data == nullptr) {
    GLDiagnostics() << "VRNX: " << who << " called without valid aeBuffer" << std::endl;
    return false;
  }
  if (bits_per_channel != 8 && bits_per_channel != 32) {
    GLDiagnostics() << "VRNX: " << who << " called with unsupported bit depth " << bits_per_channel
                    << std::endl;
    return false;
  }
  // GL walks the rows in whole pixels: a row step that is not a whole number of pixels, or is
  // shorter than a row, would shear the image or run past the end of the host's buffer.
  const int pixel = PixelSize(bits_per_channel);
  if (buffer->width < 0 || buffer->height < 0 || buffer->rowbytes % pixel != 0 ||
      buffer->rowbytes < static_cast<int64_t>(buffer->width) * pixel) {
    GLDiagnostics() << "VRNX: " << who << " called with unusable rowbytes " << buffer->rowbytes
                    << " for width " << buffer->width << std::endl;
    return false;
  }
  return true;
}

// Drops GL errors left by earlier work, so that they are not taken for a failure of what follows.
void DropPendingErrors() {
  for (int i = 0; i < 16 && glGetError() != GL_NO_ERROR; ++i) {
  }
}

// A texture the GL could not give storage raises an error but can leave the framebuffer complete;
// a target is only usable whole.
PX_FBO WholeOrNothing(PX_FBO target) {
  if (glGetError() != GL_NO_ERROR) FBOHelper::DeleteGenericFBO(&target);
  return target;
}

// The pixel-store state of one transfer direction, set for a tightly described host buffer for
// the transfer and put back afterwards: the host's rows go to or from client memory whatever
// the caller (or another plug-in sharing the context) had set.
class TransferState {
 public:
  enum Direction { kUnpack, kPack };
  TransferState(Direction direction, GLint row_length) : names_(kNames[direction]) {
    for (int i = 0; i < kCount; ++i) glGetIntegerv(names_.query[i], &saved_[i]);
    glBindBuffer(names_.buffer, 0);
    glPixelStorei(names_.row_length, row_length);
    glPixelStorei(names_.skip_pixels, 0);
    glPixelStorei(names_.skip_rows, 0);
    // Rows are a whole number of 4- or 16-byte pixels apart, so an alignment of 4 never pads
    // them; a larger one would.
    glPixelStorei(names_.alignment, 4);
  }
  ~TransferState() {
    glPixelStorei(names_.row_length, saved_[0]);
    glPixelStorei(names_.skip_pixels, saved_[1]);
    glPixelStorei(names_.skip_rows, saved_[2]);
    glPixelStorei(names_.alignment, saved_[3]);
    glBindBuffer(names_.buffer, static_cast<GLuint>(saved_[4]));
  }
  TransferState(const TransferState&) = delete;
  TransferState& operator=(const TransferState&) = delete;

 private:
  static constexpr int kCount = 5;
  struct Names {
    GLenum row_length, skip_pixels, skip_rows, alignment, buffer;
    GLenum query[kCount];
  };
  static constexpr Names kNames[2] = {
      {GL_UNPACK_ROW_LENGTH,
       GL_UNPACK_SKIP_PIXELS,
       GL_UNPACK_SKIP_ROWS,
       GL_UNPACK_ALIGNMENT,
       GL_PIXEL_UNPACK_BUFFER,
       {GL_UNPACK_ROW_LENGTH, GL_UNPACK_SKIP_PIXELS, GL_UNPACK_SKIP_ROWS, GL_UNPACK_ALIGNMENT,
        GL_PIXEL_UNPACK_BUFFER_BINDING}},
      {GL_PACK_ROW_LENGTH,
       GL_PACK_SKIP_PIXELS,
       GL_PACK_SKIP_ROWS,
       GL_PACK_ALIGNMENT,
       GL_PIXEL_PACK_BUFFER,
       {GL_PACK_ROW_LENGTH, GL_PACK_SKIP_PIXELS, GL_PACK_SKIP_ROWS, GL_PACK_ALIGNMENT,
        GL_PIXEL_PACK_BUFFER_BINDING}},
  };
  const Names& names_;
  GLint saved_[kCount] = {};
};

}  // namespace

namespace FBOHelper {

GLRenderBuffer CreateTextureRenderBuffer(uint32_t width, uint32_t height, int internal_format,
                                         int wrap, int filter) {
  if (filter == GL_LINEAR) {
    GLDiagnostics() << "Using GL_LINEAR" << std::endl;
  } else if (filter == GL_NEAREST) {
    GLDiagnostics() << "Using GL_NEAREST" << std::endl;
  }
  GLuint texture = 0;
  glGenTextures(1, &texture);
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
  glTexImage2D(GL_TEXTURE_2D, 0, internal_format, static_cast<GLsizei>(width),
               static_cast<GLsizei>(height), 0, GL_RGBA, GL_FLOAT, nullptr);
  glBindTexture(GL_TEXTURE_2D, 0);
  return {width, height, 1, static_cast<uint32_t>(internal_format), texture, GL_TEXTURE_2D, true};
}

uint32_t CreateFBO(const GLRenderBuffer& color) {
  GLuint fbo = 0;
  glGenFramebuffers(1, &fbo);
  glBindFramebuffer(GL_FRAMEBUFFER, fbo);
  if (color.id != 0) {
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, color.target, color.id, 0);
  }
  const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
  if (status == GL_FRAMEBUFFER_COMPLETE) return fbo;
  GLDiagnostics() << "Framebuffer Error - " << getFrameBufferError(status) << "Code: " << status
                  << std::endl;
  // Deleting the bound framebuffer also binds framebuffer 0.
  glDeleteFramebuffers(1, &fbo);
  return 0;
}

PX_FBO CreateTextureFBO(uint32_t width, uint32_t height, int wrap, int filter, int internal_format,
                        int /*depth_format*/) {
  PX_FBO result{};
  result.color = CreateTextureRenderBuffer(width, height, internal_format, wrap, filter);
  result.fbo = CreateFBO(result.color);
  ClearToTransparent(result);
  return result;
}

void ClearToTransparent(const PX_FBO& fbo) {
  if (fbo.fbo == 0) return;
  glBindFramebuffer(GL_FRAMEBUFFER, fbo.fbo);
  glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

PX_FBO CreateUnclearedTextureFBO(uint32_t width, uint32_t height, int wrap, int filter,
                                 int internal_format) {
  DropPendingErrors();
  PX_FBO target{};
  target.color = CreateTextureRenderBuffer(width, height, internal_format, wrap, filter);
  target.fbo = CreateFBO(target.color);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  return WholeOrNothing(target);
}

PX_FBO CreateClearedTextureFBO(uint32_t width, uint32_t height, int wrap, int filter,
                               int internal_format) {
  DropPendingErrors();
  return WholeOrNothing(
      CreateTextureFBO(width, height, wrap, filter, internal_format, GL_DEPTH_COMPONENT32F));
}

const char* getFrameBufferError(uint32_t status) {
  switch (status) {
    case GL_FRAMEBUFFER_UNDEFINED:
      return "GL_FRAMEBUFFER_UNDEFINED";
    case GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT:
      return "GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT";
    case GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT:
      return "GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT";
    case GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER:
      return "GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER";
    case GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER:
      return "GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER";
    case GL_FRAMEBUFFER_UNSUPPORTED:
      return "GL_FRAMEBUFFER_UNSUPPORTED";
    case GL_FRAMEBUFFER_INCOMPLETE_MULTISAMPLE:
      return "GL_FRAMEBUFFER_INCOMPLETE_MULTISAMPLE";
    case GL_FRAMEBUFFER_INCOMPLETE_LAYER_TARGETS:
      return "GL_FRAMEBUFFER_INCOMPLETE_LAYER_TARGETS";
    default:
      return "";
  }
}

void DeleteGenericFBO(PX_FBO* fbo) {
  if (fbo == nullptr) return;
  // A record whose framebuffer failed still owns its texture, so that is deleted too.
  if (fbo->color.id != 0) {
    glDeleteTextures(1, &fbo->color.id);
    fbo->color.id = 0;
  }
  if (fbo->fbo != 0) {
    glDeleteFramebuffers(1, &fbo->fbo);
    fbo->fbo = 0;
  }
}

void FBOtoEffectWorld(PX_FBO& fbo, PF_LayerDef* buffer, int bits_per_channel,
                      uint32_t read_buffer) {
  if (!UsableBuffer("FBOtoEffectWorld()", buffer, bits_per_channel)) return;
  glFinish();
  glBindFramebuffer(GL_FRAMEBUFFER, fbo.fbo);
  glReadBuffer(read_buffer);
  {
    // The read goes to client memory, never into a pixel-pack buffer.
    TransferState pack(TransferState::kPack, buffer->rowbytes / PixelSize(bits_per_channel));
    glReadPixels(0, 0, buffer->width, buffer->height, GL_RGBA,
                 bits_per_channel == 32 ? GL_FLOAT : GL_UNSIGNED_BYTE, buffer->data);
  }
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

}  // namespace FBOHelper

bool UploadToTexture(uint32_t texture, PF_LayerDef* buffer, int bits_per_channel) {
  if (texture == 0) {
    GLDiagnostics() << "VRNX: UploadToTexture() called without valid texture" << std::endl;
  }
  if (!UsableBuffer("UploadToTexture()", buffer, bits_per_channel)) return false;

  glBindTexture(GL_TEXTURE_2D, texture);
  {
    // The data pointer is client memory: with a pixel-unpack buffer bound it would be taken for
    // an offset into that buffer.
    TransferState unpack(TransferState::kUnpack, buffer->rowbytes / PixelSize(bits_per_channel));
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, buffer->width, buffer->height, GL_RGBA,
                    bits_per_channel == 32 ? GL_FLOAT : GL_UNSIGNED_BYTE, buffer->data);
  }
  glBindTexture(GL_TEXTURE_2D, 0);
  return true;
}
