#pragma once

// Typed images of up to four dimensions (x, y, z, t) with interleaved channels.
// `Image` is the abstract interface callers hand around; `ImageBase<T>` owns a
// typed, 16-byte aligned buffer and implements every operation for one of the
// eight element types. Values cross the interface as float; converting to T
// truncates toward zero.

#include <kvel/export.h>

#include <vector>

namespace KVEL {

// Element-type codes. They are the OpenGL type enumerations, written out here
// so that the library needs no OpenGL header. An odd code is an unsigned type.
constexpr int kGlByte = 5120;
constexpr int kGlUnsignedByte = 5121;
constexpr int kGlShort = 5122;
constexpr int kGlUnsignedShort = 5123;
constexpr int kGlInt = 5124;
constexpr int kGlUnsignedInt = 5125;
constexpr int kGlFloat = 5126;
constexpr int kGlDouble = 5130;

inline bool isUnsignedType(int glType) { return (glType & 1) != 0; }

// Display window of one channel. Keep the four values consistent through
// Image::setWindow and Image::setRange.
struct ChannelWindow {
    float width;
    float center;
    float low;
    float high;
};

class KVEL_API Image {
public:
    Image();
    Image(const Image&) = delete;
    Image& operator=(const Image&) = delete;

    void setSpacing(float sx, float sy, float sz, float st);
    void setWindow(float width, float center, int channel);
    void setRange(float low, float high, int channel);
    void resetIteration() { m_iteration = 0; }
    int width() const { return m_dim[0]; }
    int height() const { return m_dim[1]; }
    int depth() const { return m_dim[2]; }

    // Raw element files: 0 on success, 1 on failure.
    virtual ~Image();
    virtual int loadRaw(const char* path) = 0;
    virtual int saveRaw(const char* path) = 0;
    // Sets the geometry; ImageBase also allocates a zeroed buffer. Returns 0.
    virtual int init(int x, int y, int z, int t, int channels);
    virtual void clear() = 0;
    virtual void freeData() = 0;

    // Geometry changes. Results that are images belong to the caller.
    virtual Image* downsample(int fx, int fy, int fz, int ft, bool toNewImage) = 0;
    virtual Image* resample2D(int newWidth, int newHeight, Image* out) = 0;
    // 0 when done; -1 when refused (lastError() says why), the image unchanged.
    virtual int rotate(int axis) = 0;
    virtual int padToPowerOfTwo3D() = 0;
    virtual int padToPowerOfTwo2D() = 0;
    virtual void invert() = 0;
    virtual void applyWindowLevel(bool invert) = 0;

    // Element access. The cursor m_iteration is the index of the next element
    // for getNext/setNext; a random access leaves it at that index + 1.
    virtual bool getNext(float& value) = 0;
    virtual bool setNext(float value) = 0;
    virtual void setCurrent(float value) = 0;
    virtual void set(float value, int index) = 0;
    virtual void set(float value, int x, int y, int z, int t, int c) = 0;
    virtual void getNearest(float* out, float x, float y, float z) = 0;
    virtual float getNearest(float x, float y, float z) = 0;
    virtual float get(int index) = 0;
    virtual float get(int x, int y, int z, int t, int c) = 0;

    // Interpolation. The single-value forms address the buffer as if the
    // image had one channel; the array forms fill out[c] for every channel.
    virtual float getBilinear(float x, float y, int z) = 0;
    virtual void getTrilinear(float* out, float x, float y, float z) = 0;
    virtual float getTrilinear(float x, float y, float z) = 0;
    virtual void getTricubic(float* out, float x, float y, float z) = 0;
    virtual float getTricubic(float x, float y, float z) = 0;
    virtual void getCubicZ(float* out, float x, float y, float z) = 0;
    virtual float getCubicZ(float x, float y, float z) = 0;

    // Smallest and largest element into m_min, m_max and every channel's
    // window; returns the largest.
    virtual float computeRange() = 0;
    virtual void swapByteOrder() = 0;
    virtual void hookA() = 0;
    virtual void hookB() = 0;

    // Neighbourhood operations into a new (or the given) image of element type
    // glType (0: this image's type). Unsigned output types are refused (null).
    // Kernels are row-major, rows along y: size*size floats for filter, 9 for
    // gradient and hessian, 27 for gradient3D; null selects the built-in one.
    virtual Image* filter(int glType, const float* kernel, int size, Image* out) = 0;
    virtual void extendBorder(int width) = 0;
    virtual Image* gradient(int glType, const float* kernel, bool keepSize, Image* out) = 0;
    virtual Image* hessian(int glType, const float* kernel, Image* out) = 0;
    virtual Image* gradient3D(int glType, const float* kernel, bool keepSize, bool appendValue,
                              Image* out) = 0;

    // Export through the channel windows. A null buffer is allocated with
    // new[] (the caller delete[]s it); null when that fails.
    virtual unsigned char* toBytes(unsigned char* buffer, bool powerOfTwo) = 0;
    virtual unsigned short* toShorts(unsigned short* buffer, bool powerOfTwo) = 0;
    virtual unsigned char* sliceToBytes(unsigned char* buffer, int slice, int channel,
                                        bool powerOfTwo) = 0;
    // Intensity-weighted centre (x, y, z) of the first frame.
    virtual std::vector<double> centerOfMass() = 0;

    // Physical placement (see <kvel/space.h>): the first voxel's point in LPS,
    // and the directions of the index axes as the columns of m_direction.
    float m_position[3];
    double m_direction[3][3];
    int m_dim[4];
    float m_spacing[4];
    int m_channels;
    ChannelWindow* m_channel_windows;
    float m_min;
    float m_max;
    int m_verbose;
    int m_stride;
    int m_slice_size;
    int m_frame_size;
    int m_image_size;
    int m_iteration;
};

template <class T>
class KVEL_API ImageBase : public Image {
public:
    ImageBase();
    ~ImageBase() override;

    T* data() { return m_data; }
    const T* data() const { return m_data; }

    int loadRaw(const char* path) override;
    int saveRaw(const char* path) override;
    int init(int x, int y, int z, int t, int channels) override;
    void clear() override;
    void freeData() override;

    Image* downsample(int fx, int fy, int fz, int ft, bool toNewImage) override;
    Image* resample2D(int newWidth, int newHeight, Image* out) override;
    int rotate(int axis) override;
    int padToPowerOfTwo3D() override;
    int padToPowerOfTwo2D() override;
    void invert() override;
    void applyWindowLevel(bool invert) override;

    bool getNext(float& value) override;
    bool setNext(float value) override;
    void setCurrent(float value) override;
    void set(float value, int index) override;
    void set(float value, int x, int y, int z, int t, int c) override;
    void getNearest(float* out, float x, float y, float z) override;
    float getNearest(float x, float y, float z) override;
    float get(int index) override;
    float get(int x, int y, int z, int t, int c) override;

    float getBilinear(float x, float y, int z) override;
    void getTrilinear(float* out, float x, float y, float z) override;
    float getTrilinear(float x, float y, float z) override;
    void getTricubic(float* out, float x, float y, float z) override;
    float getTricubic(float x, float y, float z) override;
    void getCubicZ(float* out, float x, float y, float z) override;
    float getCubicZ(float x, float y, float z) override;

    float computeRange() override;
    void swapByteOrder() override;
    void hookA() override {}
    void hookB() override {}

    Image* filter(int glType, const float* kernel, int size, Image* out) override;
    void extendBorder(int width) override;
    Image* gradient(int glType, const float* kernel, bool keepSize, Image* out) override;
    Image* hessian(int glType, const float* kernel, Image* out) override;
    Image* gradient3D(int glType, const float* kernel, bool keepSize, bool appendValue,
                      Image* out) override;

    unsigned char* toBytes(unsigned char* buffer, bool powerOfTwo) override;
    unsigned short* toShorts(unsigned short* buffer, bool powerOfTwo) override;
    unsigned char* sliceToBytes(unsigned char* buffer, int slice, int channel,
                                bool powerOfTwo) override;
    std::vector<double> centerOfMass() override;

    int m_gl_type;
    bool m_external_data;  // the buffer belongs to someone else: never freed here
    T* m_data;
};

// The eight instances live in the library.
extern template class ImageBase<unsigned char>;
extern template class ImageBase<signed char>;
extern template class ImageBase<short>;
extern template class ImageBase<unsigned short>;
extern template class ImageBase<int>;
extern template class ImageBase<unsigned int>;
extern template class ImageBase<float>;
extern template class ImageBase<double>;

// A new empty ImageBase of the element type with this code; null for any other code.
KVEL_API Image* createImage(int glType);

// The element-type code of an ImageBase (or Bitmap); 0 for anything else.
KVEL_API int glTypeOf(const Image* image);

}  // namespace KVEL
