#include "main/startup.h"

int main() { return nerova::run_program(); }
