#include "main/json_reader.hpp"
