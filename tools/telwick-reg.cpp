// telwick-reg: the command-line face of the hive.
#include <iostream>
#include <string>
#include <vector>

#include "reg/reg.h"
#include "platform/posix/hive.h"
#include "platform/posix/hivesecurity.h"

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    // The service refuses a hive that other users can change when it runs as
    // root; say so here too, so the administrator hears it before a start fails.
    if (std::string why; !telwick::HiveIsSafe(telwick::hive::HivePath(), why))
        std::cerr << "WARNING: " << why << std::endl;
    return telwick::reg::Run(args, std::cout, std::cerr);
}
