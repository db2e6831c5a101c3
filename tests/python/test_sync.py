"""MultiSync with Python callables as its callbacks."""
import pytest

import orvex
from conftest import FLEA2, GRAS20, guid


def test_synchronises_a_slave_and_calls_back(flycap):
    heard = []
    sync = orvex.MultiSync(guid(GRAS20), [flycap[guid(FLEA2)]],
                           on_synchronized=lambda: heard.append("synchronized"),
                           on_update_success=lambda: heard.append("update"))
    assert sync.state == "stopped" and not sync.all_on_same_bus
    sync.start()
    assert sync.state == "started"
    for _ in range(100):
        orvex.pump(0.1)
        if "synchronized" in heard:
            break
    assert sync.state == "synchronized"
    assert "update" in heard and not sync.last_update_failed
    sync.stop()
    assert sync.state == "stopped"


def test_refusals(flycap):
    with pytest.raises(ValueError, match="not a camera GUID"):
        orvex.MultiSync("master?", [])
    with pytest.raises(TypeError):
        orvex.MultiSync(guid(GRAS20), [guid(FLEA2)], on_synchronized=42)
    with pytest.raises(orvex.Error):
        orvex.MultiSync("0", [guid(FLEA2)])  # no master
    sync = orvex.MultiSync(guid(GRAS20), [guid(FLEA2)])
    sync.start()
    with pytest.raises(orvex.Error):
        sync.start()
    sync.stop()
