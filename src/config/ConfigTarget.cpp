#include "config/ConfigTarget.h"
