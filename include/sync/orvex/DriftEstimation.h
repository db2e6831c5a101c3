// Clock drift and offset estimation behind the multi-camera synchronisation.
//
// Turns raw cycle-clock readings of a master and a slave camera into a
// simultaneous pair of dates, the master-minus-slave offset, a bounded history
// of offsets by master date and finally a drift and a reference offset from a
// straight-line fit of that history.
//
// Every time is a count of 1394 cycle-timer ticks (24.576 MHz). Dates and
// offsets wrap every 128 s (3,145,728,000 ticks), the period of the 7-bit
// seconds field. Offsets are 32-bit quantities and every wrap rule is computed
// modulo 2^32, whatever the width of unsigned long.
//
// Pure functions on caller-owned data: they hold no state and take no lock.
// The synchronisation controller calls them on its window thread; any thread
// may call them on data it does not share.
#pragma once

#include <orvex/Export.h>

#include <list>
#include <utility>
#include <vector>

// A camera's offsets history: (master date, offset) pairs, oldest first.
// Dates never decrease from front to back. Dates and offsets are unwrapped
// (they may exceed the wrap period) so that the sequence stays continuous
// across a wrap of either clock. Grow it only with
// pushOffsetInOffsetsByMasterDateColl.
typedef std::list<std::pair<double, unsigned long>> offsetsByMasterDate;

// The mean simultaneous master and slave dates from readings taken
// alternately, master first: m0, s0, m1, ..., s(n-1), m(n). Each slave reading
// is paired with the master interpolated between its neighbours and each
// inner master reading with the slave interpolated between its neighbours;
// the nbSamplesToReject pairs whose apparent offset is most extreme (half at
// each end, the odd one at the top) are dropped and the rest averaged. Dates
// come back below the wrap period unless the readings were not valid cycle
// times. Samples are tick counts (0..4294967295).
//
// Throws OrvexError, without writing the dates, when masterSamples does not
// hold one sample more than slaveSamples, when nbSamplesToReject would leave no
// pair to average, or when a sample is not a tick count.
ORVEX_API void computeMasterAndSlaveDates(const std::vector<double>& masterSamples,
                                          const std::vector<double>& slaveSamples,
                                          unsigned int nbSamplesToReject, double& masterDate,
                                          double& slaveDate);

// master - slave modulo the wrap period, in 0..3,145,727,999. Throws
// OrvexError when either tick count is not below the wrap period (the master
// is checked first).
ORVEX_API unsigned long computeOffset(unsigned long master, unsigned long slave);

// Appends (masterDate, offset) at the back of the history, keeping it
// continuous: a master date that went back is moved forward by whole wrap
// periods, and an offset that jumped by more than half a period is taken as
// a wrap (the history or the new offset is lifted by one period, modulo 2^32).
// Then keeps at most maxSize elements, dropping the oldest, and brings dates
// and offsets back below the wrap period once the elements from before a wrap
// have left.
//
// Throws OrvexError, leaving the history unchanged, when maxSize is 0, when
// masterDate is not a tick count (finite, 0..4294967295) or when offset does
// not fit in 32 bits.
ORVEX_API void pushOffsetInOffsetsByMasterDateColl(double masterDate, unsigned long offset,
                                                   offsetsByMasterDate& offsetsByMasterDateColl,
                                                   unsigned int maxSize);

// Fits a straight line to the history (offset against master date) and
// returns (drift, offset):
// - drift: offset change per second of master time (24,576,000 ticks),
//   rounded half away from zero, as a 24-bit two's complement number (a
//   negative fitted drift comes back as its rounded value + 2^24, so one
//   between -0.5 and 0 comes back as 2^24, whose low 24 bits are 0);
// - offset: the fitted master-minus-slave offset, in 0..3,145,727,999, at the
//   master date ticksIntoSlaveSecond ticks before the newest element, that is
//   at the slave clock's last whole second when ticksIntoSlaveSecond is the
//   slave date's distance into its second.
// Offsets held in the history are read modulo 2^32.
//
// Traced as "computeDriftAndOffset(...)". Throws OrvexError when the history
// holds fewer than 2 elements, when the fit gives no finite drift and offset
// (a history at a single date, a non-finite ticksIntoSlaveSecond), or when the
// drift does not fit in 24 bits.
ORVEX_API std::pair<unsigned long, unsigned long>
computeDriftAndOffset(const offsetsByMasterDate& offsetsByMasterDateColl, double ticksIntoSlaveSecond);
