#include "transfer/transfer_core.h"
