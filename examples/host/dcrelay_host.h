/* dcrelay_host.h: the host program's end of dcrelay's message link, for C and C++, in one
 * header and nothing beyond the C library (docs/host-protocol.md describes the protocol).
 *
 * The host binds its window, a datagram socket or a listening stream socket, at
 * <runtime dir>/win-<handle>, starts the relay with its handle as argument 1, and then waits
 * on dcr_host_fd() for the relay's messages: the start-up announcement, and one notification
 * for each request file. It answers with dcr_host_post(): reply-ready (1) after writing
 * R1.TXT, closing (13) when it shuts down.
 *
 *     struct dcr_host host;
 *     if (dcr_host_open(&host, DCR_STREAM, getpid()) != 0) ... errno says why
 *     ... start the relay with the handle ...
 *     poll dcr_host_fd(&host) for input, then:
 *     struct dcr_message m;
 *     if (dcr_host_receive(&host, &m) == 1 && dcr_is_notification(&m)) ... answer ...
 *     dcr_host_post(&host, DCR_REPLY_READY);
 *     dcr_host_close(&host);
 *
 * It uses GNU extensions of the C library (SO_PEERCRED, accept4): in C, include it before any
 * other header, or define _GNU_SOURCE first (g++ always does).
 */
#ifndef DCRELAY_HOST_H
#define DCRELAY_HOST_H

#ifndef _GNU_SOURCE
#define _GNU_SOURCE
#endif

#include <errno.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/un.h>
#include <unistd.h>

#define DCR_MESSAGE 0x500u  /* the one message number, both directions */
#define DCR_REPLY_READY 1   /* host -> relay: R1.TXT is ready */
#define DCR_SHOW_WINDOW 12  /* host -> relay: show the relay's window */
#define DCR_CLOSE 13        /* host -> relay: the host closes; the relay ends */
#define DCR_MESSAGE_SIZE 12 /* little-endian: number, first, second */

enum dcr_carrier { DCR_DATAGRAM, DCR_STREAM };

struct dcr_message {
    uint32_t first;
    int32_t second; /* the code */
};

struct dcr_host {
    enum dcr_carrier carrier;
    unsigned handle; /* our window's handle */
    unsigned relay;  /* the relay's handle, from its announcement; 0 before it */
    int fd;          /* the datagram socket, or the stream listener */
    int conn;        /* stream: the relay's connection, -1 while there is none */
    unsigned char in[DCR_MESSAGE_SIZE];
    size_t have; /* stream: bytes of the message being read */
    char runtime[96];
    struct sockaddr_un addr; /* our window */
};

static inline void dcr_put32(unsigned char* p, uint32_t v) {
    p[0] = (unsigned char)v;
    p[1] = (unsigned char)(v >> 8);
    p[2] = (unsigned char)(v >> 16);
    p[3] = (unsigned char)(v >> 24);
}

static inline uint32_t dcr_get32(const unsigned char* p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static inline void dcr_encode(const struct dcr_message* m, unsigned char out[DCR_MESSAGE_SIZE]) {
    dcr_put32(out, DCR_MESSAGE);
    dcr_put32(out + 4, m->first);
    dcr_put32(out + 8, (uint32_t)m->second);
}

/* 1 when the 12 bytes hold a message; messages of another number are to be ignored. */
static inline int dcr_decode(const unsigned char in[DCR_MESSAGE_SIZE], struct dcr_message* m) {
    if (dcr_get32(in) != DCR_MESSAGE) {
        return 0;
    }
    m->first = dcr_get32(in + 4);
    m->second = (int32_t)dcr_get32(in + 8);
    return 1;
}

/* The relay's notification: the request file T1.txt is ready to be read. */
static inline int dcr_is_notification(const struct dcr_message* m) {
    return m->first == 1 && m->second == 1;
}

/* The relay's start-up announcement: its own handle in both parameters. */
static inline int dcr_is_announcement(const struct dcr_message* m) {
    return !dcr_is_notification(m) && m->first == (uint32_t)m->second;
}

/* The runtime directory, created with mode 0700 when missing: $DCRELAY_RUNTIME_DIR, else
 * $XDG_RUNTIME_DIR/dcrelay, else /tmp/dcrelay-<uid>; no final '/'. 0, or -1 with errno. */
static inline int dcr_runtime_dir(char* out, size_t size) {
    const char* own = getenv("DCRELAY_RUNTIME_DIR");
    const char* xdg = getenv("XDG_RUNTIME_DIR");
    int n;
    if (own != NULL && *own != '\0') {
        n = snprintf(out, size, "%s", own);
    } else if (xdg != NULL && *xdg != '\0') {
        n = snprintf(out, size, "%s/dcrelay", xdg);
    } else {
        n = snprintf(out, size, "/tmp/dcrelay-%u", (unsigned)getuid());
    }
    if (n < 0 || (size_t)n >= size) {
        errno = ENAMETOOLONG;
        return -1;
    }
    while (n > 1 && out[n - 1] == '/') {
        out[--n] = '\0';
    }
    if (mkdir(out, 0700) != 0 && errno != EEXIST) {
        return -1;
    }
    return 0;
}

/* The address of window `handle` in the runtime directory. 0, or -1 with errno. */
static inline int dcr_window_address(const char* runtime, unsigned handle,
                                     struct sockaddr_un* addr) {
    memset(addr, 0, sizeof *addr);
    addr->sun_family = AF_UNIX;
    int n = snprintf(addr->sun_path, sizeof addr->sun_path, "%s/win-%u", runtime, handle);
    if (n < 0 || (size_t)n >= sizeof addr->sun_path) {
        errno = ENAMETOOLONG;
        return -1;
    }
    return 0;
}

/* Binds our window. A file left at its path by an earlier process is replaced. 0, or -1 with
 * errno. */
static inline int dcr_host_open(struct dcr_host* h, enum dcr_carrier carrier, unsigned handle) {
    memset(h, 0, sizeof *h);
    h->carrier = carrier;
    h->handle = handle;
    h->fd = -1;
    h->conn = -1;
    if (dcr_runtime_dir(h->runtime, sizeof h->runtime) != 0 ||
        dcr_window_address(h->runtime, handle, &h->addr) != 0) {
        return -1;
    }
    unlink(h->addr.sun_path);
    h->fd = socket(AF_UNIX, (carrier == DCR_STREAM ? SOCK_STREAM : SOCK_DGRAM) | SOCK_CLOEXEC, 0);
    if (h->fd < 0 || bind(h->fd, (const struct sockaddr*)&h->addr, sizeof h->addr) != 0 ||
        (carrier == DCR_STREAM && listen(h->fd, 4) != 0)) {
        int error = errno;
        if (h->fd >= 0) {
            close(h->fd);
            h->fd = -1;
        }
        errno = error;
        return -1;
    }
    return 0;
}

/* The descriptor to wait on for input: the relay's connection once it is there. */
static inline int dcr_host_fd(const struct dcr_host* h) {
    return h->conn >= 0 ? h->conn : h->fd;
}

/* Call when dcr_host_fd() is readable. 1: a message is in *m (an announcement also sets
 * h->relay); 0: nothing whole yet (a connection was taken, part of a message arrived, or a
 * message of another number was skipped); -1: the relay's connection has ended. A stream is
 * read exactly 12 bytes per message, across as many reads as it takes. */
static inline int dcr_host_receive(struct dcr_host* h, struct dcr_message* m) {
    ssize_t n;
    if (h->carrier == DCR_DATAGRAM) {
        unsigned char in[DCR_MESSAGE_SIZE + 1];
        n = recv(h->fd, in, sizeof in, MSG_DONTWAIT);
        if (n != DCR_MESSAGE_SIZE || !dcr_decode(in, m)) {
            return 0;
        }
    } else if (h->conn < 0) {
        /* The relay connects once; only a peer of our own user is taken. */
        int conn = accept4(h->fd, NULL, NULL, SOCK_CLOEXEC);
        struct ucred cred;
        socklen_t length = sizeof cred;
        if (conn >= 0 && getsockopt(conn, SOL_SOCKET, SO_PEERCRED, &cred, &length) == 0 &&
            cred.uid == getuid()) {
            h->conn = conn;
            h->have = 0;
        } else if (conn >= 0) {
            close(conn);
        }
        return 0;
    } else {
        n = recv(h->conn, h->in + h->have, DCR_MESSAGE_SIZE - h->have, MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
            return 0;
        }
        if (n <= 0) {
            close(h->conn);
            h->conn = -1;
            return -1;
        }
        h->have += (size_t)n;
        if (h->have < DCR_MESSAGE_SIZE) {
            return 0;
        }
        h->have = 0;
        if (!dcr_decode(h->in, m)) {
            return 0;
        }
    }
    if (dcr_is_announcement(m)) {
        h->relay = m->first;
    }
    return 1;
}

/* Posts `code` to the relay (known from its announcement), our handle as first parameter.
 * 0, or -1 with errno; a message that cannot be delivered is lost, as the relay's are. */
static inline int dcr_host_post(struct dcr_host* h, int32_t code) {
    unsigned char out[DCR_MESSAGE_SIZE];
    struct dcr_message m = {h->handle, code};
    dcr_encode(&m, out);
    if (h->carrier == DCR_STREAM) {
        if (h->conn < 0) {
            errno = ENOTCONN;
            return -1;
        }
        /* Twelve bytes go whole onto a Unix stream. */
        return send(h->conn, out, sizeof out, MSG_NOSIGNAL) == (ssize_t)sizeof out ? 0 : -1;
    }
    struct sockaddr_un to;
    if (h->relay == 0) {
        errno = ENOTCONN;
        return -1;
    }
    if (dcr_window_address(h->runtime, h->relay, &to) != 0) {
        return -1;
    }
    return sendto(h->fd, out, sizeof out, MSG_DONTWAIT | MSG_NOSIGNAL, (const struct sockaddr*)&to,
                  sizeof to) == (ssize_t)sizeof out
               ? 0
               : -1;
}

/* Closes the window and removes its file (only after the relay has ended). */
static inline void dcr_host_close(struct dcr_host* h) {
    if (h->conn >= 0) {
        close(h->conn);
        h->conn = -1;
    }
    if (h->fd >= 0) {
        close(h->fd);
        h->fd = -1;
        unlink(h->addr.sun_path);
    }
}

#endif /* DCRELAY_HOST_H */
