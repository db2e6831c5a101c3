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


def test_registers_and_user_memory_as_bytes(cam):
    assert isinstance(cam.read_register(0xF0F012F8), int)
    size = cam.user_memory_size
    assert size > 0
    cam.write_user_memory(0, b"orvex\x00\xff")
    assert cam.read_user_memory(0, 7) == b"orvex\x00\xff"
    with pytest.raises(orvex.Error, match=r"readUserMemory: offset \+ data size exceeds memory range"):
        cam.read_user_memory(size - 2, 4)
