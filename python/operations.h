#pragma once

// The image operations of the module, named as the kvel tool names them.
// Each takes a kvel.Image or a numpy array and returns a new image; bad
// arguments raise ValueError or TypeError before the library is called.

#include "bridge.h"

namespace kvelpy {

ImagePtr downsample(const py::handle& image, int fx, int fy, int fz, int ft);
ImagePtr resample2d(const py::handle& image, int width, int height);
ImagePtr rotate(const py::handle& image, int axis);
ImagePtr pad2d(const py::handle& image);
ImagePtr pad3d(const py::handle& image);
ImagePtr invert(const py::handle& image);
ImagePtr window(const py::handle& image, float low, float high);
ImagePtr filter(const py::handle& image, const py::object& kernel);
ImagePtr gradient(const py::handle& image);
ImagePtr hessian(const py::handle& image);
ImagePtr edges(const py::handle& image, float low);
ImagePtr rigid(const py::handle& image, float tx, float ty, float tz, float a, float b, float c, bool nearest);
ImagePtr colourmap(const py::handle& image);
ImagePtr toBytes(const py::handle& image);

}  // namespace kvelpy
