// A batch program for the fault tests. Each run appends one line to
// $TELWICK_PROBE_OUT: its process number, the number of its arguments and each
// argument in hex, written with one write() so that runs side by side do not
// mix. $TELWICK_PROBE_MODE makes it misbehave afterwards: "hang" (sleeps for a
// minute; its number goes to $TELWICK_PROBE_OUT.pids), "flood" (writes 8 MiB
// to standard output and standard error).
#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

void Append(const char* path, const std::string& text) {
    if (!path) return;
    int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) return;
    ssize_t n = write(fd, text.data(), text.size());
    (void)n;
    close(fd);
}

}  // namespace

int main(int argc, char** argv) {
    static const char* digits = "0123456789abcdef";
    std::string line = std::to_string(getpid()) + " " + std::to_string(argc - 1);
    for (int i = 1; i < argc; ++i) {
        line += ' ';
        size_t n = std::strlen(argv[i]);
        if (n == 0) line += '-';
        for (size_t j = 0; j < n; ++j) {
            unsigned char c = static_cast<unsigned char>(argv[i][j]);
            line += digits[c >> 4];
            line += digits[c & 15];
        }
    }
    line += '\n';
    const char* out = std::getenv("TELWICK_PROBE_OUT");
    Append(out, line);

    const char* mode = std::getenv("TELWICK_PROBE_MODE");
    if (mode && std::strcmp(mode, "hang") == 0) {
        if (out) Append((std::string(out) + ".pids").c_str(), std::to_string(getpid()) + "\n");
        sleep(60);
    } else if (mode && std::strcmp(mode, "flood") == 0) {
        std::vector<char> block(1 << 16, 'x');
        for (int i = 0; i < 128; ++i) {
            if (write(1, block.data(), block.size()) < 0) break;
            if (write(2, block.data(), block.size()) < 0) break;
        }
    }
    return 0;
}
