#include "services/docserver/LinkTarget.h"
