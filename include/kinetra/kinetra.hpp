#pragma once

#include "kinetra/catalogue.hpp"
#include "kinetra/core.hpp"
#include "kinetra/recording.hpp"
#include "kinetra/user_patterns.hpp"
