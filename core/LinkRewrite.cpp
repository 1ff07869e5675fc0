#include "core/LinkRewrite.h"
