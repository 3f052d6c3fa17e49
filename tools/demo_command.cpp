#include "commands.h"
namespace tool { int runDemo(const Args &) { return 1; } }
