"""Frames as read-only arrays over the samples' own pixels."""
import sys
import threading
import time
import tracemalloc

import numpy as np
import pytest

import orvex
from conftest import GRAS20, GRAS50, guid


def test_frames_carry_pixels_and_metadata(cam):
    assert cam.enable_smart_feature(orvex.SmartFeature.cycle_time_stamp)
    cam.start()
    frames = list(cam.frames(count=4, timeout=5))
    assert [f.shape for f in frames] == [(480, 640)] * 4
    assert all(isinstance(f, orvex.Frame) and f.dtype == np.uint8 for f in frames)
    assert [f.index for f in frames] == [1, 2, 3, 4]
    assert frames[0].sw_date < frames[1].sw_date < frames[3].sw_date
    assert all(f.hw_date is not None for f in frames)
    assert frames[0].hw_date < frames[3].hw_date
    assert frames[0].validity == orvex.Validity.not_checked
    # Slices are frames too, with the metadata of their source; a copy keeps
    # it, an array computed from a frame has none.
    assert frames[2][10:20][1:].index == 3
    kept = frames[2].copy()
    assert kept.index == 3 and kept.hw_date == frames[2].hw_date
    assert not np.shares_memory(kept, frames[2]) and kept.flags.owndata
    assert (frames[2] + 1).index is None


def test_arrays_are_views_over_the_sample_not_copies(cam):
    cam.start()
    frame = next(iter(cam.frames(count=1)))
    assert not frame.flags.owndata and not frame.flags.writeable
    with pytest.raises(ValueError):
        frame[0, 0] = 1
    view = frame[100:]
    assert np.shares_memory(view, frame)
    assert view.base is frame


def test_held_frames_do_not_hold_sdk_buffers_past_the_bound(cam, locked_buffers):
    cam.start()
    held = list(cam.frames(count=30))
    assert [f.index for f in held] == list(range(1, 31))
    # The buffer keeps its images' SDK buffers; holding arrays adds none.
    assert locked_buffers(GRAS20) <= cam.images_buffer_max_size + 1
    cam.stop()
    assert locked_buffers(GRAS20) == 0
    assert int(held[0].sum()) >= 0  # still readable after the stop


def test_frame_kept_after_close_stays_readable_and_blocks_relisting(flycap):
    with orvex.open(guid(GRAS20)) as cam:
        cam.roi = (0, 0, 320, 240)
        cam.start()
        frame = next(iter(cam.frames(count=1)))
    assert frame.shape == (240, 320) and frame.index == 1
    copy = np.array(frame)
    assert np.array_equal(copy, frame)
    with pytest.raises(orvex.Error, match="frame arrays"):
        orvex.cameras("flycap")
    del frame
    assert len(orvex.cameras("flycap")) == 3


def test_the_sample_is_kept_by_the_arrays_base_for_every_view(flycap):
    with orvex.open(guid(GRAS20)) as cam:
        cam.start()
        frame = next(iter(cam.frames(count=1)))
    owner = frame.base
    assert not isinstance(owner, np.ndarray)
    with pytest.raises(TypeError):
        type(owner)()
    # A view outliving its frame still holds the sample: its pixels, its
    # metadata, and the refusal to replace the stack under them.
    rows = frame.shape[0]
    view = frame[1:, :8]
    del frame
    assert view.index == 1 and view.shape == (rows - 1, 8) and int(view.sum()) >= 0
    with pytest.raises(orvex.Error, match="frame arrays"):
        orvex.cameras("flycap")
    del view, owner
    assert len(orvex.cameras("flycap")) == 3


def test_frames_taken_and_dropped_leave_nothing_behind(cam):
    cam.start()
    frames = cam.frames(count=60, timeout=5)
    first = next(frames)
    owner_type, pixels = type(first.base), np.dtype(np.uint8)
    del first
    references = sys.getrefcount(owner_type), sys.getrefcount(pixels)
    tracemalloc.start()
    before = tracemalloc.take_snapshot()
    for frame in frames:
        pass
    del frame
    after = tracemalloc.take_snapshot()
    tracemalloc.stop()
    # Each frame's element type and base object are given back with it.
    assert (sys.getrefcount(owner_type), sys.getrefcount(pixels)) == references
    here = [tracemalloc.Filter(True, __file__)]
    grown = sum(stat.size_diff for stat in after.filter_traces(here).compare_to(before.filter_traces(here), "filename"))
    assert grown < 20 * 32, f"{grown} bytes still held after 59 frames were dropped"


def test_sixteen_bit_frames_are_words(cam):
    cam.pixel_format = orvex.PixelFormat.y_mono16
    cam.start()
    frame = next(iter(cam.frames(count=1, timeout=5)))
    assert frame.dtype == np.uint16 and frame.shape == (480, 640)
    assert frame.strides == (1280, 2)


def test_frame_arrays_over_other_memory_have_no_metadata():
    # Only the module's own base objects carry a sample: any other base at
    # the end of the chain gives None, never a misread object.
    foreign = np.frombuffer(bytes(range(12)), dtype=np.uint8).reshape(3, 4).view(orvex.Frame)
    assert foreign.index is None and foreign.hw_date is None
    assert np.zeros((2, 2), np.uint8).view(orvex.Frame).validity is None


def test_frames_need_a_start_and_time_out_without_images(cam):
    with pytest.raises(orvex.Error, match="not acquiring"):
        next(iter(cam.frames()))
    cam.trigger.on = True  # no trigger ever comes
    cam.start()
    with pytest.raises(orvex.TimeoutError, match="no frame"):
        next(iter(cam.frames(timeout=0.3)))
    with pytest.raises(TimeoutError):
        next(iter(cam.frames(timeout=0.1)))


def test_stop_from_another_thread_ends_the_iteration(cam):
    cam.trigger.on = True  # the iteration waits on the event
    cam.start()
    timer = threading.Timer(0.3, cam.stop)
    timer.start()
    frames = cam.frames(timeout=10)
    assert list(frames) == []
    timer.join()
    with pytest.raises(StopIteration):  # ended for good
        next(frames)
    assert not cam.is_acquiring


def test_stop_from_another_thread_while_frames_arrive(cam):
    for _ in range(3):
        cam.start()
        got = []

        def stop_after_the_first_frames():
            while len(got) < 3:
                time.sleep(0.01)
            cam.stop()
        stopper = threading.Thread(target=stop_after_the_first_frames)
        stopper.start()
        for frame in cam.frames(timeout=10):
            got.append(frame.index)
        stopper.join(10)
        assert not stopper.is_alive()
        assert len(got) >= 3 and got == sorted(set(got))
        assert not cam.is_acquiring


def test_callback_exception_ends_a_frame_iteration(cam, world):
    def broken(event):
        raise RuntimeError("callback bug " + event.kind)
    list(orvex.device_events(timeout=0.2))  # what reloading the world announced
    orvex.on_device_change(broken)
    cam.start()
    with pytest.raises(RuntimeError, match="callback bug removal"):
        for frame in cam.frames(count=100, timeout=5):
            if frame.index == 2:
                world.unplug(GRAS50)
