"""Opening, closing and what a closed or re-listed camera refuses."""
import pytest

import orvex
from conftest import FLEA2, GRAS20, guid, run_script


def test_open_by_entry_or_guid_and_close_on_exit_or_exception(flycap):
    with orvex.open(flycap[guid(GRAS20)]) as cam:
        assert cam.guid == guid(GRAS20) and cam.model == "Grasshopper GRAS-20S4M"
        with pytest.raises(orvex.Error, match="already open"):
            orvex.open(guid(GRAS20))
    assert cam.closed
    with pytest.raises(orvex.Error, match="closed"):
        cam.shutter
    with pytest.raises(ZeroDivisionError):
        with orvex.open("0x" + guid(FLEA2)) as cam:
            cam.start()
            1 / 0
    assert cam.closed
    with orvex.open(guid(FLEA2)) as again:  # released: opens again
        assert not again.is_acquiring


def test_unknown_guid_carries_the_library_text(flycap):
    with pytest.raises(orvex.Error, match="0000000000001234 not found among connected cameras"):
        orvex.open("1234")


def test_listing_again_refused_while_a_camera_is_open(flycap):
    with orvex.open(guid(GRAS20)):
        with pytest.raises(orvex.Error, match="camera is open"):
            orvex.cameras("flycap")
        with pytest.raises(orvex.Error, match="camera is open"):
            orvex.cameras("bcam")
    assert len(orvex.cameras("flycap")) == 3


def test_interpreter_exit_releases_an_acquiring_camera():
    result = run_script(
        "import orvex\n"
        "cam = orvex.open(orvex.cameras()[0]); cam.start()\n"
        "frame = next(iter(cam.frames(count=1)))\n"
        "print(frame.index)\n")
    assert result.returncode == 0, result.stderr
    assert result.stdout.strip() == "1"
