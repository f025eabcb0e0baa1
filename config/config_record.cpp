#include "config/config_record.h"
