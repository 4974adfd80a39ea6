// Runs one key-store operation in a process of its own, so tests can put it in situations they
// cannot create inside their own process (no session bus, a locked keyring, no Secret Service).
// Usage: secret_probe write VALUE | secret_probe read. Prints one line: "ok", "failed: REASON",
// "value: VALUE" or "none".
#include <cstdio>
#include <cstring>

#include "platform/linux/secret/SecretServiceKeyStore.hpp"

int main(int argc, char** argv) {
    kestrune::SecretServiceKeyStore store;
    if (argc == 3 && std::strcmp(argv[1], "write") == 0) {
        const auto result = store.write(argv[2]);
        if (result) {
            std::puts("ok");
        } else {
            std::printf("failed: %s\n", result.error().c_str());
        }
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "read") == 0) {
        const auto value = store.read();
        if (value) {
            std::printf("value: %s\n", value->c_str());
        } else {
            std::puts("none");
        }
        return 0;
    }
    std::fputs("usage: secret_probe write VALUE | secret_probe read\n", stderr);
    return 2;
}
