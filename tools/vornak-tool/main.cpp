// Command-line companion: runs the reader's own code for administrators and scripts.
#include <cstdio>
int main() { std::puts("usage: vornak-tool COMMAND ..."); return 2; }
