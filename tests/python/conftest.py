"""Every test starts from the simulator's built-in world: FlyCapture cameras
7240101 and 8120202 on bus 0, 9050303 on bus 1, BCAM cameras 20110404 and
20120505 on bus 2."""
import ctypes
import os
import sys

import pytest

import orvex

GRAS20, GRAS50, FLEA2 = 7240101, 8120202, 9050303
A102F, A312F = 20110404, 20120505


def guid(serial):
    return f"{serial:016X}"


@pytest.fixture
def world():
    orvex.on_device_change(None)
    orvex.sim.load_default()
    yield orvex.sim
    orvex.on_device_change(None)


@pytest.fixture
def flycap(world):
    return {entry.guid: entry for entry in orvex.cameras("flycap")}


@pytest.fixture
def cam(flycap):
    with orvex.open(flycap[guid(GRAS20)]) as camera:
        camera.roi = (0, 0, 640, 480)
        yield camera


@pytest.fixture
def locked_buffers():
    """The simulated SDK's count of buffers lent to the host, per serial."""
    sdk = ctypes.CDLL("libPGRFlyCapture.so", mode=os.RTLD_NOLOAD | ctypes.RTLD_GLOBAL)
    probe = sdk.orvexSimFlyCapLockedBuffers
    probe.restype, probe.argtypes = ctypes.c_uint, [ctypes.c_uint32]
    return probe


def run_script(code, timeout=60):
    """Runs code in a fresh interpreter with this one's module path."""
    import subprocess
    return subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=timeout,
                          env=dict(os.environ))
