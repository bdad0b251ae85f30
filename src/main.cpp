#include <iostream>

#include "run/run.hpp"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    return static_cast<int>(krel::run(argc, argv, std::cout, std::cerr, std::cin));
}
