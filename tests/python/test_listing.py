"""Listing both stacks and hearing cameras come and go."""
import pytest

import orvex
from conftest import A102F, A312F, FLEA2, GRAS20, GRAS50, guid


def test_each_stack_lists_its_cameras_with_identity(world):
    flycap = orvex.cameras("flycap")
    assert [(c.guid, c.model, c.port, c.backend) for c in flycap] == [
        (guid(GRAS20), "Grasshopper GRAS-20S4M", 0, "flycap"),
        (guid(GRAS50), "Grasshopper GRAS-50S5M", 1, "flycap"),
        (guid(FLEA2), "Flea2 FL2G-50S5M", 2, "flycap"),
    ]
    assert flycap[0].bus == flycap[1].bus != flycap[2].bus
    assert all(c.vendor for c in flycap)
    bcam = orvex.cameras("bcam")
    assert [(c.model, c.backend) for c in bcam] == [("A102f", "bcam"), ("A312f", "bcam")]
    assert [c.model for c in orvex.cameras("all")] == [c.model for c in flycap + bcam]


def test_unplug_and_replug_reach_the_event_iterator(world):
    orvex.cameras("flycap")
    list(orvex.device_events())  # forget what listing may have queued
    world.unplug(FLEA2)
    events = list(orvex.device_events(timeout=2.0))
    assert [e.kind for e in events] == ["removal"]
    assert events[0].backend == "flycap"
    world.plug(FLEA2, 1)
    assert [e.kind for e in orvex.device_events(timeout=2.0)] == ["arrival"]
    # The list changes when asked again, not on arrival.
    assert guid(FLEA2) in [c.guid for c in orvex.cameras("flycap")]


def test_callback_hears_events_and_its_exception_reaches_the_pump(world):
    orvex.cameras("flycap")
    list(orvex.device_events(timeout=0.2))  # what reloading the world announced
    heard = []
    orvex.on_device_change(heard.append)
    world.unplug(GRAS50)
    orvex.pump(1.0)
    assert [e.kind for e in heard] == ["removal"]
    assert list(orvex.device_events()) == []  # the callback took it

    def broken(event):
        raise RuntimeError("script bug")
    orvex.on_device_change(broken)
    world.plug(GRAS50, 0)
    with pytest.raises(RuntimeError, match="script bug"):
        orvex.pump(1.0)
