// The simulated camera's writable registers, with a count of changes, so
// that what the camera works out from them (geometry, frame period,
// exposure, trigger state) is worked out again only after a change rather
// than for every image.
#pragma once

#include <boost/container/flat_map.hpp>

#include <cstdint>
#include <utility>

namespace orvex::sim {

// Not thread-safe: the camera's lock guards it. Reads go through const
// iterators; every write (operator[], set, assign) counts as a change.
class RegisterFile {
public:
    // Contiguous, so that the lookups an image makes touch a few cache
    // lines rather than a node each.
    using Map = boost::container::flat_map<uint32_t, uint32_t>;

    uint64_t changes() const { return _changes; }
    // Counts a change of something the memos also read (the shutter's time base).
    void touch() { ++_changes; }

    // The value, 0 for an address the camera does not have.
    uint32_t get(uint32_t address) const
    {
        const auto it = _map.find(address);
        return it == _map.end() ? 0 : it->second;
    }
    std::size_t count(uint32_t address) const { return _map.count(address); }
    Map::const_iterator find(uint32_t address) const { return _map.find(address); }
    Map::const_iterator end() const { return _map.end(); }
    Map::const_iterator lower_bound(uint32_t address) const { return _map.lower_bound(address); }

    // For `registers[address] = value` alone: the value is worked out
    // before the change is counted (C++17 sequencing), and nothing may keep
    // the reference.
    uint32_t& operator[](uint32_t address)
    {
        touch();
        return _map[address];
    }
    // Writes an address the map may already hold: iterators stay valid.
    void set(uint32_t address, uint32_t value)
    {
        touch();
        _map[address] = value;
    }
    void assign(Map registers)
    {
        touch();
        _map = std::move(registers);
    }

private:
    Map _map;
    uint64_t _changes = 1; // a memo starts at 0: never worked out
};

// A value worked out from the registers, kept until they change.
template <class T> struct RegisterMemo {
    uint64_t changes = 0;
    T value{};

    template <class WorkOut> const T& get(const RegisterFile& registers, WorkOut workOut)
    {
        if (changes != registers.changes()) {
            value = workOut();
            changes = registers.changes();
        }
        return value;
    }
};

} // namespace orvex::sim
