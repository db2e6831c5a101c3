// The simulated camera's writable registers, with a count of changes, so
// that what the camera works out from them (geometry, frame period,
// exposure, trigger state) is worked out again only after a change rather
// than for every image.
#pragma once

#include <boost/container/flat_map.hpp>

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace orvex::sim {

// Not thread-safe, reads included (get keeps its recent answers): the
// camera's lock guards it. Reads go through const iterators; every write
// (operator[], set, assign) counts as a change.
class RegisterFile {
public:
    // Contiguous, so that the lookups an image makes touch a few cache
    // lines rather than a node each.
    using Map = boost::container::flat_map<uint32_t, uint32_t>;

    uint64_t changes() const { return _changes; }
    // Counts a change of something the memos also read (the shutter's time base).
    void touch() { ++_changes; }

    // The value, 0 for an address the camera does not have. Every image
    // reads the same dozen registers: they come from a few recent answers,
    // valid until the next change, rather than from a search of the map.
    uint32_t get(uint32_t address) const
    {
        Recent& recent = _recent[(address >> 2) % kRecent];
        if (recent.changes == _changes && recent.address == address)
            return recent.value;
        const auto it = _map.find(address);
        const uint32_t value = it == _map.end() ? 0 : it->second;
        recent = Recent{_changes, address, value};
        return value;
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
    struct Recent {
        uint64_t changes = 0; // the map's count when read; 0: never
        uint32_t address = 0;
        uint32_t value = 0;
    };
    static constexpr std::size_t kRecent = 16;

    Map _map;
    uint64_t _changes = 1; // a memo starts at 0: never worked out
    mutable std::array<Recent, kRecent> _recent{};
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
