// app/main.cpp - the brindlework executable's entry point.
#include "app/startup.h"

int main(int argc, char** argv) { return bw::runBrindlework(argc, argv); }
