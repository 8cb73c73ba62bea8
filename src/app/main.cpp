// The composer is not built yet: until it is, say so and point at the command-line tool.
#include <cstdio>

int main() {
    std::fputs("The composer window is not built yet. Use voxletter-cli (voxletter-cli --help).\n", stderr);
    return 1;
}
