#include "stats/deck_analysis.hpp"
