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


class Frame(_np.ndarray):
    """One image: a read-only array over the sample's pixels, holding the
    sample until the array (and every view of it) is released.

    While the camera acquires, the images buffer's bound still applies: once
    the image has left the camera's buffer the stack may write new pixels
    into the same memory, so copy (``np.array(frame)``) what you keep.

    Attributes: ``index`` (frame index), ``sw_date`` (the server's clock, ms),
    ``hw_date`` (hardware date, ms, or None when unknown), ``shutter``
    and ``gain`` (None when unknown), ``validity`` (a :class:`Validity`).
    """

    index = None
    sw_date = None
    hw_date = None
    shutter = None
    gain = None
    validity = None

    def __array_finalize__(self, source):
        if source is not None and isinstance(source, Frame):
            self.__dict__.update(source.__dict__)


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
