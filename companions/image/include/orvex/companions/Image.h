// Image library: a thin, non-owning view of a pixel buffer.
//
// An IImage wraps pixels that somebody else owns; deleting it never frees
// them. Not thread-safe: an image is used by one thread at a time.
#pragma once

// CMake defines orvex_image_EXPORTS while it builds this library's DLL.
#if defined(_WIN32) && defined(orvex_image_EXPORTS)
#define ORVEX_IMAGE_API __declspec(dllexport)
#elif defined(_WIN32)
#define ORVEX_IMAGE_API __declspec(dllimport)
#else
#define ORVEX_IMAGE_API __attribute__((visibility("default")))
#endif

// Pixel storage types. Only the two the camera library produces have names
// of their own; the numbers are fixed because they cross library boundaries.
enum IDataType {
    idt_unknown = 0,
    idt_uint8 = 2,  // one byte per pixel
    idt_uint16 = 8, // two bytes per pixel
};

struct ORVEX_IMAGE_API ISize {
    ISize(int w = 0, int h = 0) : width(w), height(h) {}
    ~ISize();
    int width;
    int height;
};

class ORVEX_IMAGE_API IObject {
public:
    IObject() = default;
    IObject(const IObject&) = default;
    IObject& operator=(const IObject&) = default;
    virtual ~IObject();

    // Brings the object back to a consistent state before it is read;
    // cheap when nothing changed since the last check.
    void resetCheck();

protected:
    virtual void reset();
    void markDirty() { _bDirty = true; }

private:
    bool _bDirty = false;
};

class ORVEX_IMAGE_API IImage : public IObject {
public:
    IImage(void* data, const ISize& size, IDataType type);
    ~IImage() override;

    void* data() const { return _pData; }
    const ISize& size() const { return _size; }
    IDataType dataType() const { return _type; }
    int bytesPerPixel() const;

protected:
    void reset() override;

private:
    void* _pData;
    ISize _size;
    IDataType _type;
};
