#include <cstdio>

int main() {
    std::puts("Tomebox: the build window is not there yet.");
    return 0;
}
