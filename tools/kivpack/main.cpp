// kivpack: builds and takes apart setup packages and their program streams.
#include <iostream>

#include "commands.h"

int main(int argc, char** argv)
{
    return RunKivpack(std::vector<std::string>(argv + 1, argv + argc), std::cout, std::cerr);
}
