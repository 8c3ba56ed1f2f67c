// The runtime layer the three programs are written against.
#pragma once

#include "app.hpp"
#include "errors.hpp"
#include "files.hpp"
#include "loop.hpp"
#include "table.hpp"
#include "value.hpp"
