// A model header that includes the shell: the include check must report it.
#pragma once

#include "shell/program.h"
