#include "update/version_token.h"
