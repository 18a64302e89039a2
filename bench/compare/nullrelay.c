/* A do-nothing relay: the floor of the station bridge's cost. It listens for datagrams on UDP,
 * puts each one behind a fixed 28-byte IPv4+UDP header (no checksums, no bookkeeping), frames it
 * with SLIP onto the master side of a pseudo-terminal, and sends the payload of every frame that
 * comes back from the line to the last sender. Its partner on the line is "nullagent line" (the
 * floor of the agent) or any agent that answers in the same framing.
 *
 *   nullrelay HOST:PORT     prints "port: N" (port 0 picks one) and "agent-line: /dev/pts/N"
 *
 * SIGTERM and SIGINT end it. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

enum { END = 0xc0, ESC = 0xdb, ESC_END = 0xdc, ESC_ESC = 0xdd, HEADER = 28, MAX_FRAME = 2048 };

static volatile sig_atomic_t stopping;

static void on_signal(int sig) {
    (void)sig;
    stopping = 1;
}

/* Version 4, header of 20 bytes, protocol UDP, 192.0.2.1:40000 -> 192.0.2.2:161; the length
 * fields are left as they are, which a do-nothing partner never looks at. */
static const uint8_t header[HEADER] = {0x45, 0,    0,    0,   0, 1,    0,    0,    64, 17,
                                       0,    0,    192,  0,   2, 1,    192,  0,    2,  2,
                                       0x9c, 0x40, 0x00, 161, 0, 0,    0,    0};

static size_t escape(uint8_t* out, const uint8_t* in, size_t len) {
    size_t n = 0;
    for (size_t i = 0; i < len; i++) {
        if (in[i] == END) {
            out[n++] = ESC;
            out[n++] = ESC_END;
        } else if (in[i] == ESC) {
            out[n++] = ESC;
            out[n++] = ESC_ESC;
        } else {
            out[n++] = in[i];
        }
    }
    return n;
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: nullrelay HOST:PORT\n");
        return 2;
    }
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, NULL);
    sigaction(SIGINT, &sa, NULL);

    char host[64];
    const char* colon = strrchr(argv[1], ':');
    if (!colon || (size_t)(colon - argv[1]) >= sizeof host) {
        fprintf(stderr, "nullrelay: HOST:PORT\n");
        return 2;
    }
    memcpy(host, argv[1], (size_t)(colon - argv[1]));
    host[colon - argv[1]] = '\0';
    struct sockaddr_in at = {.sin_family = AF_INET, .sin_port = htons((uint16_t)atoi(colon + 1))};
    if (inet_pton(AF_INET, host, &at.sin_addr) != 1) {
        fprintf(stderr, "nullrelay: not an IPv4 address: %s\n", host);
        return 2;
    }
    int udp = socket(AF_INET, SOCK_DGRAM, 0);
    socklen_t len = sizeof at;
    if (udp < 0 || bind(udp, (struct sockaddr*)&at, sizeof at) != 0 ||
        getsockname(udp, (struct sockaddr*)&at, &len) != 0) {
        perror("nullrelay: bind");
        return 1;
    }
    int line = posix_openpt(O_RDWR | O_NOCTTY);
    if (line < 0 || grantpt(line) != 0 || unlockpt(line) != 0) {
        perror("nullrelay: pseudo-terminal");
        return 1;
    }
    struct termios tio;
    if (tcgetattr(line, &tio) == 0) {
        cfmakeraw(&tio);
        tcsetattr(line, TCSANOW, &tio);
    }
    printf("port: %u\nagent-line: %s\n", ntohs(at.sin_port), ptsname(line));
    fflush(stdout);

    struct sockaddr_in manager;
    socklen_t manager_len = 0;
    uint8_t datagram[MAX_FRAME];
    uint8_t wire[2 * MAX_FRAME + 2];
    uint8_t in[8192];
    uint8_t frame[MAX_FRAME];
    size_t frame_len = 0;
    int escaped = 0, overlong = 0;
    memcpy(datagram, header, HEADER);
    while (!stopping) {
        struct pollfd pfd[2] = {{.fd = udp, .events = POLLIN}, {.fd = line, .events = POLLIN}};
        if (poll(pfd, 2, 1000) <= 0) {
            continue;
        }
        if (pfd[0].revents & POLLIN) {
            manager_len = sizeof manager;
            ssize_t n = recvfrom(udp, datagram + HEADER, sizeof datagram - HEADER, 0,
                                 (struct sockaddr*)&manager, &manager_len);
            if (n > 0) {
                size_t w = 0;
                wire[w++] = END;
                w += escape(wire + w, datagram, HEADER + (size_t)n);
                wire[w++] = END;
                if (write(line, wire, w) < 0 && errno != EINTR) {
                    perror("nullrelay: write");
                    return 1;
                }
            }
        }
        if (pfd[1].revents & POLLIN) {
            ssize_t n = read(line, in, sizeof in);
            for (ssize_t i = 0; i < n; i++) {
                uint8_t b = in[i];
                if (b == END) {
                    if (!overlong && frame_len > HEADER && manager_len > 0) {
                        sendto(udp, frame + HEADER, frame_len - HEADER, 0,
                               (struct sockaddr*)&manager, manager_len);
                    }
                    frame_len = 0;
                    escaped = overlong = 0;
                    continue;
                }
                if (escaped) {
                    b = b == ESC_END ? END : b == ESC_ESC ? ESC : b;
                    escaped = 0;
                } else if (b == ESC) {
                    escaped = 1;
                    continue;
                }
                if (frame_len == sizeof frame) {
                    overlong = 1;
                } else {
                    frame[frame_len++] = b;
                }
            }
        }
    }
    return 0;
}
