#pragma once

// Turning scalar pictures, 2D vector fields (two floats per pixel) and
// multi-channel float arrays into byte pictures for display, plus small
// field operations. Every buffer belongs to the caller; none is allocated
// here. Byte pictures described as "padded" use the next power of two of the
// width as their row length.
//
// A range given as min = max = 0 is taken from the data; equal limits become
// (min, min + 1). Values map linearly onto 0..255 and are clamped, so
// not-a-number and huge values give defined bytes.

#include <kvel/imagebase.h>

namespace KVEL {

// The 3x3 derivative pair (along y, along x; divided by 9) of a float picture
// into field (2 floats per pixel, same row length). With halfSize only the top
// left width/2 x height/2 quarter is covered; the covered range's edge gets (0, 0).
KVEL_API void fieldDerivative3x3(const float* values, float* field, int width, int height, bool halfSize);

// Per voxel of channel 0: (I(x+1) - I(x-1), I(y+1) - I(y-1), I(z+1) - I(z-1)),
// with I = 0 outside the image, into 3 floats per voxel.
KVEL_API void centralDifferences(Image* image, float* vectors);

// Grey bytes into a padded picture; with halfSize only the top left quarter.
KVEL_API void floatsToBytes(const float* values, unsigned char* bytes, int width, int height, float min, float max,
                            bool halfSize);

// RGBA through a table of tableSize RGB triples (0..1), interpolated; the
// fourth byte is 0. signedScale puts 0 at the middle of the table, min at its
// start and max at its end. A one-entry table paints every pixel its colour.
KVEL_API void colourMapFloats(const float* values, unsigned char* rgba, int width, int height, float min, float max,
                              const float* table, int tableSize, bool signedScale);
KVEL_API void colourMapInts(const int* values, unsigned char* rgba, int width, int height, float min, float max,
                            const float* table, int tableSize, bool signedScale);

// Grey bytes of the vector lengths into a padded picture; with halfSize only
// the top left quarter. Returns the number of rows written.
KVEL_API int fieldMagnitudeToBytes(const float* field, unsigned char* bytes, int width, int height, float min, float max,
                                   bool halfSize);
// The same for a two-channel image, range from the data. Returns the rows
// written (0 when the image is refused).
KVEL_API int imageMagnitudeToBytes(Image* image, unsigned char* bytes);

// RGBA from up to three interleaved float channels (the image gives their
// count and, with useImageWindows, their ranges): channel 0, 1 and the last,
// then 0. With fewer channels the last one fills the missing bytes.
KVEL_API void channelsToRGBA(const float* values, unsigned char* rgba, int width, int height, Image* image,
                             bool useImageWindows);

// Every pixel, in row order and in place, becomes the mean of the pixels of
// its 5x5 neighbourhood that lie inside the field.
KVEL_API void smoothField5x5(float* field, int width, int height);

// Slice `slice` of the image resized bilinearly to newWidth x newHeight grey
// bytes (row length newWidth).
KVEL_API void sliceToBytesResampled(Image* image, int newWidth, int newHeight, unsigned char* bytes, int slice);

// Slice 0 as a new 8-bit picture (owned by the caller), red first: one
// channel through a blue-cyan-green-yellow-red colour table, two (a vector
// field) as grey vector lengths, more as their first channels in colour.
// Null when there is no memory for it. Its verbose flag is the source's.
KVEL_API Image* colourPicture(Image* image);

// A float copy of the image (geometry, spacing and verbose flag kept), for
// operations the library refuses on unsigned sources; null without memory.
KVEL_API Image* floatCopy(Image* image);

}  // namespace KVEL
