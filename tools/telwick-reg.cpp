// telwick-reg: the command-line face of the hive.
#include <iostream>
#include <string>
#include <vector>

#include "reg.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    return telwick::reg::Run(args, std::cout, std::cerr);
}
