// Moved to the POSIX side of the platform; this name stays until its callers follow.
#pragma once
#include "platform/posix/hive.h"
