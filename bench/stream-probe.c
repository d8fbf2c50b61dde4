/* SPDX-License-Identifier: GPL-3.0-or-later */
/* What the sound server grants a playback stream that asks for the buffer
 * the wave-out layer asks for, and how it asks for data.
 *
 *   cc -O2 -o stream-probe bench/stream-probe.c $(pkg-config --cflags --libs libpulse)
 *   ./stream-probe [TLENGTH_MS MINREQ_MS PREBUF_MS EARLY SECONDS]
 *
 * Defaults: 250 20 -1 1 3 (PREBUF_MS -1: the server's choice; EARLY 1:
 * PA_STREAM_EARLY_REQUESTS, 2: PA_STREAM_ADJUST_LATENCY, 0: neither).
 * Plays SECONDS of a ramp, 22050 Hz mono s16le, on the default sink,
 * writing only what the server asks for, and prints the attributes asked
 * for and granted, the first 40 write requests (time since ready, bytes,
 * what the timing info says is queued) and every underflow. */
#include <pulse/pulseaudio.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static pa_sample_spec spec = {PA_SAMPLE_S16LE, 22050, 1};
static pa_usec_t ready_at;
static size_t written, total;
static int requests, underflows;
static pa_mainloop *loop;
static pa_stream *stream;

static double since_ready(void)
{
    return (double)(pa_rtclock_now() - ready_at) / 1000.0;
}

static void queued_info(pa_stream *s, long *queued, long *sink_ms)
{
    const pa_timing_info *t = pa_stream_get_timing_info(s);
    *queued = -1;
    *sink_ms = -1;
    if (t && !t->write_index_corrupt && !t->read_index_corrupt) {
        *queued = (long)(t->write_index - t->read_index);
        *sink_ms = (long)(t->sink_usec / 1000);
    }
}

static void on_write(pa_stream *s, size_t bytes, void *userdata)
{
    (void)userdata;
    long queued, sink_ms;
    queued_info(s, &queued, &sink_ms);
    if (requests < 40) {
        printf("request %2d at %8.1f ms: %6zu bytes (queued by last timing info %ld, sink %ld ms)\n", requests,
               since_ready(), bytes, queued, sink_ms);
    }
    requests++;
    size_t n = bytes;
    if (n > total - written) {
        n = total - written;
    }
    n -= n % 2;
    if (n == 0) {
        return;
    }
    int16_t *buffer = malloc(n);
    for (size_t i = 0; i < n / 2; i++) {
        buffer[i] = (int16_t)(1000 + ((written / 2 + i) * 7) % 20000);
    }
    pa_stream_write(s, buffer, n, free, 0, PA_SEEK_RELATIVE);
    written += n;
    if (written == total) {
        pa_operation_unref(pa_stream_trigger(s, NULL, NULL));
    }
}

static void on_underflow(pa_stream *s, void *userdata)
{
    (void)s;
    (void)userdata;
    underflows++;
    printf("UNDERFLOW at %8.1f ms, %zu of %zu bytes written\n", since_ready(), written, total);
}

static void on_started(pa_stream *s, void *userdata)
{
    (void)s;
    (void)userdata;
    printf("started at %8.1f ms, %zu bytes written\n", since_ready(), written);
}

static void on_drained(pa_stream *s, int success, void *userdata)
{
    (void)s;
    (void)userdata;
    printf("drained (%d) at %8.1f ms; %d requests, %d underflows\n", success, since_ready(), requests, underflows);
    pa_mainloop_quit(loop, 0);
}

static void on_state(pa_stream *s, void *userdata)
{
    (void)userdata;
    if (pa_stream_get_state(s) == PA_STREAM_READY) {
        ready_at = pa_rtclock_now();
        const pa_buffer_attr *a = pa_stream_get_buffer_attr(s);
        printf("granted: maxlength %u tlength %u (%.1f ms) prebuf %u (%.1f ms) minreq %u (%.1f ms)\n", a->maxlength,
               a->tlength, pa_bytes_to_usec(a->tlength, &spec) / 1000.0, a->prebuf,
               pa_bytes_to_usec(a->prebuf, &spec) / 1000.0, a->minreq, pa_bytes_to_usec(a->minreq, &spec) / 1000.0);
        printf("writable at ready: %zu bytes\n", pa_stream_writable_size(s));
    } else if (!PA_STREAM_IS_GOOD(pa_stream_get_state(s))) {
        printf("stream failed\n");
        pa_mainloop_quit(loop, 1);
    }
}

static void on_context(pa_context *c, void *userdata)
{
    int *argv_ms = userdata;
    if (pa_context_get_state(c) == PA_CONTEXT_READY) {
        pa_stream *s = stream = pa_stream_new(c, "probe", &spec, NULL);
        pa_buffer_attr attr;
        attr.maxlength = (uint32_t)-1;
        attr.tlength = (uint32_t)pa_usec_to_bytes((pa_usec_t)argv_ms[0] * 1000, &spec);
        attr.minreq = (uint32_t)pa_usec_to_bytes((pa_usec_t)argv_ms[1] * 1000, &spec);
        attr.prebuf = argv_ms[2] < 0 ? (uint32_t)-1 : (uint32_t)pa_usec_to_bytes((pa_usec_t)argv_ms[2] * 1000, &spec);
        attr.fragsize = (uint32_t)-1;
        printf("asked:   tlength %u minreq %u prebuf %d flags %s\n", attr.tlength, attr.minreq, (int)attr.prebuf,
               argv_ms[3] == 1   ? "EARLY_REQUESTS"
               : argv_ms[3] == 2 ? "ADJUST_LATENCY"
                                 : "none");
        pa_stream_flags_t flags = PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_INTERPOLATE_TIMING;
        if (argv_ms[3] == 1) {
            flags |= PA_STREAM_EARLY_REQUESTS;
        } else if (argv_ms[3] == 2) {
            flags |= PA_STREAM_ADJUST_LATENCY;
        }
        pa_stream_set_state_callback(s, on_state, NULL);
        pa_stream_set_write_callback(s, on_write, NULL);
        pa_stream_set_underflow_callback(s, on_underflow, NULL);
        pa_stream_set_started_callback(s, on_started, NULL);
        pa_stream_connect_playback(s, NULL, &attr, flags, NULL, NULL);
    } else if (!PA_CONTEXT_IS_GOOD(pa_context_get_state(c))) {
        printf("no connection\n");
        pa_mainloop_quit(loop, 1);
    }
}

int main(int argc, char **argv)
{
    int values[5] = {250, 20, -1, 1, 3};
    for (int i = 1; i < argc && i <= 5; i++) {
        values[i - 1] = atoi(argv[i]);
    }
    total = (size_t)values[4] * 22050 * 2;
    loop = pa_mainloop_new();
    pa_mainloop_api *api = pa_mainloop_get_api(loop);
    pa_context *c = pa_context_new(api, "stream-probe");
    pa_context_set_state_callback(c, on_context, values);
    pa_context_connect(c, NULL, PA_CONTEXT_NOAUTOSPAWN, NULL);
    int ret = 0;
    int draining = 0;
    while (pa_mainloop_iterate(loop, 1, &ret) >= 0) {
        if (!draining && stream && total && written == total) {
            pa_operation_unref(pa_stream_drain(stream, on_drained, NULL));
            draining = 1;
        }
    }
    printf("done: %d requests, %d underflows\n", requests, underflows);
    pa_context_disconnect(c);
    pa_context_unref(c);
    pa_mainloop_free(loop);
    return ret;
}
