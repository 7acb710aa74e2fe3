#include "main/number_text.hpp"
