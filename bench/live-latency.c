/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Click-to-click latency of a live voice path, from REFERENCE (what the
 * program records) to each SOURCE (where it plays), by one client on one clock.
 *
 *   cc -O2 -o live-latency bench/live-latency.c $(pkg-config --cflags --libs libpulse) -lm
 *   ./live-latency [-c CLICKS] [-i INTERVAL_MS] FEED_SINK REFERENCE LABEL=SOURCE...
 *   ./live-latency --header
 *
 * Plays into FEED_SINK (22050 Hz mono s16le) a second of silence, CLICKS
 * (default 100) single-sample impulses of 20000 INTERVAL_MS apart (default
 * 300) and 1.5 s of silence, while it records REFERENCE and each SOURCE, each
 * on a connection of its own, in 10 ms fragments. A click is a sample of at
 * least 5000 more than 5 ms after the last one.
 *
 * Dating. A recording runs at 22050 Hz by the monotonic clock (null sinks
 * are clocked by it), so its sample s was there at T + s/22050 for some T,
 * and every fragment read at time a that ends before sample e bounds T from
 * above by a - e/22050: the reads that came soonest bound it tightest. A
 * click is dated by the tightest bound among the fragments of the 2 s before
 * it, and the same among those of the 2 s after it; by the later of the two,
 * in case the recording lost or gained samples in between. That is when a
 * client could first have had the click, which for a virtual microphone is
 * what whoever records it gets, as if samples came one by one (a block
 * handed out whole dates its samples back from its end). Late wake-ups of
 * this process only loosen bounds: one prompt read each side is enough.
 *
 * libpulse's timing dates each click too, for the last column: right after
 * pa_stream_peek(), now less pa_stream_get_latency() is the fragment's first
 * sample by the stream's clock, interpolated from the server's write index,
 * the source's latency and the transport time. For a monitor that clock
 * counts from when the sink plays a sample out, which a null sink does only
 * after it has handed it to recorders, and pipewire-pulse's figures can
 * wander by several ms within a run: libpulse's dates came out up to 13 ms
 * after the samples had reached this client, differently for each stream.
 *
 * Pairing: a target click goes with the reference click that came at most
 * 5/6 of INTERVAL_MS before it, or at most INTERVAL_MS/6 after it (so
 * latencies up to 250 ms by default; lengthen INTERVAL_MS for a slower
 * path), in order. A reference click
 * without one is missing; a further one, or one that belongs to none, is
 * extra. A slip is two consecutive clicks that are further apart or closer
 * in the target than in the reference by over 1% of INTERVAL_MS: samples
 * lost or added between them (a loopback that resamples to hold its latency
 * stays well within that).
 *
 * One line per SOURCE: clicks played, found in the reference, paired,
 * missing, extra, slips; median, 95th percentile (nearest rank), minimum
 * and maximum latency in ms; median by libpulse's timing. Exit status 1
 * when a stream fails. */
#include <pulse/pulseaudio.h>

#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define RATE 22050
#define MS(samples) ((double)(samples) * 1000.0 / RATE)

struct recording {
    const char *label, *source;
    long long samples, last_click, *click_at, *fragment_end;
    double earliest, *click_pulse, *fragment_read; /* ms of the monotonic clock */
    int clicks, fragments, capacity, holes;
};

static pa_sample_spec spec = {PA_SAMPLE_S16LE, RATE, 1};
static pa_mainloop *loop;
static struct recording recs[8];
static int nrecs, nready, clicks = 100, interval_ms = 300;
static const char *feed_sink;
static long long played, to_play, gap;
static double drained_at;

static double now_ms(void)
{
    return (double)pa_rtclock_now() / 1000.0;
}

static void fail(const char *what, pa_context *c)
{
    fprintf(stderr, "live-latency: %s: %s\n", what, pa_strerror(pa_context_errno(c)));
    pa_mainloop_quit(loop, 1);
}

/* Ends the run once every recording has caught up with the end of the
 * clicks' stream, or 5 s after it when one never does. */
static void end_when_all_in(void)
{
    int behind = 0;
    for (int i = 0; i < nrecs; i++) {
        behind += recs[i].earliest + MS(recs[i].samples) < drained_at;
    }
    if (drained_at > 0 && (!behind || now_ms() > drained_at + 5000)) {
        pa_mainloop_quit(loop, 0);
    }
}

static void on_read(pa_stream *s, size_t bytes, void *userdata)
{
    (void)bytes;
    struct recording *r = userdata;
    const void *data;
    size_t n;
    while (pa_stream_peek(s, &data, &n) == 0 && n > 0) {
        double now = now_ms();
        pa_usec_t latency;
        int negative = 0;
        double first = NAN;
        if (pa_stream_get_latency(s, &latency, &negative) == 0) {
            first = now - (negative ? -1.0 : 1.0) * (double)latency / 1000.0;
        }
        const int16_t *x = data;
        for (size_t i = 0; x && i < n / 2; i++) {
            long long at = r->samples + (long long)i;
            if (abs(x[i]) >= 5000 && at - r->last_click > RATE / 200 && r->clicks < 4 * clicks + 16) {
                r->last_click = r->click_at[r->clicks] = at;
                r->click_pulse[r->clicks++] = first + MS(i);
            }
        }
        r->holes += x == NULL;
        r->samples += (long long)(n / 2);
        pa_stream_drop(s);
        if (r->fragments == r->capacity) {
            r->capacity = 2 * r->capacity + 4096;
            r->fragment_end = realloc(r->fragment_end, (size_t)r->capacity * sizeof(long long));
            r->fragment_read = realloc(r->fragment_read, (size_t)r->capacity * sizeof(double));
        }
        r->fragment_end[r->fragments] = r->samples;
        r->fragment_read[r->fragments++] = now;
        r->earliest = fmin(r->earliest, now - MS(r->samples));
    }
    end_when_all_in();
}

static void on_drained(pa_stream *s, int success, void *userdata)
{
    (void)s;
    (void)success;
    (void)userdata;
    drained_at = now_ms();
    end_when_all_in();
}

static void on_write(pa_stream *s, size_t bytes, void *userdata)
{
    (void)userdata;
    size_t n = bytes / 2 < (size_t)(to_play - played) ? bytes / 2 : (size_t)(to_play - played);
    if (n == 0) {
        return;
    }
    int16_t *block = calloc(n, 2);
    for (size_t i = 0; i < n; i++) {
        long long p = played + (long long)i - RATE;
        block[i] = p >= 0 && p % gap == 0 && p / gap < clicks ? 20000 : 0;
    }
    pa_stream_write(s, block, n * 2, free, 0, PA_SEEK_RELATIVE);
    played += (long long)n;
    if (played == to_play) {
        pa_stream_set_write_callback(s, NULL, NULL);
        pa_operation_unref(pa_stream_drain(s, on_drained, NULL));
    }
}

static void on_player_state(pa_stream *s, void *userdata)
{
    (void)userdata;
    if (pa_stream_get_state(s) == PA_STREAM_FAILED) {
        fail(feed_sink, pa_stream_get_context(s));
    }
}

static void on_record_state(pa_stream *s, void *userdata)
{
    struct recording *r = userdata;
    if (pa_stream_get_state(s) == PA_STREAM_FAILED) {
        fail(r->source, pa_stream_get_context(s));
    } else if (pa_stream_get_state(s) == PA_STREAM_READY && ++nready == nrecs) {
        /* Everything records: start the clicks. */
        pa_stream *player = pa_stream_new(pa_stream_get_context(s), "clicks", &spec, NULL);
        pa_buffer_attr attr = {(uint32_t)-1, (uint32_t)pa_usec_to_bytes(40 * PA_USEC_PER_MSEC, &spec), (uint32_t)-1,
                               (uint32_t)-1, (uint32_t)-1};
        pa_stream_set_state_callback(player, on_player_state, NULL);
        pa_stream_set_write_callback(player, on_write, NULL);
        if (pa_stream_connect_playback(player, feed_sink, &attr, PA_STREAM_ADJUST_LATENCY, NULL, NULL) < 0) {
            fail(feed_sink, pa_stream_get_context(s));
        }
    }
}

static void on_context(pa_context *c, void *userdata)
{
    struct recording *r = userdata;
    if (pa_context_get_state(c) == PA_CONTEXT_READY) {
        pa_buffer_attr attr = {(uint32_t)-1, (uint32_t)-1, (uint32_t)-1, (uint32_t)-1,
                               (uint32_t)pa_usec_to_bytes(10 * PA_USEC_PER_MSEC, &spec)};
        pa_stream *s = pa_stream_new(c, r->label, &spec, NULL);
        pa_stream_set_state_callback(s, on_record_state, r);
        pa_stream_set_read_callback(s, on_read, r);
        if (pa_stream_connect_record(s, r->source, &attr,
                                     PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                         PA_STREAM_INTERPOLATE_TIMING) < 0) {
            fail(r->source, c);
        }
    } else if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(c))) {
        fail("no connection to the sound server", c);
    }
}

/* The earliest time R could have had its sample S (see the top). */
static double date(const struct recording *r, long long s)
{
    double before = INFINITY, after = INFINITY;
    for (int f = 0; f < r->fragments; f++) {
        long long from_s = r->fragment_end[f] - s;
        double bound = r->fragment_read[f] - MS(from_s);
        if (from_s >= -2 * RATE && from_s <= RATE / 10) {
            before = fmin(before, bound);
        }
        if (from_s >= 0 && from_s <= 2 * RATE) {
            after = fmin(after, bound);
        }
    }
    return fmax(before, after);
}

static int by_value(const void *a, const void *b)
{
    double x = *(const double *)a, y = *(const double *)b;
    return (x > y) - (x < y);
}

static double median(double *v, int n)
{
    qsort(v, (size_t)n, sizeof *v, by_value);
    return n == 0 ? NAN : n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

static void report(const struct recording *ref, const struct recording *target)
{
    int paired = 0, timed = 0, extra = 0, slips = 0, k = 0;
    int *partner = malloc(((size_t)ref->clicks + 1) * sizeof(int));
    double *ref_at = calloc((size_t)ref->clicks + 1, sizeof(double));
    double *lat = calloc((size_t)target->clicks + 1, sizeof(double));
    double *pulse = calloc((size_t)target->clicks + 1, sizeof(double));
    for (int i = 0; i < ref->clicks; i++) {
        partner[i] = -1;
        ref_at[i] = date(ref, ref->click_at[i]);
    }
    for (int j = 0; j < target->clicks; j++) {
        double t = date(target, target->click_at[j]);
        while (k < ref->clicks && ref_at[k] < t - interval_ms * 5.0 / 6) {
            k++;
        }
        if (k == ref->clicks || ref_at[k] > t + interval_ms / 6.0 || partner[k] >= 0) {
            extra++;
            continue;
        }
        partner[k] = j;
        lat[paired++] = t - ref_at[k];
        if (isfinite(target->click_pulse[j] - ref->click_pulse[k])) {
            pulse[timed++] = target->click_pulse[j] - ref->click_pulse[k];
        }
    }
    for (k = 0; k + 1 < ref->clicks; k++) {
        if (partner[k] >= 0 && partner[k + 1] >= 0) {
            long long apart = target->click_at[partner[k + 1]] - target->click_at[partner[k]];
            slips += llabs(apart - (ref->click_at[k + 1] - ref->click_at[k])) > gap / 100;
        }
    }
    double mid = median(lat, paired);
    printf("%-28s %6d %4d %4d %4d %5d %5d %7.1f %7.1f %7.1f %7.1f %8.1f\n", target->label, clicks, ref->clicks, paired,
           ref->clicks - paired, extra, slips, mid, paired ? lat[(int)ceil(0.95 * paired) - 1] : NAN,
           paired ? lat[0] : NAN, paired ? lat[paired - 1] : NAN, median(pulse, timed));
    if (ref->holes || target->holes) {
        printf("    (data the server dropped: %d times in the reference, %d in the target)\n", ref->holes, target->holes);
    }
    free(partner);
    free(ref_at);
    free(lat);
    free(pulse);
}

int main(int argc, char **argv)
{
    if (argc == 2 && strcmp(argv[1], "--header") == 0) {
        printf("%-28s %6s %4s %4s %4s %5s %5s %7s %7s %7s %7s %8s\n", "target (latency in ms)", "clicks", "ref", "got",
               "miss", "extra", "slips", "median", "p95", "min", "max", "libpulse");
        return 0;
    }
    int i = 1;
    for (; i + 1 < argc && (strcmp(argv[i], "-c") == 0 || strcmp(argv[i], "-i") == 0); i += 2) {
        *(argv[i][1] == 'c' ? &clicks : &interval_ms) = atoi(argv[i + 1]);
    }
    if (argc - i < 3 || argc - i > 9 || clicks < 1 || interval_ms < 30) {
        fprintf(stderr, "usage: %s [-c CLICKS] [-i INTERVAL_MS] FEED_SINK REFERENCE LABEL=SOURCE...\n", argv[0]);
        return 2;
    }
    feed_sink = argv[i++];
    recs[0].label = recs[0].source = argv[i++];
    for (nrecs = 1; i < argc; i++, nrecs++) {
        char *eq = strrchr(argv[i], '=');
        recs[nrecs].label = argv[i];
        recs[nrecs].source = eq ? (*eq = 0, eq + 1) : argv[i];
    }
    for (int r = 0; r < nrecs; r++) {
        recs[r].click_at = calloc((size_t)(4 * clicks + 16), sizeof(long long));
        recs[r].click_pulse = calloc((size_t)(4 * clicks + 16), sizeof(double));
        recs[r].last_click = -RATE;
        recs[r].earliest = INFINITY;
    }
    gap = (long long)interval_ms * RATE / 1000;
    to_play = RATE + clicks * gap + 3 * RATE / 2;

    /* A connection per recording: pipewire-pulse 0.3.65 hands a client's
     * second stream on the same source its data in bursts of a second. */
    loop = pa_mainloop_new();
    pa_context *contexts[8];
    int status = 1;
    for (int r = 0; r < nrecs; r++) {
        contexts[r] = pa_context_new(pa_mainloop_get_api(loop), "live-latency");
        pa_context_set_state_callback(contexts[r], on_context, &recs[r]);
        if (pa_context_connect(contexts[r], NULL, PA_CONTEXT_NOAUTOSPAWN, NULL) < 0) {
            fail("no connection to the sound server", contexts[r]);
        }
    }
    pa_mainloop_run(loop, &status);
    for (int r = 0; r < nrecs; r++) {
        if (status == 0 && r > 0) {
            report(&recs[0], &recs[r]);
        }
        pa_context_set_state_callback(contexts[r], NULL, NULL);
        pa_context_disconnect(contexts[r]);
        pa_context_unref(contexts[r]);
    }
    pa_mainloop_free(loop);
    return status;
}
