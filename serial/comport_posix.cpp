#include "serial/comport.h"
