/* A minimal host program for dcrelay in C, with dcrelay_host.h and the C library only.
 *
 * It binds its window (a datagram socket, or a stream socket with --stream), starts the relay
 * of an installation with its own handle, answers every request from a small table of
 * replies, and closes the relay when its standard input ends (or says "close") or when it
 * gets SIGINT or SIGTERM. Each event is printed as one JSON line.
 *
 *     dcrelay_host_example [--stream] [--exchange DIR] [--reply MNEMONIC=TEXT ...]
 *                          INSTALLATION/dcrelay
 *
 * docs/host-protocol.md describes the protocol this follows.
 */
#include "dcrelay_host.h"

#include <iconv.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <time.h>

#define MAX_REPLIES 40

/* Request files of these four operations are empty: a reply rule for one of their names
 * answers them under that name. */
static const char* const kEmptyRequestNames[] = {"KHKH", "PYKH", "ZKMD", "XJJZ"};

static const char* reply_mnemonic[MAX_REPLIES];
static const char* reply_text[MAX_REPLIES];
static int replies;
static volatile sig_atomic_t closing;

static void on_signal(int sig) {
    (void)sig;
    closing = 1;
}

/* `in` converted from one encoding to another into `out` (NUL-ended); bytes that do not
 * convert are left out. */
static void convert(const char* to, const char* from, const char* in, size_t size, char* out,
                    size_t room) {
    iconv_t cd = iconv_open(to, from);
    char* src = (char*)in;
    char* dst = out;
    size_t left = room - 1;
    while (cd != (iconv_t)-1 && size > 0 && iconv(cd, &src, &size, &dst, &left) == (size_t)-1 &&
           errno == EILSEQ) {
        ++src; /* skip a byte that is not text in that encoding */
        --size;
    }
    if (cd != (iconv_t)-1) {
        iconv_close(cd);
    }
    *dst = '\0';
}

/* `text` (UTF-8) as a JSON string. */
static void json_string(const char* text) {
    putchar('"');
    for (const unsigned char* c = (const unsigned char*)text; *c != '\0'; ++c) {
        if (*c == '"' || *c == '\\') {
            printf("\\%c", *c);
        } else if (*c < 0x20) {
            printf("\\u%04x", *c);
        } else {
            putchar(*c);
        }
    }
    putchar('"');
}

static void trim(char* s) {
    size_t n = strlen(s);
    while (n > 0 && (s[n - 1] == ' ' || s[n - 1] == '\r' || s[n - 1] == '\n')) {
        s[--n] = '\0';
    }
    size_t start = strspn(s, " ");
    memmove(s, s + start, n - start + 1);
}

static const char* reply_for(const char* mnemonic) {
    for (int i = 0; i < replies; ++i) {
        if (strcmp(reply_mnemonic[i], mnemonic) == 0) {
            return reply_text[i];
        }
    }
    return NULL;
}

/* Reads T1.txt, writes R1.TXT whole (a temporary file renamed into place) and posts
 * reply-ready. */
static void answer(struct dcr_host* host, const char* exchange) {
    char path[4200], temporary[4300], request[8192], utf8[24576], header[16] = "";
    snprintf(path, sizeof path, "%s/R1.TXT", exchange);
    unlink(path); /* the relay is done with the previous reply */
    snprintf(temporary, sizeof temporary, "%s/T1.txt", exchange);
    FILE* f = fopen(temporary, "rb");
    size_t size = f != NULL ? fread(request, 1, sizeof request - 1, f) : 0;
    if (f != NULL) {
        fclose(f);
    }
    request[size] = '\0';
    convert("UTF-8", "GBK", request, size, utf8, sizeof utf8);
    char mnemonic[6] = "", handheld[16] = "";
    size_t line = strcspn(request, "\r\n");
    snprintf(mnemonic, sizeof mnemonic, "%.*s", (int)(line < 5 ? line : 5), request);
    if (line > 5) {
        snprintf(handheld, sizeof handheld, "%.*s", (int)(line - 5), request + 5);
    }
    trim(mnemonic);
    trim(handheld);
    printf("{\"event\": \"request\", \"mnemonic\": ");
    json_string(mnemonic);
    printf(", \"handheld\": ");
    json_string(handheld);
    printf(", \"text\": ");
    json_string(utf8);
    printf("}\n");

    const char* name = strcmp(mnemonic, "YDKT") == 0 ? "QCJE" : mnemonic;
    const char* text = reply_for(mnemonic);
    for (size_t i = 0; mnemonic[0] == '\0' && i < 4; ++i) {
        if ((text = reply_for(kEmptyRequestNames[i])) != NULL) {
            name = kEmptyRequestNames[i];
            break;
        }
    }
    char reply[8192] = "";
    if (name[0] != '\0') {
        /* An empty handheld field marks success; the plain number would mark a refusal. */
        snprintf(header, sizeof header, "%-5s\r\n", name);
        char gbk[4096];
        const char* body = text != NULL ? text : "OK";
        convert("GBK", "UTF-8", body, strlen(body), gbk, sizeof gbk);
        snprintf(reply, sizeof reply, "%s%s\r\n", header, gbk);
    } /* else empty: the relay answers "成功" under operation 0 */
    snprintf(temporary, sizeof temporary, "%s.tmp", path);
    f = fopen(temporary, "wb");
    if (f == NULL || fwrite(reply, 1, strlen(reply), f) != strlen(reply) || fclose(f) != 0 ||
        rename(temporary, path) != 0) {
        printf("{\"event\": \"error\", \"message\": \"cannot write R1.TXT\"}\n");
        return;
    }
    dcr_host_post(host, DCR_REPLY_READY);
    printf("{\"event\": \"replied\", \"mnemonic\": ");
    json_string(mnemonic);
    printf(", \"size\": %zu}\n", strlen(reply));
}

/* The relay's exit status within `ms` milliseconds, or -1. */
static int wait_relay(pid_t relay, int ms) {
    for (int waited = 0;; waited += 10) {
        int status = 0;
        if (waitpid(relay, &status, WNOHANG) == relay) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (waited >= ms) {
            return -1;
        }
        struct timespec pause = {0, 10 * 1000 * 1000};
        nanosleep(&pause, NULL);
    }
}

int main(int argc, char** argv) {
    enum dcr_carrier carrier = DCR_DATAGRAM;
    const char* exchange = NULL;
    int i = 1;
    for (; i < argc && strncmp(argv[i], "--", 2) == 0; ++i) {
        if (strcmp(argv[i], "--stream") == 0) {
            carrier = DCR_STREAM;
        } else if (strcmp(argv[i], "--exchange") == 0 && i + 1 < argc) {
            exchange = argv[++i];
        } else if (strcmp(argv[i], "--reply") == 0 && i + 1 < argc && replies < MAX_REPLIES &&
                   strchr(argv[i + 1], '=') != NULL) {
            char* rule = argv[++i];
            *strchr(rule, '=') = '\0';
            reply_mnemonic[replies] = rule;
            reply_text[replies++] = rule + strlen(rule) + 1;
        } else {
            break;
        }
    }
    if (i + 1 != argc) {
        fprintf(stderr,
                "usage: %s [--stream] [--exchange DIR] [--reply MNEMONIC=TEXT ...] "
                "INSTALLATION/dcrelay\n",
                argv[0]);
        return 2;
    }
    /* The relay is started by an absolute path containing '/' (its link, not resolved), so
     * that the installation is its program directory; it runs in the exchange directory. */
    char relay_path[4096], exchange_dir[4096], cwd[4096] = "";
    if (argv[i][0] != '/' && getcwd(cwd, sizeof cwd) == NULL) {
        return 1;
    }
    snprintf(relay_path, sizeof relay_path, "%s%s%s", cwd, cwd[0] != '\0' ? "/" : "", argv[i]);
    snprintf(exchange_dir, sizeof exchange_dir, "%s", exchange != NULL ? exchange : relay_path);
    if (exchange == NULL) {
        *strrchr(exchange_dir, '/') = '\0';
    }
    setvbuf(stdout, NULL, _IOLBF, 0);

    struct dcr_host host;
    if (dcr_host_open(&host, carrier, (unsigned)getpid()) != 0) {
        perror("dcrelay_host_example: binding the window");
        return 1;
    }
    static const char* const stale[] = {"T1.txt", "R1.TXT"};
    for (size_t k = 0; k < 2; ++k) { /* never let the relay read an old reply */
        char path[4200];
        snprintf(path, sizeof path, "%s/%s", exchange_dir, stale[k]);
        unlink(path);
    }
    pid_t relay = fork();
    if (relay == 0) {
        char handle[16];
        snprintf(handle, sizeof handle, "%u", host.handle);
        if (chdir(exchange_dir) == 0) {
            execl(relay_path, relay_path, handle, (char*)NULL);
        }
        _exit(127);
    }
    printf("{\"event\": \"started\", \"handle\": %u, \"relay_pid\": %d, \"runtime_dir\": ",
           host.handle, (int)relay);
    json_string(host.runtime);
    printf("}\n");

    signal(SIGINT, on_signal);
    signal(SIGTERM, on_signal);
    int status = -1;
    int input_open = 1;
    while (!closing && (status = wait_relay(relay, 0)) < 0) {
        struct pollfd fds[2] = {{dcr_host_fd(&host), POLLIN, 0}, {input_open ? 0 : -1, POLLIN, 0}};
        if (poll(fds, 2, 200) <= 0) {
            continue;
        }
        struct dcr_message m;
        if ((fds[0].revents & POLLIN) && dcr_host_receive(&host, &m) == 1) {
            if (dcr_is_notification(&m)) {
                answer(&host, exchange_dir);
            } else if (dcr_is_announcement(&m)) {
                printf("{\"event\": \"announced\", \"relay_handle\": %u}\n", m.first);
            }
        }
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char input[256];
            ssize_t n = read(0, input, sizeof input - 1);
            input[n > 0 ? n : 0] = '\0';
            if (n <= 0) {
                input_open = 0;
                closing = n == 0 ? 1 : closing;
            } else if (strstr(input, "close") != NULL) {
                closing = 1;
            }
        }
    }
    int terminated = 0;
    if (status < 0) {
        if (host.relay != 0) {
            dcr_host_post(&host, DCR_CLOSE);
        }
        if ((status = wait_relay(relay, 10000)) < 0) { /* it did not take the message */
            terminated = 1;
            kill(relay, SIGTERM);
            status = wait_relay(relay, 60000);
        }
    }
    dcr_host_close(&host);
    printf("{\"event\": \"closed\", \"status\": %d, \"terminated\": %s}\n", status,
           terminated ? "true" : "false");
    return status;
}
