// Process-wide allocator settings for a host that renders frame after frame.
#pragma once

namespace vhost {

// Every frame allocates and frees the same frame-sized buffers, the host's and the GL driver's.
// By default the C library hands large freed blocks back to the kernel, which must map and zero
// them again for the next frame; after this call up to half a gigabyte of them is kept, whatever
// their size and whichever thread freed them, so a frame reuses the last frame's memory. Call once
// at start-up, before any thread renders. Does nothing where the C library has no such settings.
void KeepFreedFrameMemory();

}  // namespace vhost
