// How many threads a video decoder runs. The process's decoders share the machine's cores:
// each decoder that opens takes an even share of them among the decoders then open, out of
// what others have not taken, so that FFmpeg's threads in all never outnumber the cores. A
// share below two is one: that decoder decodes on its port's worker and starts no thread.
// A share is fixed for the decoder's life; those opened earlier keep theirs.
//
// Thread-safe: the process-wide count has its own leaf lock.
#ifndef KESTRAVA_PLAYCTRL_DECODERTHREADS_H
#define KESTRAVA_PLAYCTRL_DECODERTHREADS_H

namespace playctrl {

class DecoderThreads {
  public:
    DecoderThreads() = default;
    ~DecoderThreads() { release(); }
    DecoderThreads(DecoderThreads &&other) noexcept : threads_(other.threads_) {
        other.threads_ = 0;
    }
    DecoderThreads &operator=(DecoderThreads &&other) noexcept;
    DecoderThreads(const DecoderThreads &) = delete;
    DecoderThreads &operator=(const DecoderThreads &) = delete;

    // Takes this decoder's share, giving back one held before; the thread count for FFmpeg.
    int take();
    void release();

    // The machine's cores, or KESTRAVA_ENGINE_CORES where a test sets it.
    static int cores();

  private:
    int threads_ = 0; // 0: no share held
};

} // namespace playctrl

#endif
