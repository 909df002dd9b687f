#include "engine/run_driver.h"
#include "runtime/startup.h"

int main(int argc, char** argv) { velk::RuntimeStartup(argc, argv, velk::RunDriver); }
