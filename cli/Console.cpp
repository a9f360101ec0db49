#include "Console.h"

#include <iostream>
#include <unistd.h>

namespace pelwick {

Console Console::standard() {
    return Console{std::cin, std::cout, std::cerr, ::isatty(STDIN_FILENO) == 1,
                   ::isatty(STDERR_FILENO) == 1};
}

} // namespace pelwick
