"""The simulated world from Python: world files, unplugging while iterating."""
import json

import pytest

import orvex
from conftest import A102F, FLEA2, GRAS20, guid, run_script


def test_world_file_replaces_the_world(world, tmp_path):
    path = tmp_path / "one.json"
    path.write_text(json.dumps({"buses": [
        {"number": 0, "cameras": [{"model": "Flea2 FL2G-50S5M", "serial": 1234567}]}]}))
    world.load_world(str(path))
    assert [(c.guid, c.model) for c in orvex.cameras("flycap")] == [(guid(1234567), "Flea2 FL2G-50S5M")]
    assert world.connected() == [1234567]


def test_broken_world_files_are_refused_with_the_reason(world, tmp_path):
    with pytest.raises(orvex.Error, match="cannot be opened"):
        world.load_world(str(tmp_path / "missing.json"))
    bad = tmp_path / "bad.json"
    bad.write_text('{"buses": [{"number": 0, "speeed": 800}]}')
    with pytest.raises(orvex.Error, match="bad.json"):
        world.load_world(str(bad))
    with pytest.raises(ValueError, match="not plugged in"):
        world.unplug(42)
    with pytest.raises(ValueError, match="no bus 9"):
        world.set_drift(9, 10.0)


def test_unplug_while_iterating_ends_with_the_library_error(flycap, world):
    with orvex.open(guid(FLEA2)) as cam:
        cam.roi = (0, 0, 640, 480)
        cam.start()
        got = []
        with pytest.raises(orvex.Error, match=guid(FLEA2) + " not found among connected cameras"):
            for frame in cam.frames(timeout=5):
                got.append(frame.index)
                if len(got) == 3:
                    world.unplug(FLEA2)
        assert got[:3] == [1, 2, 3]
        with pytest.raises(orvex.Error, match="not found among connected cameras"):
            cam.shutter = 100


def test_bcam_camera_unplugged_while_iterating(world):
    entries = orvex.cameras("bcam")
    with orvex.open(entries[0]) as cam:
        assert cam.guid == entries[0].guid and cam.backend == "bcam"
        cam.start()
        with pytest.raises(orvex.Error):
            for frame in cam.frames(timeout=5):
                if frame.index == 2:
                    world.unplug(A102F)
    world.plug(A102F, 2)


def test_drift_is_set_on_a_bus(world):
    world.set_drift(1, 55.5)


def test_frame_kept_past_an_unplug_keeps_its_sample_and_blocks_relisting(flycap, world):
    with orvex.open(guid(GRAS20)) as cam:
        cam.roi = (0, 0, 320, 240)
        cam.start()
        frame = next(iter(cam.frames(count=1)))
        world.unplug(GRAS20)
        orvex.pump(0.3)
    assert frame.shape == (240, 320) and frame.index == 1 and frame.sw_date is not None
    with pytest.raises(orvex.Error, match="frame arrays"):
        orvex.cameras("flycap")
    del frame
    assert guid(GRAS20) not in [c.guid for c in orvex.cameras("flycap")]
    world.plug(GRAS20, 0)


# The pixels of a FlyCapture frame are the SDK's buffer; the sample keeps it
# past the camera's removal. In its own interpreter, so that a fault cannot
# take the test run down.
def test_frame_pixels_kept_past_an_unplug():
    result = run_script(
        "import numpy as np, orvex\n"
        "cam = orvex.open(orvex.cameras('flycap')[0]); cam.start()\n"
        "frame = next(iter(cam.frames(count=1)))\n"
        "kept = np.array(frame)\n"
        "orvex.sim.unplug(%d); orvex.pump(0.3)\n"
        "try:\n"
        "    print(np.array_equal(np.array(frame), kept))\n"
        "except orvex.Error:\n"
        "    print('refused')\n" % GRAS20)
    assert result.returncode == 0, result.stderr[-2000:]
    assert result.stdout.split() == ["True"]
