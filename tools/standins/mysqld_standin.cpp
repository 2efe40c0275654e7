// Placeholder database server: acknowledges --install.
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc >= 2 && strcmp(argv[1], "--install") == 0)
        puts("Service successfully installed.");
    return 0;
}
