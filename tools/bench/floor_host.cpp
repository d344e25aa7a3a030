// qarn-bench-floor PORT BITRATE KERNEL: the plainest possible host of a kernel transfer, the
// floor the benchmark holds the tool against. Blocking read and write on the port and nothing
// else: 00 answered by 00, 55 answered by AA, then the kernel's 16-bit length and the kernel,
// each byte sent once the echo of the one before has come back. Exit 0 when every echo matched.

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

int main(int argc, char *argv[]) {
    if (argc != 4) {
        std::fputs("usage: qarn-bench-floor PORT BITRATE KERNEL\n", stderr);
        return 2;
    }
    const int port = ::open(argv[1], O_RDWR | O_NOCTTY);
    std::FILE *file = std::fopen(argv[3], "rb");
    if (port < 0 || !file) {
        std::perror("qarn-bench-floor");
        return 1;
    }
    std::vector<unsigned char> bytes(2);
    for (int c; (c = std::fgetc(file)) != EOF;)
        bytes.push_back(static_cast<unsigned char>(c));
    std::fclose(file);
    const size_t length = bytes.size() - 2;
    bytes[0] = static_cast<unsigned char>(length >> 8);
    bytes[1] = static_cast<unsigned char>(length & 0xFF);

    termios modes{};
    ::tcgetattr(port, &modes);
    ::cfmakeraw(&modes);
    ::cfsetspeed(&modes, std::atoi(argv[2]) == 38400 ? B38400 : B115200);
    modes.c_cc[VMIN] = 1; // a read blocks until a byte is there
    modes.c_cc[VTIME] = 0;
    ::tcsetattr(port, TCSANOW, &modes);
    ::tcflush(port, TCIOFLUSH);

    const auto exchange = [port](unsigned char out, unsigned char expected) {
        unsigned char in = 0;
        return ::write(port, &out, 1) == 1 && ::read(port, &in, 1) == 1 && in == expected;
    };
    if (!exchange(0x00, 0x00) || !exchange(0x55, 0xAA)) {
        std::fputs("qarn-bench-floor: no answer to the bit-rate adjustment\n", stderr);
        return 1;
    }
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (!exchange(bytes[i], bytes[i])) {
            std::fprintf(stderr, "qarn-bench-floor: echo %zu missing or wrong\n", i);
            return 1;
        }
    }
    ::close(port);
    return 0;
}
