// Texture-backed framebuffers, and the transfers between host pixel buffers and textures. All
// functions work in the calling thread's current context.
#pragma once

#include <cstdint>

#include "pf_sdk.h"

// One render target's texture.
struct GLRenderBuffer {
  uint32_t width;
  uint32_t height;
  uint32_t depth;  // 1 for the 2D textures made here; read by nothing
  uint32_t internalFormat;
  uint32_t id;  // texture name, 0 for none
  uint32_t target;
  bool isTexture;
};

// A framebuffer and the texture on its colour attachment 0. A plain value: whoever calls
// FBOHelper::DeleteGenericFBO on one copy owns the GL objects.
struct PX_FBO {
  uint32_t fbo;  // 0 when creation failed or after deletion
  GLRenderBuffer color;
};

namespace FBOHelper {

// A width × height texture of `internal_format` without content, with the given wrap mode and
// (non-mipmap) filter on both axes. Left unbound.
GLRenderBuffer CreateTextureRenderBuffer(uint32_t width, uint32_t height, int internal_format,
                                         int wrap, int filter);

// A framebuffer with `color` on attachment 0 (none when its id is 0). Returns it bound, or
// prints the incomplete status and returns 0.
uint32_t CreateFBO(const GLRenderBuffer& color);

// A target cleared to transparent black, with framebuffer 0 bound afterwards. `depth_format` is
// accepted and ignored. On failure `fbo` is 0 and `color` still describes the texture.
PX_FBO CreateTextureFBO(uint32_t width, uint32_t height, int wrap, int filter, int internal_format,
                        int depth_format);

// A target whose texture starts undefined, for one that an upload or a full-quad pass wholly
// overwrites before anything reads it: on a software renderer a clear costs as much as a pass.
// Framebuffer 0 is bound afterwards. GL errors pending before the call are dropped first, so that
// they are not taken for its failure. An incomplete framebuffer, or storage the GL could not
// allocate (which can leave the framebuffer complete), gives `fbo` 0 and leaves no texture.
PX_FBO CreateUnclearedTextureFBO(uint32_t width, uint32_t height, int wrap, int filter,
                                 int internal_format);

// CreateTextureFBO with the failure contract of CreateUnclearedTextureFBO.
PX_FBO CreateClearedTextureFBO(uint32_t width, uint32_t height, int wrap, int filter,
                               int internal_format);

// The name of an incomplete framebuffer status; empty for a status it does not know.
const char* getFrameBufferError(uint32_t status);

// Clears the record's framebuffer to transparent black, all four channels; leaves framebuffer 0
// bound. A record without a framebuffer is left alone.
void ClearToTransparent(const PX_FBO& fbo);

// Deletes the record's texture and framebuffer, those that exist, and zeroes their names; twice
// is harmless. Null: nothing.
void DeleteGenericFBO(PX_FBO* fbo);

// Reads the record's framebuffer from `read_buffer` into the host buffer: width × height pixels
// from (0, 0), framebuffer row 0 into the host's first row, at 8 (clamped bytes) or 32 (floats)
// bits per channel. A null or unusable buffer, or another depth, is refused with a line on
// standard output. Leaves framebuffer 0 bound, and the pixel-pack state (row length, skips,
// alignment, bound pixel-pack buffer) as the caller had it.
void FBOtoEffectWorld(PX_FBO& fbo, PF_LayerDef* buffer, int bits_per_channel, uint32_t read_buffer);

}  // namespace FBOHelper

// Copies the host buffer's width × height pixels into `texture` from (0, 0), the host's first row
// into texture row 0, channels unchanged (so the texture holds alpha, red, green, blue). Depths
// other than 8 and 32 bits per channel, and null or unusable buffers, are refused with a line on
// standard output. Returns whether the texels were replaced: a refused buffer leaves the texture
// as it was, which for a new texture is undefined memory. The pixel-unpack state (row length,
// skips, alignment, bound pixel-unpack buffer) is put back as the caller had it.
bool UploadToTexture(uint32_t texture, PF_LayerDef* buffer, int bits_per_channel);
