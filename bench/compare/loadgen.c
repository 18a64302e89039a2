/* Load generator for the agent comparison: sends SNMPv1 requests over UDP to one agent and
 * measures the round trips.
 *
 *   loadgen -a HOST:PORT -w WORKLOAD -o OID[,OID...] [options]
 *
 * Workloads:
 *   get         GetRequest of the first OID
 *   walk        GetNextRequest walk of the table under the first OID; the next request names the
 *               OID of the last reply, and a reply outside the table (or noSuchName) starts over
 *   getN        GetRequest with -b bindings (default 25), the OIDs of -o repeated in turn
 *   set-same    SetRequest of the first OID to the value it holds (read once at the start)
 *   set-change  SetRequest of the first OID alternating between two values; the value read at
 *               the start is set back at the end (unless the last request already did)
 *   idle        no requests at all for -s seconds (with -C: what the servers use meanwhile)
 *
 * Options:
 *   -c COMMUNITY  (default kestrl)      -j N   requests in flight (default 1)
 *   -n N          stop after N requests -s S   stop after S seconds (default 5 unless -n)
 *   -t MS         a request unanswered after MS milliseconds is lost (default 1000)
 *   -b N          bindings of getN      -E     the server echoes the request (a floor)
 *   -q            no result line (for warm-up runs)
 *   -p MS         lone requests (only with -j 1): wait MS milliseconds after each reply (or loss)
 *                 before the next request, and as long after the last one before the end, so
 *                 that work a server does after answering falls between requests
 *   -C PID[,PID]  also report the processor time (user and system, all threads) these processes
 *                 used from just before the first request to the end of the run (after the last
 *                 pause), in nanoseconds: cpu_ns=N[,N]; the read of the value to set and its
 *                 restoring at the end lie outside
 *
 * The result is one line of key=value pairs on standard output. A request is answered when a
 * GetResponse with its request-id comes back; one with a non-zero error-status is an error
 * (except noSuchName ending a walk); one that times out is lost. Replies that match no request
 * still in flight (late ones) are counted as stray. */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

enum { MAX_MSG = 1500, MAX_OID = 128, MAX_BINDINGS = 64, MAX_INFLIGHT = 64 };

enum { MAX_WATCHED = 8 };

enum workload { W_GET, W_WALK, W_GETN, W_SET_SAME, W_SET_CHANGE, W_IDLE };

struct oid {
    uint8_t bytes[MAX_OID]; /* BER contents of the OBJECT IDENTIFIER */
    size_t len;
};

struct slot {
    int busy;
    int32_t request_id;
    uint8_t pdu_tag;
    uint64_t sent_ns;
    uint64_t ready_ns; /* no request before this time (-p) */
    struct oid walk_at; /* the walker's position (walk only) */
};

static struct {
    enum workload workload;
    const char* community;
    struct oid oids[MAX_BINDINGS];
    size_t n_oids;
    size_t bindings;
    int echo;
    uint8_t value[256];
    size_t value_len;
    uint8_t other_value[256];
    size_t other_value_len;
} cfg;

static uint64_t now_ns(void) {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
}

static void die(const char* what) {
    fprintf(stderr, "loadgen: %s\n", what);
    exit(2);
}

static void sleep_until(uint64_t at_ns) {
    struct timespec ts = {.tv_sec = (time_t)(at_ns / 1000000000u),
                          .tv_nsec = (long)(at_ns % 1000000000u)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, NULL) == EINTR) {
    }
}

/* The processor time of the watched processes (-C), each in nanoseconds. */
static struct {
    clockid_t clocks[MAX_WATCHED];
    size_t n;
} watched;

static void read_watched(uint64_t* out) {
    for (size_t i = 0; i < watched.n; i++) {
        struct timespec ts;
        if (clock_gettime(watched.clocks[i], &ts) != 0) {
            die("-C: a watched process has ended");
        }
        out[i] = (uint64_t)ts.tv_sec * 1000000000u + (uint64_t)ts.tv_nsec;
    }
}

/* ---- BER ---------------------------------------------------------------------------------- */

static size_t put_len(uint8_t* out, size_t len) {
    if (len < 0x80) {
        out[0] = (uint8_t)len;
        return 1;
    }
    if (len < 0x100) {
        out[0] = 0x81;
        out[1] = (uint8_t)len;
        return 2;
    }
    out[0] = 0x82;
    out[1] = (uint8_t)(len >> 8);
    out[2] = (uint8_t)len;
    return 3;
}

/* Writes tag, length and contents at out; returns the bytes written. */
static size_t put_tlv(uint8_t* out, uint8_t tag, const uint8_t* contents, size_t len) {
    size_t n = 0;
    out[n++] = tag;
    n += put_len(out + n, len);
    memmove(out + n, contents, len);
    return n + len;
}

static size_t put_int(uint8_t* out, int32_t value) {
    uint8_t be[4];
    uint32_t u = (uint32_t)value;
    for (int i = 3; i >= 0; i--) {
        be[i] = (uint8_t)u;
        u >>= 8;
    }
    /* Minimal two's complement: drop leading bytes that only repeat the sign. */
    size_t skip = 0;
    while (skip < 3 && ((be[skip] == 0 && !(be[skip + 1] & 0x80)) ||
                        (be[skip] == 0xff && (be[skip + 1] & 0x80)))) {
        skip++;
    }
    return put_tlv(out, 0x02, be + skip, 4 - skip);
}

static int parse_oid(const char* text, struct oid* oid) {
    unsigned long arcs[MAX_OID];
    size_t n = 0;
    const char* p = text;
    if (*p == '.') {
        p++;
    }
    while (*p) {
        char* end;
        errno = 0;
        unsigned long v = strtoul(p, &end, 10);
        if (end == p || errno || v > 0xffffffffUL || n == MAX_OID) {
            return -1;
        }
        arcs[n++] = v;
        p = end;
        if (*p == '.') {
            p++;
        } else if (*p) {
            return -1;
        }
    }
    if (n < 2 || arcs[0] > 2 || arcs[1] >= 40) {
        return -1;
    }
    oid->len = 0;
    oid->bytes[oid->len++] = (uint8_t)(arcs[0] * 40 + arcs[1]);
    for (size_t i = 2; i < n; i++) {
        uint8_t tmp[5];
        size_t k = 0;
        unsigned long v = arcs[i];
        do {
            tmp[k++] = (uint8_t)(v & 0x7f);
            v >>= 7;
        } while (v);
        if (oid->len + k > MAX_OID) {
            return -1;
        }
        while (k > 1) {
            oid->bytes[oid->len++] = (uint8_t)(tmp[--k] | 0x80);
        }
        oid->bytes[oid->len++] = tmp[0];
    }
    return 0;
}

/* One TLV of [*p, end): its tag, contents and length; advances *p past it. */
static int get_tlv(const uint8_t** p, const uint8_t* end, uint8_t* tag, const uint8_t** val,
                   size_t* len) {
    const uint8_t* q = *p;
    if (end - q < 2) {
        return -1;
    }
    *tag = *q++;
    size_t l = *q++;
    if (l & 0x80) {
        size_t bytes = l & 0x7f;
        if (bytes == 0 || bytes > 2 || (size_t)(end - q) < bytes) {
            return -1;
        }
        l = 0;
        while (bytes--) {
            l = (l << 8) | *q++;
        }
    }
    if ((size_t)(end - q) < l) {
        return -1;
    }
    *val = q;
    *len = l;
    *p = q + l;
    return 0;
}

static int get_int(const uint8_t** p, const uint8_t* end, int32_t* out) {
    uint8_t tag;
    const uint8_t* v;
    size_t len;
    if (get_tlv(p, end, &tag, &v, &len) || tag != 0x02 || len == 0 || len > 4) {
        return -1;
    }
    int32_t x = (v[0] & 0x80) ? -1 : 0;
    for (size_t i = 0; i < len; i++) {
        x = (int32_t)(((uint32_t)x << 8) | v[i]);
    }
    *out = x;
    return 0;
}

/* ---- requests ----------------------------------------------------------------------------- */

static size_t varbind(uint8_t* out, const struct oid* oid, const uint8_t* value, size_t value_len,
                      int octets) {
    uint8_t inner[MAX_OID + 300];
    size_t n = put_tlv(inner, 0x06, oid->bytes, oid->len);
    if (octets) {
        n += put_tlv(inner + n, 0x04, value, value_len);
    } else {
        inner[n++] = 0x05; /* NULL */
        inner[n++] = 0x00;
    }
    return put_tlv(out, 0x30, inner, n);
}

static size_t build_request(uint8_t* out, struct slot* s, int32_t request_id, uint64_t seq) {
    uint8_t list[MAX_MSG];
    size_t n = 0;
    uint8_t tag = 0xa0;
    switch (cfg.workload) {
    case W_GET:
        n = varbind(list, &cfg.oids[0], NULL, 0, 0);
        break;
    case W_WALK:
        tag = 0xa1;
        n = varbind(list, &s->walk_at, NULL, 0, 0);
        break;
    case W_GETN:
        for (size_t i = 0; i < cfg.bindings; i++) {
            n += varbind(list + n, &cfg.oids[i % cfg.n_oids], NULL, 0, 0);
        }
        break;
    case W_SET_SAME:
        tag = 0xa3;
        n = varbind(list, &cfg.oids[0], cfg.value, cfg.value_len, 1);
        break;
    case W_SET_CHANGE:
        tag = 0xa3;
        n = (seq & 1) ? varbind(list, &cfg.oids[0], cfg.value, cfg.value_len, 1)
                      : varbind(list, &cfg.oids[0], cfg.other_value, cfg.other_value_len, 1);
        break;
    case W_IDLE:
        break;
    }
    uint8_t pdu[MAX_MSG];
    size_t p = put_int(pdu, request_id);
    p += put_int(pdu + p, 0);
    p += put_int(pdu + p, 0);
    p += put_tlv(pdu + p, 0x30, list, n);

    uint8_t msg[MAX_MSG];
    size_t m = put_int(msg, 0); /* version-1 */
    m += put_tlv(msg + m, 0x04, (const uint8_t*)cfg.community, strlen(cfg.community));
    m += put_tlv(msg + m, tag, pdu, p);
    s->pdu_tag = tag;
    return put_tlv(out, 0x30, msg, m);
}

struct reply {
    uint8_t tag;
    int32_t request_id;
    int32_t error_status;
    const uint8_t* oid; /* the first binding's name and value */
    size_t oid_len;
    uint8_t value_tag;
    const uint8_t* value;
    size_t value_len;
};

static int parse_reply(const uint8_t* buf, size_t len, struct reply* r) {
    const uint8_t* p = buf;
    const uint8_t* end = buf + len;
    uint8_t tag;
    const uint8_t* v;
    size_t l;
    int32_t version, error_index;
    if (get_tlv(&p, end, &tag, &v, &l) || tag != 0x30) {
        return -1;
    }
    p = v;
    end = v + l;
    if (get_int(&p, end, &version) || version != 0) {
        return -1;
    }
    if (get_tlv(&p, end, &tag, &v, &l) || tag != 0x04) {
        return -1;
    }
    if (get_tlv(&p, end, &r->tag, &v, &l)) {
        return -1;
    }
    p = v;
    end = v + l;
    if (get_int(&p, end, &r->request_id) || get_int(&p, end, &r->error_status) ||
        get_int(&p, end, &error_index)) {
        return -1;
    }
    if (get_tlv(&p, end, &tag, &v, &l) || tag != 0x30) {
        return -1;
    }
    r->oid = NULL;
    r->oid_len = 0;
    if (l > 0) {
        const uint8_t* q = v;
        const uint8_t* qend = v + l;
        const uint8_t* b;
        size_t bl;
        if (get_tlv(&q, qend, &tag, &b, &bl) || tag != 0x30) {
            return -1;
        }
        q = b;
        qend = b + bl;
        if (get_tlv(&q, qend, &tag, &r->oid, &r->oid_len) || tag != 0x06) {
            return -1;
        }
        if (get_tlv(&q, qend, &r->value_tag, &r->value, &r->value_len)) {
            return -1;
        }
    }
    return 0;
}

/* ---- the run ------------------------------------------------------------------------------ */

static int cmp_u64(const void* a, const void* b) {
    uint64_t x = *(const uint64_t*)a, y = *(const uint64_t*)b;
    return (x > y) - (x < y);
}

static double percentile_us(const uint64_t* sorted, size_t n, double q) {
    if (n == 0) {
        return 0.0;
    }
    size_t i = (size_t)(q * (double)(n - 1) + 0.5);
    return (double)sorted[i] / 1000.0;
}

/* One request and its reply, outside the measured run: reads the value of oids[0]. */
static int read_value(int fd, int timeout_ms) {
    struct slot s = {0};
    uint8_t out[MAX_MSG], in[MAX_MSG];
    enum workload saved = cfg.workload;
    cfg.workload = W_GET;
    size_t n = build_request(out, &s, 0x7fff0001, 0);
    cfg.workload = saved;
    for (int attempt = 0; attempt < 3; attempt++) {
        if (send(fd, out, n, 0) < 0) {
            return -1;
        }
        struct pollfd pfd = {.fd = fd, .events = POLLIN};
        while (poll(&pfd, 1, timeout_ms) > 0) {
            ssize_t got = recv(fd, in, sizeof in, 0);
            struct reply r;
            if (got > 0 && parse_reply(in, (size_t)got, &r) == 0 && r.tag == 0xa2 &&
                r.request_id == 0x7fff0001 && r.error_status == 0 && r.value_tag == 0x04 &&
                r.value_len <= sizeof cfg.value) {
                memcpy(cfg.value, r.value, r.value_len);
                cfg.value_len = r.value_len;
                return 0;
            }
        }
    }
    return -1;
}

int main(int argc, char** argv) {
    const char* address = NULL;
    const char* workload = NULL;
    char* oid_list = NULL;
    long inflight = 1, limit = 0, timeout_ms = 1000, pause_ms = 0;
    char* watch_list = NULL;
    double seconds = 0;
    int quiet = 0;
    cfg.community = "kestrl";
    cfg.bindings = 25;
    int opt;
    while ((opt = getopt(argc, argv, "a:w:o:c:j:n:s:t:b:Eqp:C:")) != -1) {
        switch (opt) {
        case 'a': address = optarg; break;
        case 'w': workload = optarg; break;
        case 'o': oid_list = optarg; break;
        case 'c': cfg.community = optarg; break;
        case 'j': inflight = strtol(optarg, NULL, 10); break;
        case 'n': limit = strtol(optarg, NULL, 10); break;
        case 's': seconds = strtod(optarg, NULL); break;
        case 't': timeout_ms = strtol(optarg, NULL, 10); break;
        case 'b': cfg.bindings = (size_t)strtoul(optarg, NULL, 10); break;
        case 'E': cfg.echo = 1; break;
        case 'q': quiet = 1; break;
        case 'p': pause_ms = strtol(optarg, NULL, 10); break;
        case 'C': watch_list = optarg; break;
        default: die("usage: loadgen -a HOST:PORT -w WORKLOAD -o OID[,OID...] [-c COMMUNITY] "
                     "[-j INFLIGHT] [-n N] [-s SECONDS] [-t TIMEOUT_MS] [-b BINDINGS] [-E] [-q] "
                     "[-p PAUSE_MS] [-C PID[,PID...]]");
        }
    }
    if (!address || !workload || (!oid_list && strcmp(workload, "idle") != 0)) {
        die("-a, -w and -o are required (-o not for idle)");
    }
    if (strcmp(workload, "get") == 0) {
        cfg.workload = W_GET;
    } else if (strcmp(workload, "walk") == 0) {
        cfg.workload = W_WALK;
    } else if (strcmp(workload, "getN") == 0) {
        cfg.workload = W_GETN;
    } else if (strcmp(workload, "set-same") == 0) {
        cfg.workload = W_SET_SAME;
    } else if (strcmp(workload, "set-change") == 0) {
        cfg.workload = W_SET_CHANGE;
    } else if (strcmp(workload, "idle") == 0) {
        cfg.workload = W_IDLE;
    } else {
        die("workload: get, walk, getN, set-same, set-change or idle");
    }
    if (inflight < 1 || inflight > MAX_INFLIGHT || timeout_ms < 1 || cfg.bindings < 1 ||
        cfg.bindings > MAX_BINDINGS || strlen(cfg.community) > 64) {
        die("-j 1..64, -t at least 1, -b 1..64, a community of at most 64 bytes");
    }
    if (pause_ms < 0 || pause_ms > 60000 || (pause_ms > 0 && inflight != 1)) {
        die("-p 0..60000, and only with -j 1");
    }
    if (cfg.workload == W_IDLE && seconds <= 0) {
        die("idle lasts -s seconds");
    }
    for (char* tok = watch_list ? strtok(watch_list, ",") : NULL; tok; tok = strtok(NULL, ",")) {
        char* end;
        errno = 0;
        long pid = strtol(tok, &end, 10);
        if (*end || errno || pid <= 0 || watched.n == MAX_WATCHED ||
            clock_getcpuclockid((pid_t)pid, &watched.clocks[watched.n]) != 0) {
            die("-C: process ids of running processes (at most 8)");
        }
        watched.n++;
    }
    if (limit <= 0 && seconds <= 0) {
        seconds = 5;
    }
    for (char* tok = oid_list ? strtok(oid_list, ",") : NULL; tok; tok = strtok(NULL, ",")) {
        if (cfg.n_oids == MAX_BINDINGS || parse_oid(tok, &cfg.oids[cfg.n_oids]) != 0) {
            die("bad OID list");
        }
        cfg.n_oids++;
    }
    if (cfg.n_oids == 0 && cfg.workload != W_IDLE) {
        die("no OID");
    }

    char host[64];
    const char* colon = strrchr(address, ':');
    if (!colon || (size_t)(colon - address) >= sizeof host) {
        die("address: HOST:PORT");
    }
    memcpy(host, address, (size_t)(colon - address));
    host[colon - address] = '\0';
    struct sockaddr_in to = {.sin_family = AF_INET, .sin_port = htons((uint16_t)atoi(colon + 1))};
    if (inet_pton(AF_INET, host, &to.sin_addr) != 1) {
        die("address: an IPv4 address");
    }
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    /* Connected: the kernel drops datagrams from anyone else. */
    if (fd < 0 || connect(fd, (struct sockaddr*)&to, sizeof to) != 0) {
        die("socket");
    }

    if (cfg.workload == W_SET_SAME || cfg.workload == W_SET_CHANGE) {
        if (cfg.echo) {
            memcpy(cfg.value, "bench", 5);
            cfg.value_len = 5;
        } else if (read_value(fd, (int)timeout_ms) != 0) {
            die("could not read the OCTET STRING value to set");
        }
        /* The other value differs from the stored one in its last byte (or is one byte long). */
        memcpy(cfg.other_value, cfg.value, cfg.value_len);
        cfg.other_value_len = cfg.value_len;
        if (cfg.other_value_len == 0) {
            cfg.other_value[cfg.other_value_len++] = 'x';
        } else {
            uint8_t* last = &cfg.other_value[cfg.other_value_len - 1];
            *last = (*last == 'x') ? 'y' : 'x';
        }
    }

    struct slot slots[MAX_INFLIGHT];
    memset(slots, 0, sizeof slots);
    size_t rtt_cap = 1 << 16, rtt_n = 0;
    uint64_t* rtt = malloc(rtt_cap * sizeof *rtt);
    if (!rtt) {
        die("out of memory");
    }
    uint64_t sent = 0, answered = 0, errors = 0, lost = 0, stray = 0, malformed = 0;
    int32_t next_id = 1;
    uint64_t pause_ns = (uint64_t)pause_ms * 1000000u;
    if (pause_ns > 0 && (cfg.workload == W_SET_SAME || cfg.workload == W_SET_CHANGE)) {
        /* Whatever the read of the value set off is over before the first request. */
        sleep_until(now_ns() + pause_ns);
    }
    uint64_t cpu_before[MAX_WATCHED], cpu_after[MAX_WATCHED];
    read_watched(cpu_before);
    uint64_t start = now_ns();
    uint64_t stop_at = seconds > 0 ? start + (uint64_t)(seconds * 1e9) : UINT64_MAX;
    uint64_t timeout = (uint64_t)timeout_ms * 1000000u;
    uint8_t out[MAX_MSG], in[MAX_MSG];
    for (long i = 0; i < inflight; i++) {
        slots[i].walk_at = cfg.oids[0];
    }

    while (cfg.workload != W_IDLE) {
        uint64_t now = now_ns();
        int may_send = now < stop_at && (limit <= 0 || (long)sent < limit);
        int busy = 0;
        uint64_t earliest = UINT64_MAX;
        for (long i = 0; i < inflight; i++) {
            struct slot* s = &slots[i];
            if (s->busy && now - s->sent_ns >= timeout) {
                s->busy = 0;
                s->ready_ns = now + pause_ns;
                lost++;
            }
            int to_send = may_send && (limit <= 0 || (long)sent < limit);
            if (!s->busy && to_send && now >= s->ready_ns) {
                int32_t id = next_id;
                next_id = next_id == 0x7fff0000 ? 1 : next_id + 1;
                size_t n = build_request(out, s, id, sent);
                s->request_id = id;
                s->sent_ns = now_ns();
                s->busy = 1;
                sent++;
                if (send(fd, out, n, 0) < 0 && errno != ECONNREFUSED) {
                    perror("loadgen: send");
                    return 2;
                }
            }
            if (s->busy) {
                busy = 1;
                if (s->sent_ns + timeout < earliest) {
                    earliest = s->sent_ns + timeout;
                }
            } else if (to_send && s->ready_ns < earliest) {
                earliest = s->ready_ns; /* pausing before its next request (-p) */
            }
        }
        if (!busy && earliest == UINT64_MAX) {
            break;
        }
        now = now_ns();
        int wait_ms = earliest > now ? (int)((earliest - now) / 1000000u) + 1 : 0;
        struct pollfd pfd = {.fd = fd, .events = POLLIN};
        if (poll(&pfd, 1, wait_ms) <= 0) {
            continue;
        }
        ssize_t got = recv(fd, in, sizeof in, 0);
        uint64_t arrived = now_ns();
        if (got < 0) {
            continue; /* ECONNREFUSED from an ICMP error: the request stays in flight */
        }
        struct reply r;
        if (parse_reply(in, (size_t)got, &r) != 0) {
            malformed++;
            continue;
        }
        struct slot* s = NULL;
        for (long i = 0; i < inflight; i++) {
            if (slots[i].busy && slots[i].request_id == r.request_id) {
                s = &slots[i];
                break;
            }
        }
        if (!s) {
            stray++;
            continue;
        }
        int echoed = cfg.echo && r.tag == s->pdu_tag;
        if (r.tag != 0xa2 && !echoed) {
            malformed++;
            continue;
        }
        s->busy = 0;
        s->ready_ns = arrived + pause_ns;
        answered++;
        if (rtt_n == rtt_cap) {
            rtt_cap *= 2;
            rtt = realloc(rtt, rtt_cap * sizeof *rtt);
            if (!rtt) {
                die("out of memory");
            }
        }
        rtt[rtt_n++] = arrived - s->sent_ns;
        if (echoed) {
            continue;
        }
        if (cfg.workload == W_WALK) {
            /* Inside the table: go on from the returned name; else start the table again. */
            const struct oid* table = &cfg.oids[0];
            if (r.error_status == 0 && r.oid && r.oid_len > table->len &&
                r.oid_len <= MAX_OID && memcmp(r.oid, table->bytes, table->len) == 0) {
                memcpy(s->walk_at.bytes, r.oid, r.oid_len);
                s->walk_at.len = r.oid_len;
            } else {
                if (r.error_status != 0 && r.error_status != 2) {
                    errors++;
                }
                s->walk_at = *table;
            }
        } else if (r.error_status != 0) {
            errors++;
        }
    }
    if (cfg.workload == W_IDLE) {
        sleep_until(stop_at);
    } else if (pause_ns > 0) {
        /* The last request gets its pause too. */
        uint64_t last = 0;
        for (long i = 0; i < inflight; i++) {
            last = slots[i].ready_ns > last ? slots[i].ready_ns : last;
        }
        sleep_until(last);
    }
    read_watched(cpu_after);
    double elapsed = (double)(now_ns() - start) / 1e9;

    /* With one request in flight, all answered without error and an even number sent, the last
     * one set the value read at the start back already. */
    int restored_already = inflight == 1 && lost == 0 && errors == 0 && sent % 2 == 0;
    if (cfg.workload == W_SET_CHANGE && !cfg.echo && !restored_already) {
        /* Leave the agent holding the value it had. */
        struct slot s = {0};
        size_t n = build_request(out, &s, 0x7fff0002, 1);
        for (int attempt = 0; attempt < 3; attempt++) {
            if (send(fd, out, n, 0) < 0) {
                break;
            }
            struct pollfd pfd = {.fd = fd, .events = POLLIN};
            int restored = 0;
            while (!restored && poll(&pfd, 1, (int)timeout_ms) > 0) {
                ssize_t got = recv(fd, in, sizeof in, 0);
                struct reply r;
                restored = got > 0 && parse_reply(in, (size_t)got, &r) == 0 &&
                           r.request_id == 0x7fff0002;
            }
            if (restored) {
                break;
            }
        }
    }

    qsort(rtt, rtt_n, sizeof *rtt, cmp_u64);
    if (!quiet) {
        printf("workload=%s inflight=%ld sent=%llu answered=%llu errors=%llu lost=%llu "
               "stray=%llu malformed=%llu seconds=%.3f rate=%.1f p50_us=%.1f p99_us=%.1f "
               "max_us=%.1f",
               workload, inflight, (unsigned long long)sent, (unsigned long long)answered,
               (unsigned long long)errors, (unsigned long long)lost, (unsigned long long)stray,
               (unsigned long long)malformed, elapsed, elapsed > 0 ? (double)answered / elapsed : 0,
               percentile_us(rtt, rtt_n, 0.50), percentile_us(rtt, rtt_n, 0.99),
               rtt_n ? (double)rtt[rtt_n - 1] / 1000.0 : 0.0);
        if (pause_ns > 0) {
            printf(" pause_ms=%ld", pause_ms);
        }
        for (size_t i = 0; i < watched.n; i++) {
            printf("%s%llu", i ? "," : " cpu_ns=",
                   (unsigned long long)(cpu_after[i] - cpu_before[i]));
        }
        printf("\n");
    }
    free(rtt);
    close(fd);
    return 0;
}
