#include "app/run_state.h"

RunState run_state;
