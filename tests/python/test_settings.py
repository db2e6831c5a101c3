"""Settings as properties, each refusal with the library's text."""
import pytest

import orvex


def test_shutter_and_gain_within_their_range(cam):
    low, high = cam.shutter_range
    cam.shutter = high
    assert cam.shutter == high
    with pytest.raises(orvex.Error, match=rf"shutter greater than max shutter allowed \({high + 1} > {high}\)"):
        cam.shutter = high + 1
    if low > 0:
        with pytest.raises(orvex.Error, match="shutter lower than min shutter allowed"):
            cam.shutter = low - 1
    gain_low, gain_high = cam.gain_range
    cam.gain = gain_high
    assert cam.gain == gain_high


def test_roi_and_geometry(cam):
    cam.roi = (16, 8, 320, 240)
    assert cam.roi == (16, 8, 320, 240)
    width, height = cam.max_size
    assert (width, height) == (1624, 1224)
    with pytest.raises(orvex.Error):
        cam.roi = (16, 8, width, height)  # past the sensor


def test_trigger_and_strobes(cam):
    cam.trigger.mode = orvex.TriggerMode.trigger_width
    assert cam.trigger.mode == orvex.TriggerMode.trigger_width
    cam.trigger.on = True
    assert cam.trigger.on
    cam.trigger.on = False
    assert len(cam.strobe) >= 1
    strobe = cam.strobe[0]
    strobe.enabled = True
    assert strobe.enabled
    with pytest.raises(IndexError, match="out of range"):
        cam.strobe[len(cam.strobe)]


TRIGGER_MODE = 0xF0F00830
USER_MEMORY_DESCRIPTION = 0xF0F01240


def test_registers_as_bytes_most_significant_first(cam):
    cam.trigger.on = True
    on = cam.read_register(TRIGGER_MODE, 4)
    assert isinstance(on, bytes) and len(on) == 4
    assert on[0] & 0x02  # bit 25: trigger on
    assert cam.read_quadlet(TRIGGER_MODE) == int.from_bytes(on, "big")
    block = cam.read_register(TRIGGER_MODE, 8)
    assert block == on + cam.read_register(TRIGGER_MODE + 4)
    off = bytes([on[0] & ~0x02]) + on[1:]
    cam.write_register(TRIGGER_MODE, off)
    assert cam.read_register(TRIGGER_MODE) == off
    cam.write_quadlet(TRIGGER_MODE, int.from_bytes(on, "big"))
    assert cam.read_register(TRIGGER_MODE) == on
    # A block of one quadlet writes that quadlet only (the one below the
    # trigger mode, the temperature, is read-only).
    cam.write_register(TRIGGER_MODE - 4, cam.read_register(TRIGGER_MODE - 4))
    assert cam.read_register(TRIGGER_MODE) == on


def test_user_memory_as_bytes(cam):
    description = cam.read_quadlet(USER_MEMORY_DESCRIPTION)
    assert description >> 31 == 1
    size = cam.user_memory_size
    assert size == (1 << ((description >> 12) & 0xFFF)) * (1 << (description & 0xFFF))
    cam.write_user_memory(0, b"orvex\x00\xff")
    assert cam.read_user_memory(0, 7) == b"orvex\x00\xff"
    cam.write_user_memory(3, memoryview(bytearray(b"AB")))  # unaligned, bytes-like
    assert cam.read_user_memory(0, 7) == b"orvAB\x00\xff"
    assert len(cam.read_user_memory(0, size)) == size  # all of it
    with pytest.raises(orvex.Error, match=r"readUserMemory: offset \+ data size exceeds memory range"):
        cam.read_user_memory(size - 2, 4)
