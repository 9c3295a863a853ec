#include <windows.h>

#include "main/startup.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) { return nerova::run_program(); }
