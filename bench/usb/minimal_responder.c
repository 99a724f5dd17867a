/* minimal_responder: the gadget's side of bench_usb's region transfer, as
 * little as the transfer needs and nothing else, so that the host's cost is
 * what the bench sees (the virtual phone's own work hides it under an
 * emulated processor).
 *
 * It answers the region announcement (0xDD: the count byte and four 4-byte
 * little-endian fields, then the acknowledgement), the download command
 * (0xDE: acknowledged; the 4-byte block size, acknowledged), then takes each
 * block with its 2-byte sum and answers it accepted (0x69), and after the
 * last block acknowledges once more. Sums are not checked. Any other byte
 * (the closing byte among them) is ignored.
 *
 *   minimal_responder TTY|-
 *
 * "-" serves the line on standard input (a pseudo-terminal's master, say).
 * Writes "ready\n" to standard output once the line is open and raw, then
 * serves until the line ends or a signal stops it. */
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

enum {
    kSetRegions = 0xDD,
    kDownloadRegions = 0xDE,
    kAck = 0x5A,
    kBlockAccepted = 0x69,
    kMaxBlock = 1 << 20,
};

static int Read_Exactly(int fd, uint8_t* bytes, size_t count) {
    size_t got = 0;
    while (got < count) {
        const ssize_t part = read(fd, bytes + got, count - got);
        if (part < 0 && errno == EINTR)
            continue;
        if (part <= 0)
            return 0;
        got += (size_t)part;
    }
    return 1;
}

static int Answer(int fd, uint8_t byte) {
    return write(fd, &byte, 1) == 1;
}

static uint32_t Little_Endian_32(const uint8_t* bytes) {
    return (uint32_t)bytes[0] | (uint32_t)bytes[1] << 8 | (uint32_t)bytes[2] << 16 |
           (uint32_t)bytes[3] << 24;
}

/* A region's bytes from its announced first and last address. */
static uint32_t Region_Length(const uint8_t* start, const uint8_t* end) {
    const uint32_t first = Little_Endian_32(start);
    const uint32_t last = Little_Endian_32(end);
    return last >= first ? last - first + 1 : 0;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: minimal_responder TTY|-\n");
        return 2;
    }
    const int fd =
        strcmp(argv[1], "-") == 0 ? STDIN_FILENO : open(argv[1], O_RDWR | O_NOCTTY | O_CLOEXEC);
    struct termios line;
    if (fd < 0 || tcgetattr(fd, &line) != 0) {
        perror(argv[1]);
        return 1;
    }
    cfmakeraw(&line);
    line.c_cc[VMIN] = 1;
    line.c_cc[VTIME] = 0;
    if (tcsetattr(fd, TCSANOW, &line) != 0) {
        perror(argv[1]);
        return 1;
    }
    printf("ready\n");
    fflush(stdout);

    /* Set by the announcement, used by the download that follows it. */
    uint32_t lengths[2] = {0, 0};
    uint8_t* block = malloc(kMaxBlock + 2);
    if (block == NULL)
        return 1;
    uint8_t command = 0;
    while (Read_Exactly(fd, &command, 1)) {
        if (command == kSetRegions) {
            uint8_t fields[1 + 16];
            if (!Read_Exactly(fd, fields, sizeof fields))
                break;
            lengths[0] = Region_Length(fields + 1, fields + 5);
            lengths[1] = Region_Length(fields + 9, fields + 13);
            if (!Answer(fd, kAck))
                break;
        } else if (command == kDownloadRegions) {
            uint8_t size[4];
            if (!Answer(fd, kAck) || !Read_Exactly(fd, size, sizeof size))
                break;
            const uint32_t block_size = Little_Endian_32(size);
            if (block_size == 0 || block_size > kMaxBlock || !Answer(fd, kAck))
                break;
            int ok = 1;
            for (int region = 0; ok && region < 2; ++region) {
                for (uint32_t done = 0; ok && done < lengths[region];) {
                    const uint32_t left = lengths[region] - done;
                    const uint32_t length = left < block_size ? left : block_size;
                    ok = Read_Exactly(fd, block, length + 2) && Answer(fd, kBlockAccepted);
                    done += length;
                }
            }
            if (!ok || !Answer(fd, kAck))
                break;
        }
    }
    free(block);
    close(fd);
    return 0;
}
