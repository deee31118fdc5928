// A shell header that includes the model: allowed.
#pragma once

#include "model/upward.h"
