/* echo_peer: the Bluetooth peer's side of ferryd in a few lines of C. Every message received on
 * the serial line (an RFCOMM tty such as /dev/rfcomm0) is sent back.
 * Usage: echo_peer TTY [SPEED [COUNT]]   (COUNT: stop after that many messages)
 * Build: cc echo_peer.c $(pkg-config --cflags --libs libferry) */
#include <errno.h>
#include <ferry.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: %s TTY [SPEED [COUNT]]\n", argv[0]);
    return 2;
  }
  long speed = argc > 2 ? atol(argv[2]) : 115200;
  long count = argc > 3 ? atol(argv[3]) : -1;
  ferry_port* port;
  int rc = ferry_port_new(FERRY_KIND_SERIAL, 0, &port);
  if (rc < 0) {
    fprintf(stderr, "echo_peer: %s\n", ferry_strerror(rc));
    return 1;
  }
  if (ferry_port_open(port, argv[1], speed) < 0) {
    fprintf(stderr, "echo_peer: %s\n", ferry_port_error(port));
    ferry_port_free(port);
    return 1;
  }
  fprintf(stderr, "echo_peer: open at %s\n", argv[1]);
  long echoed = 0;
  while (count < 0 || echoed < count) {
    const uint8_t* data;
    size_t length;
    int id = ferry_port_recv(port, &data, &length, -1);
    if (id == -EPIPE) break;
    if (id >= 0) id = ferry_port_send(port, data, length, id, -1);
    if (id < 0) {
      fprintf(stderr, "echo_peer: %s\n", ferry_port_error(port));
      ferry_port_free(port);
      return 1;
    }
    ++echoed;
  }
  struct ferry_counters k;
  ferry_codec_counters(ferry_port_codec(port), &k, sizeof k);
  fprintf(stderr, "echo_peer: %ld messages echoed, %llu bad frames\n", echoed,
          (unsigned long long)k.dropped[FERRY_DROP_BAD_FCS]);
  ferry_port_free(port);
  return 0;
}
