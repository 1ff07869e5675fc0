#include "core/LinkRetargeting.h"
