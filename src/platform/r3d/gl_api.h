// The OpenGL declarations of the 3D device (compatibility profile, through GLVND's libOpenGL).
// Internal to platform/r3d: no header outside this folder includes GL.
#pragma once
#ifndef GL_GLEXT_PROTOTYPES
#define GL_GLEXT_PROTOTYPES 1
#endif
#include <GL/gl.h>
#include <GL/glext.h>
