"""Wrong types and out-of-range values: a Python exception, never a crash."""
import threading

import pytest

import orvex


@pytest.mark.parametrize("name, value, error", [
    ("shutter", -1, ValueError),
    ("shutter", 2**32, ValueError),
    ("shutter", 2**80, ValueError),
    ("shutter", "10", TypeError),
    ("shutter", 1.5, TypeError),
    ("gain", 2**31, ValueError),
    ("roi", (0, 0, 640), ValueError),
    ("roi", (0, -1, 640, 480), ValueError),
    ("roi", "0,0,640,480", TypeError),
    ("frame_rate", float("nan"), ValueError),
    ("images_buffer_max_size", None, TypeError),
])
def test_settings_refuse_wrong_values(cam, name, value, error):
    with pytest.raises(error, match=name.split("_")[0]):
        setattr(cam, name, value)


def test_calls_refuse_wrong_arguments(cam):
    with pytest.raises(ValueError, match="register offset"):
        cam.read_register(-4)
    with pytest.raises(ValueError, match="multiple of 4"):
        cam.read_register(0xF0F00832)
    for length in (0, 3, 4100):
        with pytest.raises(ValueError, match="register length"):
            cam.read_register(0xF0F00830, length)
    with pytest.raises(ValueError, match="past the register space"):
        cam.read_register(0xFFFFFFFC, 8)
    try:  # the last quadlet is the camera's to refuse
        cam.read_register(0xFFFFFFFC, 4)
    except orvex.Error:
        pass
    with pytest.raises(ValueError, match="register length"):
        cam.write_register(0xF0F00830, b"\x00\x01\x02")
    with pytest.raises(TypeError, match="register data must be bytes"):
        cam.write_register(0xF0F00830, 0x82000000)
    with pytest.raises(TypeError, match="register data must be bytes"):
        cam.write_register(0xF0F00830, "text")
    with pytest.raises(ValueError, match="quadlet value"):
        cam.write_quadlet(0xF0F00830, 2**32)
    with pytest.raises(TypeError, match="bytes"):
        cam.write_user_memory(0, "text")
    with pytest.raises(orvex.Error, match="do not fit"):
        cam.read_user_memory(0, 2**32 - 1)
    with pytest.raises(TypeError):
        cam.trigger.mode = 1
    with pytest.raises(ValueError, match="count"):
        cam.frames(count=-1)
    with pytest.raises(ValueError, match="timeout"):
        cam.frames(timeout=0)
    with pytest.raises(ValueError, match="unknown back end 'usb'"):
        orvex.cameras("usb")
    with pytest.raises(TypeError):
        orvex.cameras(3)
    with pytest.raises(ValueError, match="not a camera GUID"):
        orvex.open("no-such-guid")
    with pytest.raises(TypeError):
        orvex.open(7240101)


def test_another_thread_is_refused_without_deadlock(cam):
    caught = []

    def other():
        try:
            cam.shutter = 100
        except orvex.Error as error:
            caught.append(str(error))
        try:
            cam.stop()
        except orvex.Error as error:
            caught.append(str(error))
    thread = threading.Thread(target=other)
    thread.start()
    thread.join(10)
    assert not thread.is_alive()
    assert "thread" in caught[0] and "frames() iteration" in caught[1]
