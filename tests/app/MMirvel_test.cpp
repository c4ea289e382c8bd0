#include "app/MMirvel.h"
