"""Orvex IEEE 1394 cameras from Python.

List cameras with :func:`cameras`, open one with ``with orvex.open(entry) as
cam:``, set it up through its properties, then ``cam.start()`` and iterate
``cam.frames(count=..., timeout=...)``: each frame is a read-only NumPy array
over the image sample's own pixels, with the sample's metadata as attributes.

Everything runs on the thread that listed the cameras first: the library's
hidden windows belong to it, and the module dispatches their messages while
that thread waits for frames, device events (:func:`device_events`) or time
(:func:`pump`).
"""

import atexit as _atexit

import numpy as _np

from . import _orvex
from ._orvex import (
    Camera,
    CameraInfo,
    DeviceEvent,
    Error,
    FatalError,
    FrameIterator,
    MultiSync,
    PixelFormat,
    SmartFeature,
    Strobe,
    Strobes,
    TimeoutError,
    Trigger,
    TriggerMode,
    Validity,
    cameras,
    on_device_change,
    open,
    pump,
    set_log_level,
    sim,
)

__all__ = [
    "Camera", "CameraInfo", "DeviceEvent", "Error", "FatalError", "Frame", "FrameIterator", "MultiSync",
    "PixelFormat", "SmartFeature", "Strobe", "Strobes", "TimeoutError", "Trigger", "TriggerMode", "Validity", "cameras",
    "device_events", "on_device_change", "open", "pump", "set_log_level", "sim",
]


_NO_METADATA = (None,) * 6


def _metadata_field(position, doc):
    return property(lambda frame: frame._metadata()[position], doc=doc)


class Frame(_np.ndarray):
    """One image: a read-only array over the sample's pixels, holding the
    sample until the array (and every view of it) is released.

    While the camera acquires, the images buffer's bound still applies: once
    the image has left the camera's buffer the stack may write new pixels
    into the same memory, so copy what you keep: ``frame.copy()`` keeps the
    metadata too, ``np.array(frame)`` the pixels only. A frame stays
    readable after its camera is unplugged.

    The metadata is read from the sample when asked (views of a frame give
    their source's); arrays computed from a frame have none (None).
    """

    index = _metadata_field(0, "The frame's index (1 for the first since start()).")
    sw_date = _metadata_field(1, "The server's clock when the frame arrived, in ms.")
    hw_date = _metadata_field(2, "The camera's hardware date in ms, or None when unknown.")
    shutter = _metadata_field(3, "The shutter the frame was taken with, or None when unknown.")
    gain = _metadata_field(4, "The gain the frame was taken with, or None when unknown.")
    validity = _metadata_field(5, "A Validity.")

    def _metadata(self):
        # Views hold their source frame as base, down to the sample's keeper;
        # the answer is kept on the array that was asked.
        array = self
        while isinstance(array, Frame):
            kept = array.__dict__.get("_orvex_metadata")
            if kept is not None:
                break
            array = array.base
        else:
            while isinstance(array, _np.ndarray):
                array = array.base
            kept = _orvex._frame_metadata(array) or _NO_METADATA
        self.__dict__["_orvex_metadata"] = kept
        return kept

    def copy(self, order="C"):
        kept = super().copy(order)
        kept._orvex_metadata = self._metadata()
        return kept


_orvex._set_frame_type(Frame)


def device_events(timeout=0.0):
    """Yields the arrivals and removals heard so far, then those that arrive
    while waiting, until ``timeout`` seconds pass without one.

    Events go to the callback of :func:`on_device_change` instead when one
    is set.
    """
    while True:
        pending = _orvex._take_events()
        if not pending:
            pump(timeout)
            pending = _orvex._take_events()
            if not pending:
                return
        yield from pending


@_atexit.register
def _release_at_exit():
    # The library's own calls release the cameras and the server before the
    # interpreter goes: acquisition threads must not outlive it.
    _orvex._shutdown()
