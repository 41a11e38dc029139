#include "reg.h"

#include <iostream>
#include <unistd.h>

namespace telwick::reg {

int Run(const std::vector<std::string>& args, std::istream& in, std::ostream& out, std::ostream& err,
        bool interactive) {
    (void)args; (void)in; (void)out; (void)interactive;
    err << "ERROR: not yet\n";
    return 1;
}

int Run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    return Run(args, std::cin, out, err, isatty(0) == 1);
}

}  // namespace telwick::reg
