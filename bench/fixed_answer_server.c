/* A minimal blocking HTTP server for the proxy benchmark: one thread per connection, every request
 * (GET, no body) answered 200 with a fixed JSON body of the size given, kept alive. It is the ceiling a
 * mock is measured against and the upstream a large pass-through is measured through.
 * Usage: fixed_answer_server BODY_BYTES; prints "PORT=<n>" once it listens on 127.0.0.1. */
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static char *answer;
static size_t answerSize;

static void *serve(void *arg)
{
    int fd = (int)(long)arg, one = 1;
    char buffer[16384];
    size_t held = 0;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    for (;;) {
        ssize_t n = read(fd, buffer + held, sizeof buffer - held - 1);
        if (n <= 0)
            break;
        held += (size_t)n;
        buffer[held] = '\0';
        char *end;
        while ((end = strstr(buffer, "\r\n\r\n")) != NULL) { /* every whole request head, pipelined or not */
            size_t sent = 0;
            while (sent < answerSize) {
                ssize_t w = write(fd, answer + sent, answerSize - sent);
                if (w <= 0)
                    goto done;
                sent += (size_t)w;
            }
            held -= (size_t)(end + 4 - buffer);
            memmove(buffer, end + 4, held + 1);
        }
        if (held == sizeof buffer - 1)
            break; /* a head this long is not one of ours */
    }
done:
    close(fd);
    return NULL;
}

int main(int argc, char **argv)
{
    size_t bodySize = argc > 1 ? strtoul(argv[1], NULL, 10) : 64;
    char head[128];
    int headSize = snprintf(head, sizeof head,
                            "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: %zu\r\n\r\n", bodySize);
    answerSize = (size_t)headSize + bodySize;
    answer = malloc(answerSize);
    memcpy(answer, head, (size_t)headSize);
    memset(answer + headSize, ' ', bodySize); /* {"d":"<blanks>"}: a JSON object of the size asked */
    if (bodySize >= 8) {
        memcpy(answer + headSize, "{\"d\":\"", 6);
        memcpy(answer + answerSize - 2, "\"}", 2);
    }
    signal(SIGPIPE, SIG_IGN);
    int listener = socket(AF_INET, SOCK_STREAM, 0), one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    struct sockaddr_in address = {.sin_family = AF_INET, .sin_addr.s_addr = htonl(INADDR_LOOPBACK)};
    socklen_t length = sizeof address;
    if (bind(listener, (struct sockaddr *)&address, sizeof address) != 0 || listen(listener, 512) != 0
        || getsockname(listener, (struct sockaddr *)&address, &length) != 0)
        return 1;
    printf("PORT=%d\n", ntohs(address.sin_port));
    fflush(stdout);
    for (;;) {
        int fd = accept(listener, NULL, NULL);
        pthread_t thread;
        if (fd >= 0 && pthread_create(&thread, NULL, serve, (void *)(long)fd) == 0)
            pthread_detach(thread);
        else if (fd >= 0)
            close(fd);
    }
}
