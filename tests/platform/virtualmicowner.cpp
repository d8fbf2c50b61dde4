// SPDX-License-Identifier: GPL-3.0-or-later
// Another instance for the virtual microphone's tests: offers its own
// "Glimmerbox Voice", prints "SINK SOURCE" on a line, and keeps them until
// its standard input closes; then it ends normally (or the test kills it).
#include "platform/virtualmic.h"

#include <unistd.h>

#include <cstdio>
#include <string>

int main()
{
    std::string error;
    if (!platform::TVirtualMicrophone::Offer(error)) {
        std::fprintf(stderr, "glimmer_virtualmic_owner: %s\n", error.c_str());
        return 1;
    }
    std::printf("%s %s\n", platform::TVirtualMicrophone::SinkName().c_str(),
                platform::TVirtualMicrophone::SourceName().c_str());
    std::fflush(stdout);
    char byte;
    while (read(STDIN_FILENO, &byte, 1) > 0) {
    }
    return 0;
}
