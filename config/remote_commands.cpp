#include "config/remote_commands.h"
