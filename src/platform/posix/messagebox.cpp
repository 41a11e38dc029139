#include "platform/messagebox.h"

#include <cstdlib>


namespace telwick::platform {

bool HasDisplay() {
    const char* x = std::getenv("DISPLAY");
    const char* w = std::getenv("WAYLAND_DISPLAY");
    return (x && *x) || (w && *w);
}

}  // namespace telwick::platform
