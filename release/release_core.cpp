#include "release/release_core.h"
