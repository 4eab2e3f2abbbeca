#include <cstdio>

#include "driver/run.hpp"

int main() { return btcfit::run_program(stdin, stdout, stderr); }
