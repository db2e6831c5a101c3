// Image library: the non-owning pixel-buffer view.
#include <orvex/companions/Image.h>

ISize::~ISize() = default;

IObject::~IObject() = default;

void IObject::resetCheck()
{
    if (_bDirty) {
        reset();
        _bDirty = false;
    }
}

void IObject::reset() {}

IImage::IImage(void* data, const ISize& size, IDataType type) : _pData(data), _size(size), _type(type) {}

IImage::~IImage() = default;

int IImage::bytesPerPixel() const
{
    switch (_type) {
    case idt_uint8:
        return 1;
    case idt_uint16:
        return 2;
    default:
        return 0;
    }
}

// The view holds no derived state, so there is nothing to rebuild.
void IImage::reset() {}
