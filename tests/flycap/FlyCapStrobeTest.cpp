#include "SimulatedBuses.h"
