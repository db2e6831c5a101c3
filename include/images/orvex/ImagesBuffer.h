// The per-camera buffer through which acquired images reach the host.
//
// Threads and locks:
// - The camera's acquisition thread calls addImage, and may call
//   isObsoleteParamAvailable and getObsoleteParam to recycle the memory of
//   images that left the buffer. Nothing it calls ever waits for the host.
// - The host's thread calls everything else. lockBuffer freezes the buffer:
//   once it has returned the acquisition thread no longer changes the buffer,
//   so getBufferSize, getBufferContent and captureImage (which require the
//   lock) read and change it without further locking, until unlockBuffer.
//   While locked, new images wait in a transit queue of at most
//   getTransitQueueMaxSize() images; older ones are dropped.
// - The buffer lock (a critical section) is held only while the flag is set
//   and while the acquisition thread moves waiting images into the buffer;
//   the obsolete-parameters lock guards every append and removal of a
//   parameter. The captured slot, the settings, reset, copying and
//   destruction are host-thread business and must not overlap addImage.
//
// Frame indexes are compared modulo 2^32, as 32-bit counters: the buffer
// keeps the images whose index is at most getBufferMaxSize() below the index
// of the last image added, computed in unsigned 32-bit arithmetic.
//
// Every image dropped from the transit queue or the buffer (not the captured
// or released one) is reported by logLostImage, and its parameter
// (ImageSample::getParam) is kept for getObsoleteParam while obsolete
// parameters are kept. The parameter of a released image is kept as well.
#pragma once

#include <orvex/Export.h>
#include <orvex/ImageSample.h>
#include <orvex/Types.h>
#include <orvex/win32.h>

#include <boost/shared_ptr.hpp>

#include <memory>

class ORVEX_API ImagesBuffer {
public:
    // Empty, unlocked, no image captured; max size 3, transit queue max 2.
    // Any thread (before it is shared).
    explicit ImagesBuffer(bool keepObsoleteParams);
    // Copies the settings, the flags, the captured image and the three
    // queues; the copy has locks of its own. Host thread, not while acquiring.
    ImagesBuffer(const ImagesBuffer& other);
    ImagesBuffer& operator=(const ImagesBuffer& other);
    // Forgets the obsolete parameters and lets go of every image; each sample
    // dies with its last reference. Host thread, not while acquiring.
    virtual ~ImagesBuffer();

    // How far (in frame indexes) the buffer reaches back, taking effect at
    // the next addition. 0 is refused: "buffer max size cannot equal 0".
    // Host thread; no lock.
    void setBufferMaxSize(unsigned long size);
    int getBufferMaxSize() const;

    // How many images may wait while the buffer is locked (0 allowed: then
    // every image added while locked is dropped). Host thread; no lock.
    void setTransitQueueMaxSize(unsigned int size);
    unsigned int getTransitQueueMaxSize() const;

    // Set and clear the locked flag under the buffer lock. Unlocking does not
    // move the waiting images: the next addition does. Host thread.
    void lockBuffer();
    void unlockBuffer();

    // Acquisition thread. Queues the sample and, unless the buffer is locked,
    // moves every waiting image into the buffer under the buffer lock,
    // dropping obsolete ones; then drops the oldest waiting images beyond the
    // transit queue's maximum. An image whose index is already buffered is
    // let go silently. A null sample is refused with OrvexError.
    void addImage(boost::shared_ptr<ImageSample> sample);
    // Builds the sample from the arguments of ImageSample's protected
    // constructor (OrvexError "unknown pixel format" and the like leave the
    // buffer unchanged) and adds it as above.
    void addImage(unsigned long idx, double swDate, double hwDate, unsigned char* data, int bufferSize,
                  int width, int height, ImageValidity validity, int shutter, int gain, bool copy,
                  HWND notifiedWnd, unsigned long notificationMsg, void* param);

    // Host thread, buffer locked (else OrvexError "you must lock buffer
    // before invoking this method"). The number of buffered images; images
    // waiting in the transit queue are not counted.
    unsigned long getBufferSize() const;
    // Host thread, buffer locked. The image at `pos` counted from the newest
    // (0: highest index); it stays in the buffer. `pos` >= size: OrvexError
    // "invalid buffer position idx (<pos> greater than <size>".
    boost::shared_ptr<ImageSample> getBufferContent(unsigned long pos) const;

    // Host thread, buffer locked. Takes the image of index `idx` into the
    // captured slot and drops every older image; newer ones stay. Refusals,
    // which change nothing: not locked; "one image has already been captured
    // without having been released"; "invalid image idx".
    boost::shared_ptr<ImageSample> captureImage(unsigned long idx);
    // Host thread; no lock. OrvexError "no image captured" when the slot is
    // empty.
    boost::shared_ptr<ImageSample> getCapturedImage() const;
    bool isImageCaptured() const;
    // Host thread; no buffer lock needed. Empties the captured slot, keeping
    // the image's parameter if obsolete parameters are kept. OrvexError "no
    // image captured" when the slot is empty.
    void releaseImage();

    // Host thread. Switching keeping off first forgets every kept parameter.
    void keepObsoleteParams(bool keep);
    bool areObsoleteParamsKept() const;
    // Any thread; takes no lock (the count it reads is kept under the
    // obsolete-parameters lock). OrvexError "obsolete params are not kept"
    // when not keeping.
    bool isObsoleteParamAvailable();
    // Any thread; takes the obsolete-parameters lock. Removes and returns the
    // oldest kept parameter. OrvexError "obsolete params are not kept", or
    // "no obsolete param available" when there is none.
    void* getObsoleteParam();
    // Forgets every kept parameter (what they point to is not touched).
    // Host thread; takes the obsolete-parameters lock.
    void destroyObsoleteParams();

    // Releases the captured image (as releaseImage), forgets the kept
    // parameters and lets go of every buffered and waiting image. The locked
    // flag is left as it is. Host thread, once acquisition has stopped.
    void reset();

    // Writes the lost-image line of `sample` to "Orvex.lostStream" at INFO;
    // the line is only built when that logger is enabled for INFO. Called
    // for every dropped image. Any thread.
    void logLostImage(const ImageSample& sample) const;

private:
    struct State;
    std::unique_ptr<State> _pState;
};
