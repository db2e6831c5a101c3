// A growable circular queue: the storage grows to the largest size ever held
// and is then reused, so a queue that cycles through a bounded number of
// elements allocates nothing in its steady state (std::deque allocates and
// frees a block every few dozen elements). Elements are addressed by their
// position from the front. Not thread-safe: its owner says who may touch it.
#pragma once

#include <cstddef>
#include <utility>
#include <vector>

namespace orvex::images {

template <typename T> class RingQueue {
public:
    size_t size() const { return _nCount; }
    bool empty() const { return _nCount == 0; }

    T& operator[](size_t pos) { return _slots[slotOf(pos)]; }
    const T& operator[](size_t pos) const { return _slots[slotOf(pos)]; }
    T& front() { return (*this)[0]; }
    T& back() { return (*this)[_nCount - 1]; }
    const T& back() const { return (*this)[_nCount - 1]; }

    void push_back(T value)
    {
        growIfFull();
        _slots[slotOf(_nCount)] = std::move(value);
        ++_nCount;
    }

    // Puts `value` at `pos` (0 ... size()), moving the later elements back.
    void insert(size_t pos, T value)
    {
        growIfFull();
        for (size_t i = _nCount; i > pos; --i)
            _slots[slotOf(i)] = std::move(_slots[slotOf(i - 1)]);
        _slots[slotOf(pos)] = std::move(value);
        ++_nCount;
    }

    // Destroys the front element (its slot is reset to an empty T).
    void pop_front()
    {
        _slots[_nHead] = T();
        _nHead = (_nHead + 1) & mask();
        --_nCount;
    }

    // Removes, front to back, every element for which remove(element) is
    // true; `remove` may take what it needs from the element first. The kept
    // elements keep their order.
    template <typename Predicate> void removeIf(Predicate remove)
    {
        size_t kept = 0;
        for (size_t pos = 0; pos < _nCount; ++pos) {
            T& element = (*this)[pos];
            if (remove(element))
                continue;
            if (kept != pos)
                (*this)[kept] = std::move(element);
            ++kept;
        }
        for (size_t pos = kept; pos < _nCount; ++pos)
            (*this)[pos] = T();
        _nCount = kept;
    }

    // Destroys every element; the storage is kept for reuse.
    void clear()
    {
        while (!empty())
            pop_front();
        _nHead = 0;
    }

private:
    // Capacities are powers of two, so a position wraps with a mask.
    size_t mask() const { return _slots.size() - 1; }
    size_t slotOf(size_t pos) const { return (_nHead + pos) & mask(); }

    void growIfFull()
    {
        if (_nCount < _slots.size())
            return;
        std::vector<T> larger(_slots.empty() ? kInitialCapacity : 2 * _slots.size());
        for (size_t pos = 0; pos < _nCount; ++pos)
            larger[pos] = std::move((*this)[pos]);
        _slots.swap(larger);
        _nHead = 0;
    }

    static constexpr size_t kInitialCapacity = 8;

    std::vector<T> _slots;
    size_t _nHead = 0;
    size_t _nCount = 0;
};

} // namespace orvex::images
