// A runtime file that reaches up into the windows: the layer check must refuse it.
#include "runtime/owners.h"
#include "ui/resource.h"
