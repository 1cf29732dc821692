// Exported for hosts that look the window class name up; nothing in the effect reads it.
extern "C" {
__attribute__((visibility("default"))) extern const char* VRNXGLClassStrZ;
const char* VRNXGLClassStrZ = "VRNX_OpenGL_Win_Class";
}
