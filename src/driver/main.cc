// Process entry: the whole run lives in RunPostrunner.
#include "driver/main_flow.h"

int main(int argc, char** argv) { return postrunner::RunPostrunner(argc, argv); }
