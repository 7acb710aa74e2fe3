#include "main/front_end.hpp"

int main(int argc, char** argv) { return ferroglade::run_program(argc, argv); }
