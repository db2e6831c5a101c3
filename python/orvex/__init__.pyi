"""Type hints of the orvex package."""
import enum
from types import ModuleType
from typing import Callable, Iterable, Iterator, Literal, Optional, Sequence, Tuple, Union

import numpy as np

Backend = Literal["flycap", "bcam"]


class Error(Exception):
    """A refusal of the library or of the binding, carrying its text."""


class FatalError(Exception):
    """The library's fatal error."""


class TimeoutError(Error, TimeoutError):  # type: ignore[misc]
    """No frame arrived within the timeout."""


class TriggerMode(enum.IntEnum):
    exposure_timed = 0
    trigger_width = 1


class Validity(enum.IntEnum):
    valid = 0
    invalid = 1
    not_checked = 2


class PixelFormat(enum.IntEnum):
    y_mono = 0
    yuv411 = 1
    yuv422 = 2
    yuv444 = 3
    rgb24 = 4
    rgb16_555 = 5
    rgb16_565 = 6
    rgb32 = 7
    y_mono16 = 8


class SmartFeature(enum.IntEnum):
    extended_data_stream = 0
    frame_counter = 1
    cycle_time_stamp = 2
    grey_level_values = 3
    dcam = 4
    shutter_time_base = 5
    crc_checksum = 6
    extended_version_info = 7
    lookup_table = 8
    gpio_status = 9


class CameraInfo:
    """One camera as :func:`cameras` lists it."""
    guid: str
    model: str
    vendor: str
    bus: str
    port: int
    backend: Backend


class DeviceEvent:
    """An arrival or removal heard from a stack."""
    kind: Literal["arrival", "removal"]
    name: str
    backend: Backend


class Frame(np.ndarray):
    """A read-only array over an image sample's pixels, with its metadata."""
    index: int
    sw_date: float
    hw_date: Optional[float]
    shutter: Optional[int]
    gain: Optional[int]
    validity: Validity
    def copy(self, order: str = "C") -> "Frame":
        """The pixels copied, with this frame's metadata."""


class Trigger:
    on: bool
    mode: TriggerMode
    polarity: bool
    def is_mode_supported(self, mode: TriggerMode) -> bool: ...
    def software_trigger(self) -> None: ...


class Strobe:
    port_id: int
    enabled: bool
    polarity: bool
    delay: int
    duration: int


class Strobes:
    def __len__(self) -> int: ...
    def __getitem__(self, position: int) -> Strobe: ...


class FrameIterator(Iterator[Frame]):
    def __iter__(self) -> "FrameIterator": ...
    def __next__(self) -> Frame: ...


class Camera:
    """An open camera; settings use the library's names in snake case."""
    guid: str
    backend: Backend
    model: str
    vendor: str
    bus: str
    port: int
    firmware_version: int
    closed: bool
    shutter: int
    shutter_range: Tuple[int, int]
    gain: int
    gain_range: Tuple[int, int]
    roi: Tuple[int, int, int, int]
    max_size: Tuple[int, int]
    pixel_format: PixelFormat
    packet_size: int
    packet_size_range: Tuple[int, int]
    frame_rate: float
    temperature: float
    images_buffer_max_size: int
    trigger: Trigger
    strobe: Strobes
    user_memory_size: int
    is_acquiring: bool
    def read_register(self, offset: int, length: int = 4) -> bytes:
        """Whole quadlets from a multiple-of-4 offset (0xF0F00000 and up), each
        most significant byte first; at most 4096 bytes."""
    def write_register(self, offset: int, data: Union[bytes, bytearray, memoryview]) -> None:
        """Whole quadlets, most significant byte first, written one after the other."""
    def read_quadlet(self, offset: int) -> int: ...
    def write_quadlet(self, offset: int, value: int) -> None: ...
    def read_user_memory(self, offset: int, size: int) -> bytes: ...
    def write_user_memory(self, offset: int, data: Union[bytes, bytearray, memoryview]) -> None: ...
    def enable_smart_feature(self, feature: SmartFeature, enable: bool = True) -> bool: ...
    def is_smart_feature_enabled(self, feature: SmartFeature) -> bool: ...
    def start(self) -> None: ...
    def stop(self) -> None: ...
    def frames(self, count: Optional[int] = None, timeout: Optional[float] = 5.0) -> FrameIterator: ...
    def close(self) -> None: ...
    def __enter__(self) -> "Camera": ...
    def __exit__(self, *exc: object) -> bool: ...


class MultiSync:
    """Keeps the cameras of other buses on the master's time base."""
    state: Literal["stopped", "started", "synchronized"]
    last_update_failed: bool
    all_on_same_bus: bool
    def __init__(self, master: Union[str, CameraInfo], cameras: Iterable[Union[str, CameraInfo]],
                 on_synchronized: Optional[Callable[[], None]] = None,
                 on_update_success: Optional[Callable[[], None]] = None,
                 on_update_failure: Optional[Callable[[str], None]] = None,
                 on_synchronization_lost: Optional[Callable[[], None]] = None) -> None: ...
    def start(self) -> None: ...
    def stop(self) -> None: ...


class _Simulator(ModuleType):
    def load_world(self, path: str) -> None: ...
    def load_default(self) -> None: ...
    def unplug(self, serial: int) -> None: ...
    def plug(self, serial: int, bus: int) -> None: ...
    def set_drift(self, bus: int, ppm: float) -> None: ...
    def connected(self) -> Sequence[int]: ...


sim: _Simulator


def cameras(backend: Literal["flycap", "bcam", "all"] = "flycap") -> list[CameraInfo]: ...
def open(camera: Union[CameraInfo, str]) -> Camera: ...
def pump(seconds: float = 0.0) -> None: ...
def on_device_change(callback: Optional[Callable[[DeviceEvent], None]]) -> None: ...
def device_events(timeout: float = 0.0) -> Iterator[DeviceEvent]: ...
def set_log_level(level: str) -> None: ...
