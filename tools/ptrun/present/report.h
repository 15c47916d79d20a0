// Kept while the report command still includes this name: the formats are
// declared in formats.h.
#pragma once

#include "present/formats.h"
