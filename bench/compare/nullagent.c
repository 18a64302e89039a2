/* A do-nothing agent: the floor of an agent's cost on its transport. It answers every request
 * with the request itself (the load generator's -E takes that as the reply) and does no SNMP
 * work, so what it costs per request is what the transport costs: wake-up, read, write.
 *
 *   nullagent udp HOST:PORT    a UDP agent; port 0 picks one. Prints "port: N" once bound.
 *   nullagent line DEVICE      on a serial line or pseudo-terminal: every SLIP frame that comes
 *                              in (END ... END) is written back as it came. Prints "ready".
 *
 * Like a real agent it waits in poll() with a timeout, so that it could notice a stop request;
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

enum { SLIP_END = 0xc0 };

static volatile sig_atomic_t stopping;

static void on_signal(int sig) {
    (void)sig;
    stopping = 1;
}

static int serve_udp(const char* address) {
    char host[64];
    const char* colon = strrchr(address, ':');
    if (!colon || (size_t)(colon - address) >= sizeof host) {
        fprintf(stderr, "nullagent: HOST:PORT\n");
        return 2;
    }
    memcpy(host, address, (size_t)(colon - address));
    host[colon - address] = '\0';
    struct sockaddr_in at = {.sin_family = AF_INET, .sin_port = htons((uint16_t)atoi(colon + 1))};
    if (inet_pton(AF_INET, host, &at.sin_addr) != 1) {
        fprintf(stderr, "nullagent: not an IPv4 address: %s\n", host);
        return 2;
    }
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    socklen_t len = sizeof at;
    if (fd < 0 || bind(fd, (struct sockaddr*)&at, sizeof at) != 0 ||
        getsockname(fd, (struct sockaddr*)&at, &len) != 0) {
        perror("nullagent: bind");
        return 1;
    }
    printf("port: %u\n", ntohs(at.sin_port));
    fflush(stdout);
    uint8_t buf[2048];
    while (!stopping) {
        struct pollfd pfd = {.fd = fd, .events = POLLIN};
        if (poll(&pfd, 1, 1000) <= 0) {
            continue;
        }
        struct sockaddr_in from;
        socklen_t from_len = sizeof from;
        ssize_t n = recvfrom(fd, buf, sizeof buf, 0, (struct sockaddr*)&from, &from_len);
        if (n > 0) {
            sendto(fd, buf, (size_t)n, 0, (struct sockaddr*)&from, from_len);
        }
    }
    return 0;
}

static int serve_line(const char* device) {
    int fd = open(device, O_RDWR | O_NOCTTY);
    if (fd < 0) {
        perror("nullagent: open");
        return 1;
    }
    struct termios tio;
    if (tcgetattr(fd, &tio) == 0) {
        cfmakeraw(&tio);
        tio.c_cflag |= CLOCAL | CREAD;
        tcsetattr(fd, TCSANOW, &tio);
    }
    printf("ready\n");
    fflush(stdout);
    /* Bytes of the frame still coming are kept; complete frames go back in one write. */
    uint8_t buf[8192];
    size_t have = 0;
    while (!stopping) {
        struct pollfd pfd = {.fd = fd, .events = POLLIN};
        if (poll(&pfd, 1, 1000) <= 0) {
            continue;
        }
        if (have == sizeof buf) {
            have = 0; /* a frame longer than any datagram: dropped */
        }
        ssize_t n = read(fd, buf + have, sizeof buf - have);
        if (n <= 0) {
            if (n < 0 && errno != EINTR && errno != EAGAIN && errno != EIO) {
                perror("nullagent: read");
                return 1;
            }
            continue;
        }
        have += (size_t)n;
        size_t last_end = 0;
        int complete = 0;
        for (size_t i = have; i > 0; i--) {
            /* A frame is complete at an END that follows at least one byte of it. */
            if (buf[i - 1] == SLIP_END && i >= 2 && buf[i - 2] != SLIP_END) {
                last_end = i;
                complete = 1;
                break;
            }
        }
        if (!complete) {
            continue;
        }
        if (write(fd, buf, last_end) < 0 && errno != EINTR) {
            perror("nullagent: write");
            return 1;
        }
        memmove(buf, buf + last_end, have - last_end);
        have -= last_end;
    }
    return 0;
}

int main(int argc, char** argv) {
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigaction(SIGTERM, &sa, NULL);
    sigaction(SIGINT, &sa, NULL);
    if (argc == 3 && strcmp(argv[1], "udp") == 0) {
        return serve_udp(argv[2]);
    }
    if (argc == 3 && strcmp(argv[1], "line") == 0) {
        return serve_line(argv[2]);
    }
    fprintf(stderr, "usage: nullagent udp HOST:PORT | nullagent line DEVICE\n");
    return 2;
}
