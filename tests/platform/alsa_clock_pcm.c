/* A playback PCM type for ALSA ("vzclock") that consumes frames in real time
 * without a sound card: its position follows the monotonic clock from the start,
 * it underruns when the clock passes the frames written, and a timer wakes its
 * pollers once a period. The audio tests load it through an ALSA configuration
 * of their own to run the ALSA output the way a sound card drives it. */
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <errno.h>
#include <poll.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

typedef struct {
  snd_pcm_ioplug_t io;
  int timer_fd;
  int running;
  struct timespec started;
  uint64_t written; /* frames taken since the last prepare */
} ClockPcm;

static uint64_t frames_since_start(const ClockPcm* c) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  int64_t ns =
      (int64_t)(now.tv_sec - c->started.tv_sec) * 1000000000 + (now.tv_nsec - c->started.tv_nsec);
  return (uint64_t)ns * c->io.rate / 1000000000u;
}

static void set_timer(ClockPcm* c, long interval_ns) {
  struct itimerspec t = {{0, interval_ns}, {0, interval_ns}};
  timerfd_settime(c->timer_fd, 0, &t, NULL);
}

static int clock_start(snd_pcm_ioplug_t* io) {
  ClockPcm* c = io->private_data;
  clock_gettime(CLOCK_MONOTONIC, &c->started);
  c->running = 1;
  set_timer(c, (long)((uint64_t)io->period_size * 1000000000u / io->rate));
  return 0;
}

static int clock_stop(snd_pcm_ioplug_t* io) {
  ClockPcm* c = io->private_data;
  c->running = 0;
  set_timer(c, 0);
  return 0;
}

static int clock_prepare(snd_pcm_ioplug_t* io) {
  ClockPcm* c = io->private_data;
  c->running = 0;
  c->written = 0;
  set_timer(c, 0);
  return 0;
}

static snd_pcm_sframes_t clock_pointer(snd_pcm_ioplug_t* io) {
  ClockPcm* c = io->private_data;
  if (!c->running) return 0;
  uint64_t played = frames_since_start(c);
  if (played > c->written) return -EPIPE;
  return (snd_pcm_sframes_t)(played % io->buffer_size);
}

static snd_pcm_sframes_t clock_transfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas,
                                        snd_pcm_uframes_t offset, snd_pcm_uframes_t size) {
  ClockPcm* c = io->private_data;
  (void)areas;
  (void)offset;
  c->written += size;
  return (snd_pcm_sframes_t)size;
}

static int clock_poll_revents(snd_pcm_ioplug_t* io, struct pollfd* fds, unsigned int count,
                              unsigned short* revents) {
  ClockPcm* c = io->private_data;
  uint64_t ticks;
  *revents = 0;
  if (count == 1 && (fds[0].revents & POLLIN) && read(c->timer_fd, &ticks, sizeof ticks) > 0)
    *revents = POLLOUT;
  return 0;
}

static int clock_close(snd_pcm_ioplug_t* io) {
  ClockPcm* c = io->private_data;
  close(c->timer_fd);
  free(c);
  return 0;
}

static const snd_pcm_ioplug_callback_t kClockCallbacks = {
    .start = clock_start,
    .stop = clock_stop,
    .pointer = clock_pointer,
    .transfer = clock_transfer,
    .close = clock_close,
    .prepare = clock_prepare,
    .poll_revents = clock_poll_revents,
};

SND_PCM_PLUGIN_DEFINE_FUNC(vzclock) {
  (void)root;
  (void)conf;
  if (stream != SND_PCM_STREAM_PLAYBACK) return -EINVAL;
  ClockPcm* c = calloc(1, sizeof *c);
  if (c == NULL) return -ENOMEM;
  c->timer_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
  if (c->timer_fd < 0) {
    free(c);
    return -errno;
  }
  c->io.version = SND_PCM_IOPLUG_VERSION;
  c->io.name = "virazav test clock PCM";
  c->io.callback = &kClockCallbacks;
  c->io.private_data = c;
  c->io.poll_fd = c->timer_fd;
  c->io.poll_events = POLLIN;
  int err = snd_pcm_ioplug_create(&c->io, name, stream, mode);
  if (err < 0) {
    close(c->timer_fd);
    free(c);
    return err;
  }
  static const unsigned int kAccess[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
  static const unsigned int kFormat[] = {SND_PCM_FORMAT_S16_LE};
  snd_pcm_ioplug_set_param_list(&c->io, SND_PCM_IOPLUG_HW_ACCESS, 1, kAccess);
  snd_pcm_ioplug_set_param_list(&c->io, SND_PCM_IOPLUG_HW_FORMAT, 1, kFormat);
  snd_pcm_ioplug_set_param_minmax(&c->io, SND_PCM_IOPLUG_HW_CHANNELS, 1, 1);
  snd_pcm_ioplug_set_param_minmax(&c->io, SND_PCM_IOPLUG_HW_RATE, 8000, 8000);
  snd_pcm_ioplug_set_param_minmax(&c->io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 65536);
  snd_pcm_ioplug_set_param_minmax(&c->io, SND_PCM_IOPLUG_HW_PERIODS, 2, 64);
  *pcmp = c->io.pcm;
  return 0;
}

SND_PCM_PLUGIN_SYMBOL(vzclock);
