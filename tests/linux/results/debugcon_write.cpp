// The test machine's results channel (test rig only): copies standard input to qemu's debug
// console, the I/O port 0xE9 (qemu -debugcon), which the host writes to a file. One port write per
// byte and no serial line under it: far faster in the emulated machine than the serial console,
// and binary as it is. Runs as root in the test machine (the port needs ioperm).
//
// Exit status: 0 when everything was copied, 1 when the port cannot be had or input fails.
#include <sys/io.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// qemu's isa-debugcon listens here unless told otherwise.
constexpr unsigned short kDebugConsolePort = 0xE9;
constexpr std::size_t kChunk = 64 * 1024;

}  // namespace

int main()
{
    if (ioperm(kDebugConsolePort, 1, 1) != 0) {
        std::fprintf(stderr, "debugcon_write: no access to port 0x%X: %s\n", kDebugConsolePort, std::strerror(errno));
        return 1;
    }
    static unsigned char buffer[kChunk];
    for (;;) {
        const ssize_t got = read(STDIN_FILENO, buffer, sizeof buffer);
        if (got == 0) return 0;
        if (got < 0) {
            if (errno == EINTR) continue;
            std::fprintf(stderr, "debugcon_write: read: %s\n", std::strerror(errno));
            return 1;
        }
        outsb(kDebugConsolePort, buffer, static_cast<unsigned long>(got));
    }
}
