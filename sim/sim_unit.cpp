#include "sim/sim_unit.h"
