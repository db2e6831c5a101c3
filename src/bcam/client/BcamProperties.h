// The property objects of an opened device: each holds the device and the
// feature number or Format_7 mode it addresses and turns reads and
// assignments into the driver's requests. Failures are BcamException with
// the operation's name as context.
//
// Threads: as the device's synchronous requests (any thread).
#pragma once

#include <orvex/bcam/BcamProtocol.h>
#include <orvex/win32.h>

#include <string>
#include <vector>

namespace Bcam {

class CBcam;

class CProperty {
public:
    CProperty(const CProperty&) = delete;
    CProperty& operator=(const CProperty&) = delete;
    CProperty(CProperty&&) = default;
    CProperty& operator=(CProperty&&) = delete;

protected:
    CProperty(CBcam& device, DWORD number) : _device(device), _number(number) {}
    ~CProperty() = default;

    // Sends `entry` with the input quadlets `in` (the first is the number
    // this object addresses); returns the output quadlets.
    std::vector<uint32_t> Request(const orvex::bcam::RequestEntry& entry, std::vector<uint32_t> in,
                                  const char* context) const;
    DWORD Number() const { return _number; }

private:
    CBcam& _device;
    DWORD _number;
};

// A feature's value in raw units, and its range from the feature's inquiry.
class CRawRegister : public CProperty {
public:
    CRawRegister(CBcam& device, DWORD feature) : CProperty(device, feature) {}
    DWORD Read() const;
    void Assign(DWORD value);
    DWORD Min() const;
    DWORD Max() const;
};

class CScalarProperty {
public:
    CScalarProperty(CBcam& device, DWORD feature) : Raw(device, feature) {}
    CRawRegister Raw;
};

// A feature's on/off switch.
class CBoolControl : public CProperty {
public:
    CBoolControl(CBcam& device, DWORD feature) : CProperty(device, feature) {}
    bool Read() const;
    void Assign(bool on);
};

// The trigger's mode (IIDC trigger mode number).
class CMode : public CProperty {
public:
    CMode(CBcam& device, DWORD feature) : CProperty(device, feature) {}
    DWORD Read() const;
    void Assign(DWORD mode);
};

// The trigger's polarity: true for high active (rising edge).
class CPolarity : public CProperty {
public:
    CPolarity(CBcam& device, DWORD feature) : CProperty(device, feature) {}
    bool Read() const;
    void Assign(bool highActive);
};

class CTrigger : public CProperty {
public:
    explicit CTrigger(CBcam& device);
    // False for modes the trigger's inquiry does not offer (and above 15).
    bool IsModeSupported(DWORD mode) const;

    CBoolControl OnOff;
    CMode Mode;
    CPolarity Polarity;
};

// The camera's identity texts.
class CInfo : public CProperty {
public:
    explicit CInfo(CBcam& device) : CProperty(device, 0) {}
    std::string ModelName() const;
    std::string VendorName() const;
    std::string CameraFirmwareVersion() const;

private:
    std::string Text(DWORD which, const char* context) const;
};

// A Format_7 mode's image size or position: a pair of values and the
// units they come in.
class CImageSize : public CProperty {
public:
    CImageSize(CBcam& device, DWORD mode) : CProperty(device, mode) {}
    void Read(DWORD& width, DWORD& height) const;
    void Assign(DWORD width, DWORD height);
    void Inc(DWORD& width, DWORD& height) const;
};

class CImagePosition : public CProperty {
public:
    CImagePosition(CBcam& device, DWORD mode) : CProperty(device, mode) {}
    void Read(DWORD& left, DWORD& top) const;
    void Assign(DWORD left, DWORD top);
    void Inc(DWORD& left, DWORD& top) const;
};

// A Format_7 mode's colour coding (IIDC colour coding id).
class CColorCoding : public CProperty {
public:
    CColorCoding(CBcam& device, DWORD mode) : CProperty(device, mode) {}
    DWORD Read() const;
    void Assign(DWORD code);
    bool IsSupported(DWORD code) const;
};

class CBytePerPacket : public CProperty {
public:
    CBytePerPacket(CBcam& device, DWORD mode) : CProperty(device, mode) {}
    DWORD Read() const;
    void Assign(DWORD bytes);
    DWORD Inc() const;
    DWORD Max() const;
};

class CFormatSevenMode : public CProperty {
public:
    CFormatSevenMode(CBcam& device, DWORD mode);
    void MaxSize(DWORD& width, DWORD& height) const;
    // Bytes of one image, chunks included: the size of a grab buffer.
    DWORD BytePerFrame() const;

    CImageSize ImageSize;
    CImagePosition ImagePosition;
    CColorCoding ColorCoding;
    CBytePerPacket BytePerPacket;
};

class CFormatSeven {
public:
    static constexpr DWORD kModes = 8;
    explicit CFormatSeven(CBcam& device);
    // BcamException ERROR_INVALID_PARAMETER for a mode above 7.
    CFormatSevenMode& operator[](DWORD mode);

private:
    std::vector<CFormatSevenMode> _modes;
};

// Starts and stops the camera's image stream.
class CContinuousShot : public CProperty {
public:
    explicit CContinuousShot(CBcam& device) : CProperty(device, 0) {}
    void Assign(bool on);
};

} // namespace Bcam
