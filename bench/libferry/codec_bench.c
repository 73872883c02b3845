/* ferry_codec_bench: the libferry codec's speed through its C API, MB/s of message payload for
 * encoding and decoding 1,000-byte messages, serial kind (segments of 256) and datagram kind
 * (1024). Rounds of encoding and decoding alternate (interleaved, so a slow phase of the machine
 * hits both); each figure is the median of the rounds with their range. Every decoded message is
 * compared with the one sent. --json prints the figures as one JSON object instead.
 * Usage: ferry_codec_bench [--json] [ROUNDS [MESSAGES]] */
#include <ferry.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

enum { kLength = 1000 };

static double now(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec + (double)t.tv_nsec / 1e9;
}

static int compare(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return x < y ? -1 : x > y;
}

struct figures {
  double encode[3], decode[3]; /* median, min, max */
};

static void summarise(double* mbs, int rounds, double out[3]) {
  qsort(mbs, (size_t)rounds, sizeof *mbs, compare);
  out[0] = mbs[rounds / 2];
  out[1] = mbs[0];
  out[2] = mbs[rounds - 1];
}

/* Encodes count messages back to back into line; returns its length (0 on failure). */
static size_t encodeAll(ferry_codec* c, const uint8_t* msgs, int count, uint8_t* line,
                        size_t capacity) {
  size_t at = 0;
  for (int i = 0; i < count; ++i) {
    size_t n;
    if (ferry_codec_encode(c, msgs + (size_t)i * kLength, kLength, FERRY_ID_AUTO, line + at,
                           capacity - at, &n) < 0)
      return 0;
    at += n;
  }
  return at;
}

/* Decodes the line (serial) or its datagrams; returns the messages that matched. */
static int decodeAll(ferry_codec* c, int kind, const uint8_t* line, size_t length,
                     const uint8_t* msgs, uint8_t* out, size_t capacity, struct ferry_event* ev,
                     size_t maxEvents) {
  int good = 0;
  size_t at = 0;
  while (at < length) {
    size_t used, span = length - at;
    if (kind == FERRY_KIND_DATAGRAM) span = 5 + (size_t)(line[at + 3] | line[at + 4] << 8);
    int n = ferry_codec_decode(c, line + at, span, &used, out, capacity, ev, maxEvents, sizeof *ev);
    if (n < 0) return -1;
    for (int i = 0; i < n; ++i)
      good += ev[i].type == FERRY_EVENT_MESSAGE && ev[i].length == kLength &&
              memcmp(ev[i].data, msgs + (size_t)good * kLength, kLength) == 0;
    at += used;
  }
  return good;
}

static int measure(int kind, int segmentSize, int rounds, int count, struct figures* f) {
  uint8_t* msgs = malloc((size_t)count * kLength);
  ferry_codec *tx, *rx;
  ferry_codec_new(kind, segmentSize, &tx);
  ferry_codec_new(kind, 0, &rx);
  size_t capacity = (size_t)count * ferry_codec_encoded_size(tx, kLength);
  uint8_t* line = malloc(capacity);
  uint8_t* out = malloc((size_t)count * kLength);
  struct ferry_event* ev = malloc((size_t)count * sizeof *ev);
  double* enc = malloc((size_t)rounds * sizeof *enc);
  double* dec = malloc((size_t)rounds * sizeof *dec);
  unsigned x = 12345;
  for (size_t i = 0; i < (size_t)count * kLength; ++i) {
    x = x * 1103515245u + 12345u;
    msgs[i] = (uint8_t)(x >> 16); /* random bytes: 3 in 256 are escaped on the serial line */
  }
  double mb = (double)count * kLength / 1e6;
  int ok = 1;
  for (int r = 0; r < rounds && ok; ++r) {
    double t = now();
    size_t length = encodeAll(tx, msgs, count, line, capacity);
    enc[r] = mb / (now() - t);
    t = now();
    int good =
        decodeAll(rx, kind, line, length, msgs, out, (size_t)count * kLength, ev, (size_t)count);
    dec[r] = mb / (now() - t);
    if (length == 0 || good != count) {
      fprintf(stderr, "ferry_codec_bench: round %d: %d of %d messages came back\n", r, good, count);
      ok = 0;
    }
  }
  if (ok) {
    summarise(enc, rounds, f->encode);
    summarise(dec, rounds, f->decode);
  }
  ferry_codec_free(tx);
  ferry_codec_free(rx);
  free(msgs), free(line), free(out), free(ev), free(enc), free(dec);
  return ok;
}

int main(int argc, char** argv) {
  int json = argc > 1 && strcmp(argv[1], "--json") == 0;
  int rounds = argc > 1 + json ? atoi(argv[1 + json]) : 9;
  int count = argc > 2 + json ? atoi(argv[2 + json]) : 5000;
  if (rounds < 1 || count < 1) {
    fprintf(stderr, "usage: ferry_codec_bench [--json] [ROUNDS [MESSAGES]]\n");
    return 2;
  }
  static const struct {
    const char* name;
    int kind, size;
  } cases[] = {{"serial-256", FERRY_KIND_SERIAL, 256},
               {"datagram-1024", FERRY_KIND_DATAGRAM, 1024}};
  if (!json)
    printf(
        "libferry %s, C API: MB/s of payload, %d-byte messages, median [range] of %d rounds of "
        "%d\n| case | encode | decode |\n|---|---|---|\n",
        ferry_version(NULL, NULL, NULL), kLength, rounds, count);
  else
    printf("{");
  for (int i = 0; i < 2; ++i) {
    struct figures f;
    if (!measure(cases[i].kind, cases[i].size, rounds, count, &f)) return 1;
    if (json)
      printf("%s\"%s\": {\"encode\": [%.1f, %.1f, %.1f], \"decode\": [%.1f, %.1f, %.1f]}",
             i ? ", " : "", cases[i].name, f.encode[0], f.encode[1], f.encode[2], f.decode[0],
             f.decode[1], f.decode[2]);
    else
      printf("| %s | %.1f [%.1f-%.1f] | %.1f [%.1f-%.1f] |\n", cases[i].name, f.encode[0],
             f.encode[1], f.encode[2], f.decode[0], f.decode[1], f.decode[2]);
  }
  if (json) printf("}\n");
  return 0;
}
