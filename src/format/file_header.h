// The database file's header (the first page). The signature offset is named once,
// with the other header fields, in database_header.h.
#pragma once

#include "format/database_header.h"
