/* The smallest CGI program that mails a form, the floor for a one-mail
 * request: it reads the form body, sends it as one mail in one lock-step
 * SMTP conversation to 127.0.0.1 on the port that QUERY_STRING names
 * (greeting, HELO, MAIL FROM, RCPT TO, DATA, the whole mail and its end
 * mark in one write, QUIT) and prints a fixed page. Every reply is waited
 * for and checked; any failure prints a page without "Thank you", which the
 * benchmark counts as a failed run. Linked statically. */
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

static const char kPage[] =
    "Content-type: text/html\r\n\r\n"
    "<HTML>\r\n<HEAD><TITLE>Thank you</TITLE></HEAD>\r\n<BODY>\r\n"
    "<H1>Thank you</H1>\r\n"
    "<P>Your message has been received. We will answer you soon.</P>\r\n"
    "</BODY>\r\n</HTML>\r\n";

static void Fail(const char* what) {
  printf("Content-type: text/plain\r\n\r\nmail failed: %s\r\n", what);
  exit(0);
}

static int WriteAll(int fd, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = write(fd, data, size);
    if (n <= 0) return 0;
    data += n;
    size -= (size_t)n;
  }
  return 1;
}

/* Reads one whole reply (its last line has a space after the code) and
 * returns its code, or -1. */
static int ReadReply(int fd) {
  char reply[4096];
  size_t size = 0;
  for (;;) {
    ssize_t n = read(fd, reply + size, sizeof reply - 1 - size);
    if (n <= 0) return -1;
    size += (size_t)n;
    reply[size] = '\0';
    if (size < 2 || reply[size - 2] != '\r' || reply[size - 1] != '\n') {
      if (size == sizeof reply - 1) return -1;
      continue;
    }
    size_t last = size - 2;
    while (last > 0 && reply[last - 1] != '\n') --last;
    if (size - last >= 6 && reply[last + 3] == '-') continue;
    return atoi(reply + last);
  }
}

static void Command(int fd, const char* command, int expected) {
  if (!WriteAll(fd, command, strlen(command)) || ReadReply(fd) != expected) Fail(command);
}

int main(void) {
  const char* length = getenv("CONTENT_LENGTH");
  long size = length ? strtol(length, NULL, 10) : 0;
  if (size < 0 || size > 65536) Fail("body size");
  static char body[65536];
  long got = 0;
  while (got < size) {
    ssize_t n = read(0, body + got, (size_t)(size - got));
    if (n <= 0) break;
    got += n;
  }

  const char* port = getenv("QUERY_STRING");
  struct sockaddr_in server = {.sin_family = AF_INET,
                               .sin_port = htons((unsigned short)atoi(port ? port : "25")),
                               .sin_addr.s_addr = htonl(INADDR_LOOPBACK)};
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) Fail("socket");
  int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  if (connect(fd, (struct sockaddr*)&server, sizeof server) != 0) Fail("connect");
  if (ReadReply(fd) != 220) Fail("greeting");

  char host[256] = "localhost";
  gethostname(host, sizeof host - 1);
  char helo[300];
  snprintf(helo, sizeof helo, "HELO %s\r\n", host);
  Command(fd, helo, 250);
  Command(fd, "MAIL FROM:<webform@localhost>\r\n", 250);
  Command(fd, "RCPT TO:<sales@example.com>\r\n", 250);
  Command(fd, "DATA\r\n", 354);

  static char mail[65536 + 512];
  int head = snprintf(mail, 512,
                      "From: webform@localhost\r\nTo: sales@example.com\r\n"
                      "Subject: Contact form\r\n\r\n");
  memcpy(mail + head, body, (size_t)got);
  memcpy(mail + head + got, "\r\n.\r\n", 5);
  if (!WriteAll(fd, mail, (size_t)(head + got + 5)) || ReadReply(fd) != 250) Fail("mail text");
  Command(fd, "QUIT\r\n", 221);
  close(fd);
  return WriteAll(1, kPage, sizeof kPage - 1) ? 0 : 1;
}
